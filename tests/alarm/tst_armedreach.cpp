// Which places an armed alarm holds, without a window: everything is open
// while disarmed; the places held while the switch is on stay closed while
// arming and armed; the PIN's places close only while a PIN guards; and a
// place missing from the list is held rather than left open.

#include "AlarmFixture.h"
#include "alarm/ArmedReach.h"
#include "alarm/DisarmProtection.h"
#include "common/TestMain.h"

using Place = ArmedReach::Place;
using Hold = ArmedReach::Hold;

class TestArmedReach : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<ReportLog> m_report;
    std::unique_ptr<AlarmControl> m_alarm;
    std::unique_ptr<DisarmProtection> m_protection;
    int m_activationDelay = 0;

private Q_SLOTS:
    void init()
    {
        m_report = tarvo::test::freshAlarmReport(m_dir);
        QVERIFY(m_report);
        m_alarm = tarvo::test::mouseAlarm(*m_report, m_activationDelay);
        m_protection = std::make_unique<DisarmProtection>(*m_alarm, *m_report);
        m_protection->Load();
    }
    void cleanup()
    {
        m_protection.reset();
        m_alarm.reset();
        RemoveAutostartEntry();
    }

    void reachable_data()
    {
        QTest::addColumn<int>("activationDelay"); // -1: not armed
        QTest::addColumn<bool>("pin");
        QTest::addColumn<bool>("pinPlacesOpen");
        QTest::addColumn<bool>("switchPlacesOpen");
        QTest::newRow("disarmed") << -1 << false << true << true;
        QTest::newRow("disarmed with a PIN") << -1 << true << true << true;
        QTest::newRow("armed") << 0 << false << true << false;
        QTest::newRow("armed with a PIN") << 0 << true << false << false;
        QTest::newRow("arming with a PIN") << 30 << true << false << false;
        QTest::newRow("arming") << 30 << false << true << false;
    }
    void reachable()
    {
        QFETCH(int, activationDelay);
        QFETCH(bool, pin);
        QFETCH(bool, pinPlacesOpen);
        QFETCH(bool, switchPlacesOpen);
        if (pin)
            QVERIFY(m_protection->setPin(QStringLiteral("2580"), 1000));
        if (activationDelay >= 0) {
            m_activationDelay = activationDelay;
            m_alarm->ActActivateToggleExecute();
            QVERIFY(m_alarm->armState() != AlarmControl::ArmState::Disarmed);
        }
        const ArmedReach reach(*m_alarm, *m_protection);
        for (const ArmedReach::Entry &entry : ArmedReach::Places) {
            const bool open = entry.hold == Hold::WhilePinGuards ? pinPlacesOpen : switchPlacesOpen;
            QVERIFY2(reach.reachable(entry.place) == open,
                     qPrintable(QString::number(int(entry.place))));
        }
    }

    void whatEachPlaceNeeds_data()
    {
        QTest::addColumn<int>("place");
        QTest::addColumn<int>("hold");
        // What reveals or changes where alerts go, or the settings the owner
        // may tune while armed, waits for the PIN; the rest waits for disarming.
        QTest::newRow("alerts") << int(Place::Alerts) << int(Hold::WhilePinGuards);
        QTest::newRow("settings") << int(Place::Settings) << int(Hold::WhilePinGuards);
        QTest::newRow("sound import") << int(Place::SoundImport) << int(Hold::WhileOn);
        QTest::newRow("sound removal") << int(Place::SoundRemoval) << int(Hold::WhileOn);
        QTest::newRow("calibration") << int(Place::Calibration) << int(Hold::WhileOn);
        QTest::newRow("not listed") << 1000 << int(Hold::WhileOn);
    }
    void whatEachPlaceNeeds()
    {
        QFETCH(int, place);
        QFETCH(int, hold);
        QCOMPARE(int(ArmedReach::holdOf(Place(place))), hold);
        int listed = 0;
        for (const ArmedReach::Entry &entry : ArmedReach::Places)
            listed += entry.place == Place(place) ? 1 : 0;
        QCOMPARE(listed, place == 1000 ? 0 : 1); // once each, so one rule holds
    }
};

TARVO_TEST_MAIN(TestArmedReach)
#include "tst_armedreach.moc"
