#include "alarm/AlarmControl.h"
#include "alarm/Autostart.h"
#include "common/TestMain.h"
#include "report/ReportLog.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>

using Switch = AlarmControl::Switch;
using Led = AlarmControl::Led;

namespace {

const QString Exe = QStringLiteral("/opt/Tarvo 2/tarvo2");

struct Played
{
    int slot;
    int speaker;
    QString path;
    bool operator==(const Played &) const = default;
};

// What the main window would supply: spin edits, sliders, playback.
struct FakeWindow
{
    int activationDelay = 0, triggerDelay = 0;
    int simulateEvery = 5, simulateRandom = 0;
    int persistence = 0, persistenceRandom = 0;
    bool playing = false;
    bool randomLargest = false;
    int stopSoundsCalls = 0, resetMicrophoneCalls = 0;
    QList<quint32> randomAsked;
    QList<Played> played;
    QStringList checked{QStringLiteral("siren.wav"), QStringLiteral("dog.mp3")};

    AlarmControl::Hooks hooks()
    {
        AlarmControl::Hooks h;
        h.activationDelay = [this] { return activationDelay; };
        h.triggerDelay = [this] { return triggerDelay; };
        h.simulateEvery = [this] { return simulateEvery; };
        h.simulateRandom = [this] { return simulateRandom; };
        h.persistence = [this] { return persistence; };
        h.persistenceRandom = [this] { return persistenceRandom; };
        h.isPlaying = [this] { return playing; };
        h.stopSounds = [this] {
            ++stopSoundsCalls;
            playing = false;
        };
        h.playHow = [this](int slot, int speaker, const QString &path) {
            played.append({slot, speaker, path});
        };
        h.checkedSounds = [this] { return checked; };
        h.soundsFolder = [] { return QStringLiteral("/snd/"); };
        h.resetMicrophoneCount = [this] { ++resetMicrophoneCalls; };
        h.randomBelow = [this](quint32 n) {
            randomAsked.append(n);
            return (n == 0 || !randomLargest) ? 0u : n - 1;
        };
        h.executablePath = Exe;
        return h;
    }
};

QStringList Messages(const QStringList &lines)
{
    QStringList messages;
    for (const QString &line : lines)
        messages.append(line.mid(line.indexOf(QLatin1String("] ")) + 2));
    return messages;
}

QString Stored(const QString &name)
{
    return ReadRegString(StoreKeys::Settings, name);
}

} // namespace

class TestAlarmControl : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ReportLog> m_report;
    FakeWindow m_fake;
    std::unique_ptr<AlarmControl> m_alarm;

    QStringList ReportMessages() const { return Messages(m_report->lines()); }
    QStringList FileMessages() const
    {
        return Messages(ReportLog::ReadReportFile(m_report->filePath()));
    }
    void Arm()
    {
        m_alarm->ActActivateToggleExecute();
        if (m_alarm->isWaitingForActivation())
            m_alarm->TimActivationDelayTimer();
    }
    void MakeAlarm() { m_alarm = std::make_unique<AlarmControl>(*m_report, m_fake.hooks()); }

private Q_SLOTS:
    void init()
    {
        static int run = 0;
        DeleteRegKey(StoreKeys::Settings);
        QVERIFY(RemoveAutostartEntry());
        m_report = std::make_unique<ReportLog>(m_dir.path() +
                                               QStringLiteral("/run%1/Reports/").arg(++run));
        m_fake = FakeWindow();
        MakeAlarm();
    }
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
        QCOMPARE(m_alarm->tasks().count(), 6);
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
        QVERIFY(QFile::remove(AutostartEntryPath())); // to see it is not rewritten
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
        QVERIFY(!AutostartEntryExists());
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

    void guardsRefuseWithoutTrace_data()
    {
        QTest::addColumn<QString>("guard");
        QTest::newRow("disarmed") << QStringLiteral("disarmed");
        QTest::newRow("waiting for activation") << QStringLiteral("waiting");
        QTest::newRow("temporary mute") << QStringLiteral("mute");
        QTest::newRow("queue not empty") << QStringLiteral("queue");
        QTest::newRow("playing") << QStringLiteral("playing");
    }
    void guardsRefuseWithoutTrace()
    {
        QFETCH(QString, guard);
        m_fake.triggerDelay = 5;
        m_alarm->setTag(Switch::Mouse, 1);
        if (guard == QLatin1String("waiting")) {
            m_fake.activationDelay = 10;
            m_alarm->ActActivateToggleExecute();
        } else if (guard != QLatin1String("disarmed")) {
            Arm();
        }
        if (guard == QLatin1String("mute"))
            m_alarm->TimTempMute.start();
        if (guard == QLatin1String("queue"))
            m_alarm->tasks().append(TaskQueue::MakeRecord(0, 0, 0));
        m_fake.playing = guard == QLatin1String("playing");

        const QStringList before = m_report->lines();
        const bool muted = m_alarm->TimTempMute.isActive();
        const int queued = m_alarm->tasks().count();
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
        QCOMPARE(m_report->lines(), before);
        QCOMPARE(m_alarm->TimTempMute.isActive(), muted);
        QVERIFY(!m_alarm->TimTriggerDelay.isActive());
        QVERIFY(!m_alarm->TimTriggerDelayFlash.isActive());
        QCOMPARE(m_alarm->tasks().count(), queued);
    }

    void acceptedTriggerQueuesARun()
    {
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Microphone detected"));
        QVERIFY(m_alarm->TimTempMute.isActive());
        QCOMPARE(m_alarm->tasks().count(), 1); // both sliders at 0

        m_fake.persistence = 100;
        m_fake.persistenceRandom = 100;
        m_fake.randomLargest = true;
        m_alarm->tasks().clear();
        m_alarm->TimTempMuteTimer();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        QCOMPARE(m_alarm->tasks().count(), 200);
    }

    void emptySoundListReportsButStaysSilent()
    {
        m_fake.checked.clear();
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Mouse detected"));
        QVERIFY(m_alarm->tasks().isEmpty());
    }

    void temporaryMute()
    {
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        m_alarm->tasks().clear(); // as if the run had played out
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Mouse detected"));
        QVERIFY(m_alarm->tasks().isEmpty());
        m_alarm->TimTempMuteTimer();
        QVERIFY(!m_alarm->TimTempMute.isActive());
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Microphone detected"));
        QCOMPARE(m_alarm->tasks().count(), 1);
    }

    void triggerDelayIsNotExtended()
    {
        m_fake.triggerDelay = 10;
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        QVERIFY(m_alarm->TimTriggerDelay.isActive());
        QVERIFY(m_alarm->TimTriggerDelayFlash.isActive());
        QCOMPARE(m_alarm->TimTriggerDelay.interval(), 10000);
        QVERIFY(m_alarm->tasks().isEmpty());
        const int remainingAtFirst = m_alarm->TimTriggerDelay.remainingTime();

        QTest::qWait(60);
        m_alarm->TimTempMuteTimer(); // 1.5 s later
        m_fake.triggerDelay = 20;
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Microphone detected"));
        QCOMPARE(m_alarm->TimTriggerDelay.interval(), 10000);
        // Still counting down from the first trigger, not started afresh.
        QVERIFY(m_alarm->TimTriggerDelay.remainingTime() <= remainingAtFirst - 40);
        QVERIFY(m_alarm->tasks().isEmpty());

        m_alarm->TimTriggerDelayFlashTimer();
        QVERIFY(m_alarm->ledLit(Led::TriggerDelay));
        m_alarm->TimTriggerDelayTimer();
        QVERIFY(!m_alarm->ledLit(Led::TriggerDelay));
        QVERIFY(!m_alarm->TimTriggerDelay.isActive());
        QVERIFY(!m_alarm->TimTriggerDelayFlash.isActive());
        QCOMPARE(m_alarm->tasks().count(), 1); // one run for both triggers
    }

    void simulationTime_data()
    {
        QTest::addColumn<int>("every");
        QTest::addColumn<int>("random");
        QTest::addColumn<bool>("largest");
        QTest::addColumn<quint32>("expected");
        QTest::addColumn<quint32>("spreadAsked");
        QTest::newRow("defaults") << 5 << 0 << true << 300000u << 0u;
        QTest::newRow("random 10, least") << 5 << 10 << false << 300000u << 600000u;
        QTest::newRow("random 10, most") << 5 << 10 << true << 899999u << 600000u;
        QTest::newRow("largest") << 1440 << 1440 << true << 172799999u << 86400000u;
    }
    void simulationTime()
    {
        QFETCH(int, every);
        QFETCH(int, random);
        QFETCH(bool, largest);
        QFETCH(quint32, expected);
        QFETCH(quint32, spreadAsked);
        m_fake.simulateEvery = every;
        m_fake.simulateRandom = random;
        m_fake.randomLargest = largest;
        QCOMPARE(m_alarm->GetSimulationTime(), expected);
        if (spreadAsked)
            QCOMPARE(m_fake.randomAsked, QList<quint32>{spreadAsked});
        m_alarm->StartSimulation();
        QVERIFY(m_alarm->TimSimulation.isActive());
        QCOMPARE(m_alarm->TimSimulation.interval(), int(expected));
        m_alarm->StopSimulation();
        QVERIFY(!m_alarm->TimSimulation.isActive());
    }

    void simulatedAlarm_data()
    {
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("armed") << true << false << true;
        QTest::newRow("disarmed") << false << false << false;
        QTest::newRow("while a run plays") << true << true << false;
    }
    void simulatedAlarm()
    {
        QFETCH(bool, armed);
        QFETCH(bool, playing);
        QFETCH(bool, accepted);
        m_alarm->setTag(Switch::Simulation, 1);
        if (armed)
            Arm();
        m_fake.playing = playing;
        m_fake.simulateRandom = 10;
        m_fake.randomLargest = true;
        m_alarm->StartSimulation();
        const int lines = m_report->count();
        QSignalSpy fired(m_alarm.get(), &AlarmControl::simulationFired);
        QSignalSpy leds(m_alarm.get(), &AlarmControl::ledChanged);

        m_alarm->TimSimulationTimer();
        QCOMPARE(fired.size(), 1);
        QCOMPARE(m_report->count(), lines + (accepted ? 1 : 0));
        if (accepted)
            QCOMPARE(ReportMessages().last(), QStringLiteral("Alarm simulated"));
        QCOMPARE(m_alarm->tasks().isEmpty(), !accepted);
        // Rescheduled and blinking either way.
        QVERIFY(m_alarm->TimSimulation.isActive());
        QCOMPARE(m_alarm->TimSimulation.interval(), 899999);
        QVERIFY(m_alarm->ledLit(Led::Simulation));
        QVERIFY(m_alarm->TimLedSim.isActive());
        QCOMPARE(leds.size(), 1);
        QCOMPARE(leds.first().at(0).value<Led>(), Led::Simulation);
        m_alarm->TimLedSimTimer();
        QVERIFY(!m_alarm->ledLit(Led::Simulation));
        QVERIFY(!m_alarm->TimLedSim.isActive());
    }

    void taskTimerPlaysInOrder()
    {
        m_fake.checked = {QStringLiteral("a.wav"), QStringLiteral("b b.mp3"),
                          QStringLiteral("c.wav")};
        TaskQueue &queue = m_alarm->tasks();
        queue.append(TaskQueue::MakeRecord(2, 17, 0));
        queue.append(QStringLiteral("garbage"));
        queue.append(TaskQueue::MakeRecord(1, 3, 2));
        queue.append(TaskQueue::MakeRecord(7, 3, 1)); // its sound left the list
        queue.append(TaskQueue::MakeRecord(0, 999, 1));

        m_fake.playing = true;
        m_alarm->TimTaskTimer();
        QCOMPARE(queue.count(), 5);
        QVERIFY(m_fake.played.isEmpty());

        m_fake.playing = false;
        m_alarm->TimTaskTimer();
        QCOMPARE(m_fake.played, (QList<Played>{{0, 0, QStringLiteral("/snd/c.wav")}}));
        m_alarm->TimTaskTimer(); // the bad record is dropped without sound
        QCOMPARE(queue.count(), 3);
        QCOMPARE(m_fake.played.size(), 1);
        m_alarm->TimTaskTimer();
        QCOMPARE(m_fake.played.last(), (Played{0, 2, QStringLiteral("/snd/b b.mp3")}));
        m_fake.playing = true;
        m_alarm->TimTaskTimer();
        QCOMPARE(queue.count(), 2);
        m_fake.playing = false;
        m_alarm->TimTaskTimer(); // index 7 names no sound: consumed silently
        QCOMPARE(m_fake.played.size(), 2);
        m_alarm->TimTaskTimer();
        QCOMPARE(m_fake.played.last(), (Played{0, 1, QStringLiteral("/snd/a.wav")}));
        QVERIFY(queue.isEmpty());
        m_alarm->TimTaskTimer();
        QCOMPARE(m_fake.played.size(), 3);
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
        try {
            m_alarm->ActActivateToggleExecute();
        } catch (const RegistryError &) {
            // a failed delete may or may not be reported; the rest must be done
        }
        QVERIFY(!m_alarm->isOn(Switch::Alarm));
        QVERIFY(!AutostartEntryExists());
        QVERIFY(m_alarm->tasks().isEmpty());
        QCOMPARE(m_fake.stopSoundsCalls, 1);
        QCOMPARE(ReportMessages().last(), QStringLiteral("Alarm - Stoped"));
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
