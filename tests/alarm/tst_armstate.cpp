// What the alarm tells the services that follow it: its arm state, each
// accepted trigger, and every report line it writes.

#include "AlarmFixture.h"
#include "common/TestMain.h"

#include <QSignalSpy>

using ArmState = AlarmControl::ArmState;

class TestArmState : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<ReportLog> m_report;
    std::unique_ptr<AlarmControl> m_alarm;
    int m_activationDelay = 0;
    QStringList m_observed;

private Q_SLOTS:
    void init()
    {
        m_report = tarvo::test::freshAlarmReport(m_dir);
        QVERIFY(m_report);
        m_observed.clear();
        m_activationDelay = 0;
        m_report->addLineObserver([this](const QString &message, const QString &line) {
            QVERIFY(line.endsWith(message));
            m_observed.append(message);
        });
        m_alarm = tarvo::test::mouseAlarm(*m_report, m_activationDelay);
    }
    void cleanup()
    {
        m_alarm.reset();
        RemoveAutostartEntry();
    }

    void statesThroughTheDelay()
    {
        m_activationDelay = 5;
        QSignalSpy states(m_alarm.get(), &AlarmControl::armStateChanged);
        QCOMPARE(m_alarm->armState(), ArmState::Disarmed);
        m_alarm->ActActivateToggleExecute();
        QCOMPARE(m_alarm->armState(), ArmState::Arming);
        m_alarm->TimActivationDelayTimer();
        QCOMPARE(m_alarm->armState(), ArmState::Armed);
        m_alarm->ActActivateToggleExecute();
        QCOMPARE(m_alarm->armState(), ArmState::Disarmed);
        QCOMPARE(states.size(), 3);
        QCOMPARE(states.at(0).at(0).value<ArmState>(), ArmState::Arming);
        QCOMPARE(states.at(1).at(0).value<ArmState>(), ArmState::Armed);
        QCOMPARE(states.at(2).at(0).value<ArmState>(), ArmState::Disarmed);
    }

    void cancelledDelayGoesBackToDisarmed()
    {
        m_activationDelay = 5;
        QSignalSpy states(m_alarm.get(), &AlarmControl::armStateChanged);
        m_alarm->ActActivateToggleExecute();
        m_alarm->EscapeDisarm();
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.at(1).at(0).value<ArmState>(), ArmState::Disarmed);
    }

    void onlyAcceptedTriggersAreRaised()
    {
        QSignalSpy raised(m_alarm.get(), &AlarmControl::alarmRaised);
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected")); // disarmed: refused
        QCOMPARE(raised.size(), 0);
        m_alarm->ActActivateToggleExecute();
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected"));
        m_alarm->ActivateAlarm(QStringLiteral("Mouse detected")); // temporary mute
        QCOMPARE(raised.size(), 1);
        QCOMPARE(raised.at(0).at(0).toString(), QStringLiteral("Mouse detected"));
        QVERIFY(m_observed.contains(QStringLiteral("Alarm - Activated")));
        QCOMPARE(m_observed.constLast(), QStringLiteral("Mouse detected"));
        QCOMPARE(m_observed.size(), m_report->count());
    }
};

TARVO_TEST_MAIN(TestArmState)
#include "tst_armstate.moc"
