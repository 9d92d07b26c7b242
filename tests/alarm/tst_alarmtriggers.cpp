// The alarm's triggers against a fake window: which ones are refused, the
// runs they queue, the temporary mute and the trigger delay, the simulated
// alarm, and the task timer that plays a run.

#include "AlarmFixture.h"
#include "common/TestMain.h"

#include <QSignalSpy>

class TestAlarmTriggers : public tarvo::test::AlarmRulesTest
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(startFresh()); }
    void cleanup() { m_alarm.reset(); }

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
        QVERIFY(m_fake.played.isEmpty());
        QCOMPARE(m_fake.prepareOutputCalls, 0);
    }

    // An accepted trigger's first sound starts at once, before its report
    // line reaches the disk and before anyone hears of the trigger; the
    // report's lines keep their order.
    void firstSoundComesFirst_data()
    {
        QTest::addColumn<int>("triggerDelay");
        QTest::newRow("no trigger delay") << 0;
        QTest::newRow("after a trigger delay") << 3;
    }
    void firstSoundComesFirst()
    {
        QFETCH(int, triggerDelay);
        m_fake.triggerDelay = triggerDelay;
        m_fake.persistence = 2;
        AlarmControl::Hooks hooks = m_fake.hooks();
        QStringList steps;
        hooks.prepareOutput = [&steps] { steps.append(QStringLiteral("prepare")); };
        hooks.playHow = [&](int, int, const QString &) {
            steps.append(QStringLiteral("play, %1 lines").arg(FileMessages().size()));
        };
        m_alarm = std::make_unique<AlarmControl>(*m_report, std::move(hooks));
        connect(m_alarm.get(), &AlarmControl::alarmRaised, this, [&](const QString &message) {
            steps.append(QStringLiteral("raised, last line %1").arg(FileMessages().last()));
            QCOMPARE(message, QStringLiteral("Mouse detected"));
        });
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();

        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        if (triggerDelay > 0) {
            QCOMPARE(steps, (QStringList{QStringLiteral("prepare"),
                                         QStringLiteral("raised, last line Mouse detected")}));
            steps.clear();
            m_alarm->TimTriggerDelayTimer();
            QCOMPARE(steps, QStringList{QStringLiteral("play, 3 lines")});
        } else {
            QCOMPARE(steps, (QStringList{QStringLiteral("prepare"), QStringLiteral("play, 2 lines"),
                                         QStringLiteral("raised, last line Mouse detected")}));
        }
        // The rest of the run waits for the task timer's ticks.
        QCOMPARE(m_alarm->tasks().count(), 2);
        m_alarm->EscapeDisarm();
        const QStringList expected{
            QStringLiteral("Mouse Detection - Enabled"), QStringLiteral("Alarm - Activated"),
            QStringLiteral("Mouse detected"), QStringLiteral("Alarm - Stoped")};
        QCOMPARE(FileMessages(), expected);
        QCOMPARE(ReportMessages(), expected);
    }

    void acceptedTriggerQueuesARun()
    {
        m_alarm->setTag(Switch::Mouse, 1);
        Arm();
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
        QCOMPARE(ReportMessages().last(), QStringLiteral("Microphone detected"));
        QVERIFY(m_alarm->TimTempMute.isActive());
        // One record (both sliders at 0), started at once.
        QCOMPARE(m_fake.played.size(), 1);
        QVERIFY(m_alarm->tasks().isEmpty());

        m_fake.persistence = 100;
        m_fake.persistenceRandom = 100;
        m_fake.randomLargest = true;
        m_alarm->tasks().clear();
        m_alarm->TimTempMuteTimer();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        QCOMPARE(m_fake.played.size(), 2);
        QCOMPARE(m_alarm->tasks().count(), 199);
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
        QCOMPARE(m_fake.played.size(), 2);
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
        QVERIFY(m_fake.played.isEmpty());
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
        // One run for both triggers, its first sound started at once.
        QCOMPARE(m_fake.played.size(), 1);
        QVERIFY(m_alarm->tasks().isEmpty());
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
        QCOMPARE(m_fake.played.size(), accepted ? 1 : 0);
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
};

TARVO_TEST_MAIN(TestAlarmTriggers)
#include "tst_alarmtriggers.moc"
