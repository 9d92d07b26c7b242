#include "common/TestMain.h"
#include "common/TinyDisk.h"
#include "files/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using tarvo::test::TinyDisk;

namespace {

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Everything in folder but the files named.
QStringList Others(const QString &folder, const QStringList &expected)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    for (const QString &name : expected)
        names.removeAll(name);
    return names;
}

} // namespace

class TestSafeFile : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init()
    {
        // A FIFO that blocks must fail the test, not hang CI.
        ::alarm(60);
    }
    void cleanup()
    {
        ::alarm(0);
        SafeFile::InjectWriteFailure(0);
    }

    void injectedFailureKeepsOldContent_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("allowed");
        QTest::newRow("full at once") << ENOSPC << qint64(0);
        QTest::newRow("full half way") << ENOSPC << qint64(5);
        QTest::newRow("I/O error") << EIO << qint64(9);
    }
    void injectedFailureKeepsOldContent()
    {
        QFETCH(int, error);
        QFETCH(qint64, allowed);
        const QString path = m_dir.filePath(QStringLiteral("inj.txt"));
        Write(path, "the old content\n");
        SafeFile::InjectWriteFailure(error, allowed);
        QString message;
        QVERIFY(!SafeFile::Replace(path, "a much longer new content\n", &message));
        QVERIFY2(message.contains(QString::fromLocal8Bit(strerror(error))), qPrintable(message));
        QCOMPARE(Read(path), QByteArray("the old content\n"));
        QVERIFY(!SafeFile::CopyReplacing(path, path + QStringLiteral(".copy"), &message));
        QVERIFY(!QFile::exists(path + QStringLiteral(".copy")));
        QCOMPARE(Others(m_dir.path(), {"inj.txt"}), QStringList());

        SafeFile::InjectWriteFailure(0);
        QVERIFY(SafeFile::Replace(path, "new\n"));
        QCOMPARE(Read(path), QByteArray("new\n"));
    }

    void fullDiskKeepsOldContent()
    {
        TinyDisk disk;
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        const QString path = disk.path() + QStringLiteral("/file.txt");
        Write(path, "old content that must survive\n");
        QVERIFY(disk.fill());
        QString message;
        QVERIFY(!SafeFile::Replace(path, QByteArray(8192, 'n'), &message));
        QVERIFY2(message.contains(QString::fromLocal8Bit(strerror(ENOSPC))), qPrintable(message));
        QCOMPARE(Read(path), QByteArray("old content that must survive\n"));
        QCOMPARE(Others(disk.path(), {"file.txt", "filler"}), QStringList());
        disk.makeRoom();
        QVERIFY(SafeFile::Replace(path, QByteArray(8192, 'n'), &message));
        QCOMPARE(Read(path), QByteArray(8192, 'n'));
    }

    void readOnlyDiskRefuses()
    {
        TinyDisk disk;
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        const QString path = disk.path() + QStringLiteral("/file.txt");
        Write(path, "kept");
        QVERIFY(disk.setReadOnly(true));
        QString message;
        QVERIFY(!SafeFile::Replace(path, "new", &message));
        QVERIFY(!message.isEmpty());
        QByteArray bytes;
        QCOMPARE(SafeFile::ReadAll(path, &bytes), SafeFile::ReadResult::Ok);
        QCOMPARE(bytes, QByteArray("kept"));
        QVERIFY(disk.setReadOnly(false));
    }

    void specialFilesNeverBlock_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("device") << QStringLiteral("device");
        QTest::newRow("folder") << QStringLiteral("folder");
    }
    void specialFilesNeverBlock()
    {
        QFETCH(QString, kind);
        QString path = m_dir.filePath(kind);
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("device"))
            path = QStringLiteral("/dev/null");
        else
            QVERIFY(QDir().mkpath(path));

        QByteArray bytes;
        QString message;
        QCOMPARE(SafeFile::ReadAll(path, &bytes, &message), SafeFile::ReadResult::Failed);
        QVERIFY2(message.contains(QStringLiteral("not a regular file")), qPrintable(message));
        QVERIFY(!SafeFile::Replace(path, "x", &message));
        SafeFile::FileId id;
        bool stale = false;
        QVERIFY(!SafeFile::Append(path, "x", id, &id, &stale, &message));
        QVERIFY(!SafeFile::CopyReplacing(path, m_dir.filePath(QStringLiteral("copy")), &message));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("copy"))));
        if (kind == QLatin1String("fifo"))
            QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile()); // left alone
    }

    void symbolicLinkIsFollowed()
    {
        const QString target = m_dir.filePath(QStringLiteral("real.txt"));
        const QString link = m_dir.filePath(QStringLiteral("link.txt"));
        Write(target, "old");
        QVERIFY(QFile::link(target, link));
        QVERIFY(SafeFile::Replace(link, "new"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(Read(target), QByteArray("new"));
        SafeFile::FileId id;
        QVERIFY(SafeFile::Examine(link, &id));
        bool stale = true;
        QVERIFY(SafeFile::Append(link, "er", id, &id, &stale));
        QCOMPARE(Read(target), QByteArray("newer"));
        QVERIFY(QFileInfo(link).isSymLink());

        const QString loop = m_dir.filePath(QStringLiteral("loop"));
        QVERIFY(QFile::link(loop, loop));
        QString message;
        QVERIFY(!SafeFile::Replace(loop, "x", &message));
        QVERIFY(!message.isEmpty());
    }

    void appendChecksTheFileAndCutsBackAFailure()
    {
        const QString path = m_dir.filePath(QStringLiteral("append.txt"));
        Write(path, "line 1\r\n");
        SafeFile::FileId id;
        QVERIFY(SafeFile::Examine(path, &id));
        bool stale = true;
        QVERIFY(SafeFile::Append(path, "line 2\r\n", id, &id, &stale));
        QVERIFY(!stale);
        QCOMPARE(id.size, 16);

        SafeFile::InjectWriteFailure(ENOSPC, 3);
        QVERIFY(!SafeFile::Append(path, "line 3\r\n", id, &id, &stale));
        QVERIFY(!stale);
        QCOMPARE(Read(path), QByteArray("line 1\r\nline 2\r\n")); // no torn bytes
        SafeFile::InjectWriteFailure(0);

        Write(path, "changed behind our back\n");
        QVERIFY(!SafeFile::Append(path, "x", id, &id, &stale));
        QVERIFY(stale);
        QCOMPARE(Read(path), QByteArray("changed behind our back\n"));
    }

    static int ModeOf(const QString &path)
    {
        struct stat st;
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    }

    // What the program writes is the user's only: new files 0600, older
    // ones lose the group's and others' rights at the next write, and the
    // owner keeps what the owner had (a launcher stays executable).
    void filesAreTheOwnersOnly_data()
    {
        QTest::addColumn<QString>("write");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("new file") << "replace" << -1 << 0600;
        QTest::newRow("replaced 0644") << "replace" << 0644 << 0600;
        QTest::newRow("replaced 0755") << "replace" << 0755 << 0700;
        QTest::newRow("replaced 0600") << "replace" << 0600 << 0600;
        QTest::newRow("appended to 0644") << "append" << 0644 << 0600;
        QTest::newRow("copied over 0666") << "copy" << 0666 << 0600;
    }
    void filesAreTheOwnersOnly()
    {
        QFETCH(QString, write);
        QFETCH(int, before);
        QFETCH(int, after);
        const QString path = m_dir.filePath(QStringLiteral("mode-") + QTest::currentDataTag());
        if (before >= 0) {
            Write(path, "x\n");
            QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(before)) == 0);
        }
        if (write == QLatin1String("replace")) {
            QVERIFY(SafeFile::Replace(path, "y"));
        } else if (write == QLatin1String("append")) {
            SafeFile::FileId id;
            bool stale = false;
            QVERIFY(SafeFile::Examine(path, &id));
            QVERIFY(SafeFile::Append(path, "y\n", id, &id, &stale));
        } else {
            const QString source = m_dir.filePath(QStringLiteral("source"));
            Write(source, "z");
            QVERIFY(SafeFile::CopyReplacing(source, path));
        }
        QCOMPARE(ModeOf(path), after);
    }

    void privateFolders()
    {
        const QString top = m_dir.filePath(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(top));
        QVERIFY(::chmod(QFile::encodeName(top).constData(), 0755) == 0);
        const QString made = top + QStringLiteral("/a/b");
        QVERIFY(SafeFile::MakePrivateFolder(made));
        QCOMPARE(ModeOf(top + QStringLiteral("/a")), 0700);
        QCOMPARE(ModeOf(made), 0700);
        QCOMPARE(ModeOf(top), 0755); // only what it made, and the folder asked for
        QVERIFY(SafeFile::MakePrivateFolder(top));
        QCOMPARE(ModeOf(top), 0700);

        Write(top + QStringLiteral("/file"), "x");
        QString error;
        QVERIFY(!SafeFile::MakePrivateFolder(top + QStringLiteral("/file/sub"), &error));
        QVERIFY(error.contains(QStringLiteral("file")));
    }
};

TARVO_TEST_MAIN(TestSafeFile)
#include "tst_safefile.moc"
