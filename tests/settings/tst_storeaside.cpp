// A settings file the program did not write itself: a hand-written one whose
// values are written back unchanged needs no disk at all (full or read-only),
// and one far too large or full of junk is kept aside with a word to the
// user, once.

#include "common/TestMain.h"
#include "common/TinyDisk.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using tarvo::test::TinyDisk;

namespace {

// As a user (or an older copy) writes it: no key markers, a quoted value.
const QByteArray HandWritten = "[SoftWare]\n"
                               "VEKOR\\Tarvo2\\S\\Alarm%20Active=T\n"
                               "VEKOR\\Tarvo2\\S\\set\\frmMaintrkPersistence=0\n"
                               "VEKOR\\Tarvo2\\S\\set\\frmMainspnTriggerDelay=\"5\"\n"
                               "VEKOR\\Tarvo2\\S\\snd\\a.wav=T\n"
                               "VEKOR\\Tarvo2\\S\\snd\\b c.mp3=T\n";

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList KeptAside()
{
    const QFileInfo info(RegistryFilePath());
    return QDir(info.absolutePath())
        .entryList({info.fileName() + QStringLiteral(".broken-*")}, QDir::Files);
}

} // namespace

class TestStoreAside : public QObject
{
    Q_OBJECT
    QString m_configHome;

private Q_SLOTS:
    void initTestCase() { m_configHome = qEnvironmentVariable("XDG_CONFIG_HOME"); }
    void cleanup()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome));
        TakeRegistryNotices();
    }

    void storedValuesNeedNoDisk_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("full disk") << false;
        QTest::newRow("read-only disk") << true;
    }
    void storedValuesNeedNoDisk()
    {
        QFETCH(bool, readOnly);
        TinyDisk disk(64);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.path()));
        QVERIFY(WriteFile(RegistryFilePath(), HandWritten));
        QVERIFY(readOnly ? disk.setReadOnly(true) : disk.fill());

        // What a window writes back while it loads these values.
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkPersistence"),
                       QStringLiteral("0"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnTriggerDelay"),
                       QStringLiteral("5"));
        WriteRegString(StoreKeys::Settings, QStringLiteral("alarm active"), StoreKeys::SwitchOn);
        ReplaceRegKeyValues(StoreKeys::CheckedSounds,
                            {QStringLiteral("b c.mp3"), QStringLiteral("a.wav")},
                            StoreKeys::SwitchOn);
        QVERIFY(!QFileInfo::exists(RegistryFilePath() + QStringLiteral(".lock")));

        // A real change still needs the disk, and says so.
        QVERIFY_THROWS_EXCEPTION(RegistryError,
                                 WriteRegString(StoreKeys::ResetableSettings,
                                                QStringLiteral("frmMaintrkPersistence"),
                                                QStringLiteral("1")));
        if (readOnly)
            QVERIFY(disk.setReadOnly(false));
    }

    void oversizedFileIsKeptAside()
    {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QByteArray huge = HandWritten;
        while (huge.size() < 5 * 1024 * 1024)
            huge += "VEKOR\\Tarvo2\\S\\junk\\" + QByteArray::number(huge.size()) + "=T\n";
        QVERIFY(WriteFile(RegistryFilePath(), huge));

        // Not read: the program starts on its defaults.
        QVERIFY(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive).isEmpty());
        const QStringList aside = KeptAside();
        QCOMPARE(aside.size(), 1);
        QCOMPARE(
            QFileInfo(QFileInfo(RegistryFilePath()).absolutePath() + u'/' + aside.first()).size(),
            huge.size());
        const QStringList notices = TakeRegistryNotices();
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(QStringLiteral("MB")), qPrintable(notices.first()));
        QVERIFY(notices.first().contains(aside.first()));
        QVERIFY(TakeRegistryNotices().isEmpty()); // said once

        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        QVERIFY(QFileInfo(RegistryFilePath()).size() < 1024);
    }

    void oversizedFileOnAReadOnlyDisk()
    {
        TinyDisk disk(64);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.path()));
        QVERIFY(WriteFile(RegistryFilePath(), HandWritten));
        // Larger than the limit only by what the disk reports: a sparse file.
        QFile file(RegistryFilePath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(64 * 1024 * 1024));
        file.close();
        QVERIFY(disk.setReadOnly(true));

        QVERIFY(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive).isEmpty());
        QVERIFY(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive).isEmpty());
        const QStringList notices = TakeRegistryNotices();
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(QStringLiteral("cannot keep changes")),
                 qPrintable(notices.first()));
        QCOMPARE(QFileInfo(RegistryFilePath()).size(), 64 * 1024 * 1024); // left as it was
        QVERIFY(disk.setReadOnly(false));
    }

    void junkIsKeptAsideAndSaid()
    {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QVERIFY(WriteFile(RegistryFilePath(), HandWritten + QByteArray("\0\xff\xfe junk", 9)));
        QVERIFY(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive).isEmpty());
        QCOMPARE(KeptAside().size(), 1);
        const QStringList notices = TakeRegistryNotices();
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(QStringLiteral("no settings Tarvo2 can read")),
                 qPrintable(notices.first()));
    }
};

TARVO_TEST_MAIN(TestStoreAside)
#include "tst_storeaside.moc"
