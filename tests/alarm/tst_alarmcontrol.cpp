// The alarm's arming and disarming against a fake window: what is stored
// and reported, the activation delay, resuming after a restart, and what
// happens when the store or the autostart folder cannot be written.

#include "AlarmFixture.h"
#include "common/TestMain.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

class TestAlarmControl : public tarvo::test::AlarmRulesTest
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(startFresh()); }
    void cleanup() { m_alarm.reset(); }

    void timersAsSpecified()
    {
        QCOMPARE(m_alarm->TimTask.interval(), 250);
        QCOMPARE(m_alarm->TimActivationDelayFlash.interval(), 500);
        QCOMPARE(m_alarm->TimTriggerDelayFlash.interval(), 500);
        QCOMPARE(m_alarm->TimTempMute.interval(), 1500);
        QCOMPARE(m_alarm->TimLedSim.interval(), 250);
        QVERIFY(m_alarm->TimTempMute.isSingleShot());
        QVERIFY(m_alarm->TimActivationDelay.isSingleShot());
        QVERIFY(m_alarm->TimTriggerDelay.isSingleShot());
        QVERIFY(!m_alarm->TimActivationDelayFlash.isSingleShot());
    }

    void storeAndReadSwitches()
    {
        m_alarm->setTag(Switch::Microphone, 1);
        m_alarm->StoreSwitch(Switch::Microphone);
        QCOMPARE(Stored(QStringLiteral("ActMicDetectToggle")), QStringLiteral("T"));
        m_alarm->setTag(Switch::Microphone, 0);
        m_alarm->StoreSwitch(Switch::Microphone);
        QVERIFY(Stored(QStringLiteral("ActMicDetectToggle")).isNull());

        WriteRegString(StoreKeys::Settings, QStringLiteral("ActMouDetectToggle"),
                       QStringLiteral("anything"));
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), QString());
        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, QStringLiteral("T"));
        MakeAlarm();
        m_alarm->ReadStoredSwitches();
        QVERIFY(m_alarm->isOn(Switch::Alarm));
        QVERIFY(!m_alarm->isOn(Switch::Microphone));
        QVERIFY(m_alarm->isOn(Switch::Mouse));
        QVERIFY(!m_alarm->isOn(Switch::Simulation)); // empty counts as off
        // Reading starts nothing.
        QVERIFY(!m_alarm->TimActivationDelay.isActive());
        QVERIFY(!m_alarm->TimSimulation.isActive());
        QCOMPARE(m_report->count(), 0);
    }

    void arming_data()
    {
        QTest::addColumn<bool>("mic");
        QTest::addColumn<bool>("mouse");
        QTest::addColumn<bool>("sim");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QStringList>("lines");
        const QString waiting = QStringLiteral("Waiting 10 second(s) before Activation");
        const QString mic = QStringLiteral("Microphone Detection - Enabled");
        const QString mouse = QStringLiteral("Mouse Detection - Enabled");
        const QString sim = QStringLiteral("Simulation - Enabled");
        const QString activated = QStringLiteral("Alarm - Activated");
        QTest::newRow("no delay, all")
            << true << true << true << 0 << QStringList{mic, mouse, sim, activated};
        QTest::newRow("no delay, mouse")
            << false << true << false << 0 << QStringList{mouse, activated};
        QTest::newRow("delay 10, mouse")
            << false << true << false << 10 << QStringList{waiting, mouse, activated};
        QTest::newRow("delay 10, mic and sim")
            << true << false << true << 10 << QStringList{waiting, mic, sim, activated};
    }
    void arming()
    {
        QFETCH(bool, mic);
        QFETCH(bool, mouse);
        QFETCH(bool, sim);
        QFETCH(int, delay);
        QFETCH(QStringList, lines);
        m_report->AddToReport(QStringLiteral("from the last armed period"));
        m_fake.activationDelay = delay;
        m_alarm->setTag(Switch::Microphone, mic);
        m_alarm->setTag(Switch::Mouse, mouse);
        m_alarm->setTag(Switch::Simulation, sim);
        m_alarm->tasks().append(TaskQueue::MakeRecord(0, 0, 0));
        QSignalSpy leds(m_alarm.get(), &AlarmControl::ledChanged);

        m_alarm->ActActivateToggleExecute();
        QVERIFY(m_alarm->isOn(Switch::Alarm));
        QCOMPARE(Stored(StoreKeys::AlarmActive), QStringLiteral("T"));
        QVERIFY(AutostartEntryExists());
        if (delay > 0) {
            QVERIFY(m_alarm->isWaitingForActivation());
            QVERIFY(!m_alarm->isArmed());
            QCOMPARE(m_alarm->TimActivationDelay.interval(), delay * 1000);
            QVERIFY(m_alarm->TimActivationDelayFlash.isActive());
            QCOMPARE(ReportMessages(), QStringList{lines.first()});
            QCOMPARE(FileMessages(), QStringList{lines.first()});
            // The LED alternates and ends idle.
            m_alarm->TimActivationDelayFlashTimer();
            QVERIFY(m_alarm->ledLit(Led::ActivationDelay));
            m_alarm->TimActivationDelayFlashTimer();
            QVERIFY(!m_alarm->ledLit(Led::ActivationDelay));
            m_alarm->TimActivationDelayFlashTimer();
            m_alarm->TimActivationDelayTimer();
            QVERIFY(!m_alarm->ledLit(Led::ActivationDelay));
            QCOMPARE(leds.size(), 4);
            QVERIFY(!m_alarm->TimActivationDelay.isActive());
            QVERIFY(!m_alarm->TimActivationDelayFlash.isActive());
        }
        QVERIFY(m_alarm->isArmed());
        QVERIFY(m_alarm->tasks().isEmpty());
        QCOMPARE(ReportMessages(), lines);
        QCOMPARE(FileMessages(), lines);
    }

    void cancelDuringDelay()
    {
        m_fake.activationDelay = 10;
        m_alarm->setTag(Switch::Mouse, 1);
        m_alarm->ActActivateToggleExecute();
        m_alarm->TimActivationDelayFlashTimer();
        QVERIFY(m_alarm->ledLit(Led::ActivationDelay));
        m_alarm->ActActivateToggleExecute();
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QVERIFY(!m_alarm->ledLit(Led::ActivationDelay));
        QVERIFY(!m_alarm->TimActivationDelay.isActive());
        QVERIFY(!m_alarm->TimActivationDelayFlash.isActive());
        QCOMPARE(ReportMessages(),
                 (QStringList{QStringLiteral("Waiting 10 second(s) before Activation"),
                              QStringLiteral("Alarm - Stoped")}));
        QVERIFY(Stored(StoreKeys::AlarmActive).isNull());
        QVERIFY(!AutostartEntryExists());
    }

    void disarmingDuringARun()
    {
        m_fake.persistence = 5;
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        QCOMPARE(m_alarm->tasks().count(), 5); // the first of 6 plays at once
        m_alarm->TimTaskTimer();
        m_fake.playing = true;
        m_alarm->ActActivateToggleExecute();
        QCOMPARE(m_fake.stopSoundsCalls, 1);
        QCOMPARE(m_fake.resetMicrophoneCalls, 1);
        QVERIFY(m_alarm->tasks().isEmpty());
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Alarm - Stoped"));
        QVERIFY(Stored(StoreKeys::AlarmActive).isNull());
        QVERIFY(!AutostartEntryExists());
        // Disarming leaves the temporary mute and the detector switches alone.
        QVERIFY(m_alarm->TimTempMute.isActive());
        QVERIFY(m_alarm->isOn(Switch::Mouse));
    }

    void disarmStopsPendingTriggerDelay()
    {
        m_fake.triggerDelay = 30;
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        m_alarm->TimTriggerDelayFlashTimer();
        QVERIFY(m_alarm->ledLit(Led::TriggerDelay));
        m_alarm->EscapeDisarm();
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QVERIFY(!m_alarm->TimTriggerDelay.isActive());
        QVERIFY(!m_alarm->TimTriggerDelayFlash.isActive());
        QVERIFY(!m_alarm->ledLit(Led::TriggerDelay));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Alarm - Stoped"));
        const int lines = m_report->count();
        m_alarm->EscapeDisarm(); // nothing left to disarm
        QCOMPARE(m_report->count(), lines);
    }

    void closingWhileArmedThenResuming()
    {
        m_fake.activationDelay = 0;
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm.reset(); // the program closes
        QCOMPARE(Stored(StoreKeys::AlarmActive), QStringLiteral("T"));
        QVERIFY(AutostartEntryExists());

        // Next start: the log comes from the file and survives the resume.
        m_report = std::make_unique<ReportLog>(m_report->filePath().chopped(10));
        m_report->Load();
        QCOMPARE(m_report->count(), 2);
        // Lost to a kill between storing the armed state and writing it.
        QVERIFY(QFile::remove(AutostartEntryPath()));
        m_fake.activationDelay = 10;
        MakeAlarm();
        m_alarm->ReadStoredSwitches();
        QVERIFY(AlarmControl::StoredAlarmActive());
        QVERIFY(m_alarm->ResumeStoredAlarm());
        QVERIFY(m_alarm->isWaitingForActivation());
        QCOMPARE(ReportMessages(),
                 (QStringList{QStringLiteral("Mouse Detection - Enabled"),
                              QStringLiteral("Alarm - Activated"),
                              QStringLiteral("Waiting 10 second(s) before Activation")}));
        QVERIFY(AutostartEntryCurrent(QStringLiteral("/opt/Tarvo 2/tarvo2")));
        m_alarm->TimActivationDelayTimer();
        QVERIFY(m_alarm->isArmed());
        QCOMPARE(ReportMessages().last(), QStringLiteral("Alarm - Activated"));
    }

    void noResumeWithoutStoredValue()
    {
        QVERIFY(!AlarmControl::StoredAlarmActive());
        QVERIFY(!m_alarm->ResumeStoredAlarm());
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QCOMPARE(m_report->count(), 0);
    }
    void storeFailureStillArmsAndDisarms()
    {
        const QString store = RegistryFilePath();
        QFile::remove(store);
        QVERIFY(QDir().mkpath(store)); // a folder where the store file must be
        m_alarm->setTag(Switch::Mouse, 1);
        QVERIFY_THROWS_EXCEPTION(RegistryError, m_alarm->ActActivateToggleExecute());
        QVERIFY(m_alarm->isArmed());
        QVERIFY(AutostartEntryExists());
        QCOMPARE(ReportMessages(), (QStringList{QStringLiteral("Mouse Detection - Enabled"),
                                                QStringLiteral("Alarm - Activated")}));
        QVERIFY_THROWS_EXCEPTION(RegistryError, m_alarm->StoreSwitch(Switch::Mouse));

        m_alarm->tasks().append(TaskQueue::MakeRecord(0, 0, 0));
        m_fake.playing = true;
        // Disarmed at once, told so; the entry stays as long as the store
        // may still say armed, so a restart never comes back half armed.
        QVERIFY_THROWS_EXCEPTION(RegistryError, m_alarm->ActActivateToggleExecute());
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QVERIFY(AutostartEntryExists());
        QVERIFY(m_alarm->tasks().isEmpty());
        QCOMPARE(m_fake.stopSoundsCalls, 1);
        QCOMPARE(ReportMessages().last(), QStringLiteral("Alarm - Stoped"));
        QVERIFY(m_alarm->TimStoreDisarm.isActive());
        QVERIFY(QDir(store).removeRecursively());
    }

    void autostartFailureIsReported()
    {
        const QString folder = QFileInfo(AutostartEntryPath()).absolutePath();
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder must be
        blocker.close();
        m_alarm->setTag(Switch::Mouse, 1);
        QVERIFY_THROWS_EXCEPTION(RegistryError, m_alarm->ActActivateToggleExecute());
        QVERIFY(m_alarm->isArmed());
        QCOMPARE(Stored(StoreKeys::AlarmActive), QStringLiteral("T"));
        QVERIFY(QFile::remove(folder));
    }

    void autostartRemovalFailureIsReported()
    {
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        const QString entry = AutostartEntryPath();
        QVERIFY(QFile::remove(entry));
        QVERIFY(QDir().mkpath(entry + QStringLiteral("/keep"))); // cannot be removed as a file
        m_fake.playing = true;
        QString message;
        try {
            m_alarm->ActActivateToggleExecute();
        } catch (const RegistryError &error) {
            message = error.message();
        }
        // It says what is wrong, not that a setting could not be saved.
        QVERIFY2(message.startsWith(QStringLiteral("Could not remove the autostart entry")),
                 qPrintable(message));
        QVERIFY(message.contains(entry));
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QVERIFY(Stored(StoreKeys::AlarmActive).isEmpty());
        QCOMPARE(m_fake.stopSoundsCalls, 1);
        QCOMPARE(ReportMessages().last(), QStringLiteral("Alarm - Stoped"));
        QVERIFY(QDir(entry).removeRecursively());
    }
};

TARVO_TEST_MAIN(TestAlarmControl)
#include "tst_alarmcontrol.moc"
