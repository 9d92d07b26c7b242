// Odd files around the sound library: special files never block, and a
// failed import keeps what was there and says why.

#include "common/TestMain.h"
#include "files/SafeFile.h"
#include "sounds/SoundLibrary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

class TestSoundFaults : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    static void Write(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

private Q_SLOTS:
    void init() { ::alarm(60); } // a blocking open fails the test instead of hanging CI
    void cleanup()
    {
        ::alarm(0);
        SafeFile::InjectWriteFailure(0);
    }

    void specialFilesAreNotListed()
    {
        const QString sounds = m_dir.filePath(QStringLiteral("Sounds/"));
        Write(sounds + QStringLiteral("real.wav"), "RIFF");
        QCOMPARE(::mkfifo(QFile::encodeName(sounds + QStringLiteral("pipe.wav")).constData(), 0600),
                 0);
        QCOMPARE(ScanSoundsFolder(sounds), QStringList{QStringLiteral("real.wav")});
    }

    void importFromAFifoDoesNotBlock()
    {
        const QString fifo = m_dir.filePath(QStringLiteral("incoming.wav"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString target = m_dir.filePath(QStringLiteral("Sounds/incoming.wav"));
        QDir().mkpath(QFileInfo(target).absolutePath());
        QString error;
        QVERIFY(!CopyFileReplacing(fifo, target, &error));
        QVERIFY2(error.contains(QStringLiteral("not a regular file")), qPrintable(error));
        QVERIFY(!QFile::exists(target));
    }

    void failedCopyKeepsTheOldSound()
    {
        const QString source = m_dir.filePath(QStringLiteral("new.wav"));
        const QString target = m_dir.filePath(QStringLiteral("Imported/new.wav"));
        Write(source, QByteArray(100000, 'n'));
        Write(target, "the old sound");
        SafeFile::InjectWriteFailure(ENOSPC, 5000);
        QString error;
        QVERIFY(!CopyFileReplacing(source, target, &error));
        QVERIFY2(error.contains(QString::fromLocal8Bit(strerror(ENOSPC))), qPrintable(error));
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("the old sound"));
        QCOMPARE(QDir(QFileInfo(target).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("new.wav")});
    }
};

TARVO_TEST_MAIN(TestSoundFaults)
#include "tst_soundfaults.moc"
