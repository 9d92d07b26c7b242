#include "common/TestMain.h"
#include "common/TinyDisk.h"
#include "files/SafeFile.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using tarvo::test::TinyDisk;

namespace {

const QString TestKey = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\Faults");

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList BrokenCopies()
{
    const QFileInfo info(RegistryFilePath());
    return QDir(info.absolutePath())
        .entryList({info.fileName() + QStringLiteral(".broken-*")}, QDir::Files);
}

// Writes a few values and a checked-sound list, as a running program would.
void StoreSomething()
{
    WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
    WriteRegString(StoreKeys::Settings, QStringLiteral("ActMouDetectToggle"), StoreKeys::SwitchOn);
    WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkAlarmVolume"),
                   QStringLiteral("77"));
    ReplaceRegKeyValues(StoreKeys::CheckedSounds,
                        {QStringLiteral("a.wav"), QStringLiteral("b c.mp3")}, StoreKeys::SwitchOn);
}

void CheckSomething()
{
    QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive), StoreKeys::SwitchOn);
    QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("actmoudetecttoggle")),
             StoreKeys::SwitchOn);
    QCOMPARE(ReadRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkAlarmVolume")),
             QStringLiteral("77"));
    QStringList names;
    QVERIFY(ReadRegValueNames(StoreKeys::CheckedSounds, names));
    names.sort();
    QCOMPARE(names, (QStringList{QStringLiteral("a.wav"), QStringLiteral("b c.mp3")}));
}

// Every kind of write must fail with a message that names what was lost,
// never one about a lock.
void CheckWritesFail()
{
    try {
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), QString(3000, u'x'));
        QFAIL("the write did not fail");
    } catch (const RegistryError &error) {
        QCOMPARE(error.valueName(), QStringLiteral("ActSimToggle"));
        QVERIFY2(!error.message().contains(QStringLiteral("locked")), qPrintable(error.message()));
    }
    QVERIFY_THROWS_EXCEPTION(
        RegistryError,
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {QString(3000, u'y')}, StoreKeys::SwitchOn));
    QVERIFY(!DeleteRegValue(StoreKeys::Settings, StoreKeys::AlarmActive));
}

} // namespace

class TestRegistryFaults : public QObject
{
    Q_OBJECT
    QString m_configHome;

    void useConfigHome(const QString &folder)
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder));
    }

    // A store on a small file system that is full or mounted read-only:
    // every write fails with its message, reads go on, the file stays.
    void checkSmallDisk(bool readOnly)
    {
        TinyDisk disk;
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        useConfigHome(disk.path());
        StoreSomething();
        const QByteArray before = ReadFile(RegistryFilePath());
        QVERIFY(readOnly ? disk.setReadOnly(true) : disk.fill());
        CheckWritesFail();
        CheckSomething(); // reads keep working
        if (readOnly) {
            // Reading a key that is missing would create it; that fails quietly.
            QCOMPARE(ReadRegString(QStringLiteral("\\SoftWare\\New"), QStringLiteral("x")),
                     QString());
            QVERIFY(disk.setReadOnly(false));
        } else {
            // Writing what is already stored needs no room.
            WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        }
        QCOMPARE(ReadFile(RegistryFilePath()), before);
        if (!readOnly) {
            disk.makeRoom();
            WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"),
                           StoreKeys::SwitchOn);
            QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle")),
                     StoreKeys::SwitchOn);
        }
        QVERIFY(BrokenCopies().isEmpty());
    }

private Q_SLOTS:
    void initTestCase() { m_configHome = qEnvironmentVariable("XDG_CONFIG_HOME"); }
    void init()
    {
        ::alarm(120); // a hang fails the test instead of blocking CI
        useConfigHome(m_configHome);
        QDir(QFileInfo(RegistryFilePath()).absolutePath()).removeRecursively();
    }
    void cleanup()
    {
        ::alarm(0);
        SafeFile::InjectWriteFailure(0);
        useConfigHome(m_configHome);
    }

    void injectedWriteFailureLosesNothing_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("allowed");
        QTest::newRow("disk full, nothing written") << ENOSPC << qint64(0);
        QTest::newRow("disk full half way") << ENOSPC << qint64(100);
        QTest::newRow("I/O error") << EIO << qint64(10);
    }
    void injectedWriteFailureLosesNothing()
    {
        QFETCH(int, error);
        QFETCH(qint64, allowed);
        StoreSomething();
        const QByteArray before = ReadFile(RegistryFilePath());
        QVERIFY(!before.isEmpty());

        SafeFile::InjectWriteFailure(error, allowed);
        CheckWritesFail();
        QCOMPARE(ReadFile(RegistryFilePath()), before);
        CheckSomething(); // reads keep working from the file
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle")), QString());

        SafeFile::InjectWriteFailure(0); // the next write is tried afresh
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), StoreKeys::SwitchOn);
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle")),
                 StoreKeys::SwitchOn);
        CheckSomething();
        QVERIFY(BrokenCopies().isEmpty());
    }

    void fullDiskLosesNothing() { checkSmallDisk(false); }
    void readOnlyStoreStillReads() { checkSmallDisk(true); }

    void readOnlyFileIsNotReplaced()
    {
        StoreSomething();
        const QByteArray before = ReadFile(RegistryFilePath());
        QFile::setPermissions(RegistryFilePath(), QFile::ReadOwner | QFile::ReadGroup);
        if (::access(QFile::encodeName(RegistryFilePath()).constData(), W_OK) == 0) {
            // Root writes anyway; the user's choice still holds for the store.
            QFile::setPermissions(RegistryFilePath(), QFile::ReadOwner | QFile::WriteOwner);
            QSKIP("permission bits do not stop root");
        }
        CheckWritesFail();
        CheckSomething();
        QCOMPARE(ReadFile(RegistryFilePath()), before);
        QVERIFY(BrokenCopies().isEmpty());
    }

    void specialFileAtTheStorePath()
    {
        QDir().mkpath(QFileInfo(RegistryFilePath()).absolutePath());
        QCOMPARE(::mkfifo(QFile::encodeName(RegistryFilePath()).constData(), 0600), 0);
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive), QString());
        QStringList names;
        QVERIFY(ReadRegValueNames(StoreKeys::CheckedSounds, names));
        QVERIFY(names.isEmpty());
        try {
            WriteRegString(StoreKeys::Settings, StoreKeys::MsgThanx, StoreKeys::SwitchOn);
            QFAIL("the write did not fail");
        } catch (const RegistryError &error) {
            QVERIFY2(error.message().contains(QStringLiteral("not a regular file")),
                     qPrintable(error.message()));
        }
        const QFileInfo info(RegistryFilePath());
        QVERIFY(info.exists() && !info.isFile()); // neither replaced nor kept aside
        QVERIFY(BrokenCopies().isEmpty());
    }

    void absurdlyDeepKeysAreJunk()
    {
        QDir().mkpath(QFileInfo(RegistryFilePath()).absolutePath());
        QFile file(RegistryFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray deep = "[SoftWare]\n";
        for (int i = 0; i < 200000; ++i)
            deep += "a\\";
        file.write(deep + "x=1\n");
        file.close();
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), QString());
        QCOMPARE(BrokenCopies().size(), 1); // kept aside, as any unreadable content
        WriteRegString(StoreKeys::Settings, StoreKeys::MsgThanx, StoreKeys::SwitchOn);
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), StoreKeys::SwitchOn);
    }

    void symbolicLinkIsFollowed()
    {
        const QString folder = QFileInfo(RegistryFilePath()).absolutePath();
        QDir().mkpath(folder);
        const QString real = folder + QStringLiteral("/dotfiles-Tarvo2.conf");
        QFile::remove(real);
        QVERIFY(QFile::link(real, RegistryFilePath()));
        StoreSomething();
        QVERIFY(QFileInfo(RegistryFilePath()).isSymLink());
        QVERIFY(ReadFile(real).contains("Alarm%20Active=T"));
        CheckSomething();
    }

    void otherWritersAreSeen()
    {
        StoreSomething();
        CheckSomething();
        {
            // Another program (or QSettings) replaces the file.
            QSettings other(RegistryFilePath(), QSettings::IniFormat);
            other.setValue(QStringLiteral("SoftWare/VEKOR/Tarvo2/S/MsgThanx"), QStringLiteral("T"));
            other.remove(QStringLiteral("SoftWare/VEKOR/Tarvo2/S/Alarm Active"));
        }
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), StoreKeys::SwitchOn);
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive), QString());
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), StoreKeys::SwitchOn);
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), StoreKeys::SwitchOn);
    }

    void fileFormatMatchesQSettings_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("data");
        const QString odd = QStringLiteral(" a, b; \"c\" = %d #e [f] \\g\\ @h\n\tÜ \x01\x7f ☃ ");
        QTest::newRow("plain") << QStringLiteral("Alarm Active") << QStringLiteral("T");
        QTest::newRow("odd data") << QStringLiteral("x") << odd;
        QTest::newRow("odd name") << QStringLiteral("Sirène – ☃ [a]=b;c/d%.mp3") << odd;
        QTest::newRow("at sign") << QStringLiteral("@") << QStringLiteral("@at");
        QTest::newRow("list-like") << QStringLiteral("l") << QStringLiteral("a,b,c");
        QTest::newRow("NUL and digits") << QStringLiteral("z")
                                        << QString::fromUtf8(QByteArray("\0"
                                                                        "1a",
                                                                        3));
        QTest::newRow("spaces") << QStringLiteral(" lead ") << QStringLiteral("  both  ");
        QTest::newRow("empty") << QStringLiteral("e") << QString();
    }
    void fileFormatMatchesQSettings()
    {
        QFETCH(QString, name);
        QFETCH(QString, data);
        // Written by the store, read by QSettings from a fresh copy.
        WriteRegString(TestKey, name, data);
        const QString copy =
            m_configHome + QStringLiteral("/copy-%1.ini").arg(QTest::currentDataTag());
        QFile::remove(copy);
        QVERIFY(QFile::copy(RegistryFilePath(), copy));
        QString escapedName = name;
        escapedName.replace(u'%', QStringLiteral("%25")).replace(u'/', QStringLiteral("%2F"));
        {
            QSettings check(copy, QSettings::IniFormat);
            QCOMPARE(check.status(), QSettings::NoError);
            QCOMPARE(check.value(QStringLiteral("SoftWare/VEKOR/Tarvo2/Faults/") + escapedName)
                         .toString(),
                     data);
        }
        // Written by QSettings, read by the store.
        QFile::remove(RegistryFilePath());
        {
            QSettings writer(copy, QSettings::IniFormat);
            writer.setValue(QStringLiteral("SoftWare/VEKOR/Tarvo2/Faults/") + escapedName +
                                QStringLiteral("2"),
                            data);
        }
        QVERIFY(QFile::copy(copy, RegistryFilePath()));
        QCOMPARE(ReadRegString(TestKey, name), data);
        QCOMPARE(ReadRegString(TestKey, name + u'2'), data);
    }
};

TARVO_TEST_MAIN(TestRegistryFaults)
#include "tst_registryfaults.moc"
