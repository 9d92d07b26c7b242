// The stored armed state and the autostart entry tell the same story on a
// disk that fills up or turns read-only: a disarming that cannot be stored
// keeps the entry and is tried again, and a resume writes back an entry a
// kill or a moved program left missing or wrong.

#include "AlarmFixture.h"
#include "alarm/Autostart.h"
#include "common/TestMain.h"
#include "common/TinyDisk.h"

#include <QFile>

using tarvo::test::TinyDisk;

class TestStoreConsistency : public tarvo::test::AlarmRulesTest
{
    Q_OBJECT
    QString m_configHome;
    const QString m_program = QStringLiteral("/opt/Tarvo 2/tarvo2"); // as the fake window says

    // Settings and autostart entry on a small disk of their own.
    bool moveConfigTo(const TinyDisk &disk)
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.path()));
        return startFresh();
    }
    // Armed with the store and the entry on disk, which then fills up.
    bool armedOnAFullDisk(TinyDisk &disk)
    {
        if (!moveConfigTo(disk))
            return false;
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        return AutostartEntryExists() && disk.fill();
    }

private Q_SLOTS:
    void initTestCase() { m_configHome = qEnvironmentVariable("XDG_CONFIG_HOME"); }
    void init() { QVERIFY(startFresh()); }
    void cleanup()
    {
        m_alarm.reset();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome));
    }

    void disarmingOnAFullDisk()
    {
        TinyDisk disk(128);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        QVERIFY(armedOnAFullDisk(disk));

        QString told;
        try {
            m_alarm->ActActivateToggleExecute();
        } catch (const RegistryError &error) {
            told = error.message();
        }
        // Off in memory at once, and the user knows a restart would re-arm.
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QVERIFY2(told.contains(QStringLiteral("could not be saved")), qPrintable(told));
        QVERIFY(told.contains(QStringLiteral("starts armed again after a restart")));
        // Stored armed, so the entry stays: both say armed.
        QCOMPARE(Stored(StoreKeys::AlarmActive), StoreKeys::SwitchOn);
        QVERIFY(AutostartEntryExists());
        QVERIFY(m_alarm->TimStoreDisarm.isActive());

        m_alarm->TimStoreDisarmTimer(); // still full: nothing changes
        QCOMPARE(Stored(StoreKeys::AlarmActive), StoreKeys::SwitchOn);
        QVERIFY(AutostartEntryExists());

        disk.makeRoom();
        m_alarm->TimStoreDisarmTimer();
        QVERIFY(Stored(StoreKeys::AlarmActive).isEmpty());
        QVERIFY(!AutostartEntryExists());
        QVERIFY(!m_alarm->TimStoreDisarm.isActive());
    }

    void armingAgainEndsTheRetry()
    {
        TinyDisk disk(128);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        QVERIFY(armedOnAFullDisk(disk));
        QVERIFY_THROWS_EXCEPTION(RegistryError, m_alarm->ActActivateToggleExecute());
        QVERIFY(m_alarm->TimStoreDisarm.isActive());
        disk.makeRoom();
        Arm();
        QVERIFY(!m_alarm->TimStoreDisarm.isActive());
        m_alarm->TimStoreDisarmTimer(); // a late tick must not disarm the store
        QCOMPARE(Stored(StoreKeys::AlarmActive), StoreKeys::SwitchOn);
        QVERIFY(AutostartEntryCurrent(m_program));
    }

    void resumeWritesTheEntry_data()
    {
        QTest::addColumn<QString>("entry"); // what the last run left
        QTest::newRow("none (killed before writing it)") << QString();
        QTest::newRow("an older program's path") << QStringLiteral("/old/place/tarvo2");
        QTest::newRow("an empty file") << QStringLiteral("<empty>");
    }
    void resumeWritesTheEntry()
    {
        QFETCH(QString, entry);
        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        if (entry == QLatin1String("<empty>")) {
            QFile file(AutostartEntryPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (!entry.isEmpty()) {
            QVERIFY(WriteAutostartEntry(entry));
        }
        QVERIFY(!AutostartEntryCurrent(m_program));
        QVERIFY(m_alarm->ResumeStoredAlarm());
        QVERIFY(AutostartEntryCurrent(m_program));
    }

    void resumeOnAReadOnlyDisk()
    {
        TinyDisk disk(128);
        if (!disk.mounted())
            QSKIP("mounting a small file system needs root");
        QVERIFY(moveConfigTo(disk));
        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        QVERIFY(WriteAutostartEntry(m_program));
        QVERIFY(disk.setReadOnly(true));
        // An entry as it should be needs no write.
        QVERIFY(m_alarm->ResumeStoredAlarm());
        QVERIFY(m_alarm->isOn(Switch::Alarm));
        // Cannot be stored either: said, not hidden.
        QVERIFY_THROWS_EXCEPTION(RegistryError, m_alarm->EscapeDisarm());
        QVERIFY(AutostartEntryExists());

        // One that cannot be written: resumed all the same, and said so.
        QVERIFY(disk.setReadOnly(false));
        QVERIFY(RemoveAutostartEntry());
        QVERIFY(disk.setReadOnly(true));
        MakeAlarm();
        QVERIFY_THROWS_EXCEPTION(RegistryError, m_alarm->ResumeStoredAlarm());
        QVERIFY(m_alarm->isOn(Switch::Alarm));
        QVERIFY(disk.setReadOnly(false));
    }
};

TARVO_TEST_MAIN(TestStoreConsistency)
#include "tst_storeconsistency.moc"
