// Which places an armed alarm holds, without a window: everything is open
// while disarmed; the places held while the switch is on stay closed while
// arming and armed; the PIN's places close only while a PIN guards; and a
// place missing from the list is held rather than left open.

#include "AlarmFixture.h"
#include "alarm/ArmedReach.h"
#include "common/TestMain.h"

using Place = ArmedReach::Place;
using Hold = ArmedReach::Hold;

class TestArmedReach : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    tarvo::test::ProtectedAlarm m_fixture;
    int m_activationDelay = 0;

private Q_SLOTS:
    void init() { QVERIFY(m_fixture.start(m_dir, m_activationDelay)); }
    void cleanup() { m_fixture.stop(); }

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
            QVERIFY(m_fixture.protection->setPin(QStringLiteral("2580"), 1000));
        if (activationDelay >= 0) {
            m_activationDelay = activationDelay;
            m_fixture.alarm->ActActivateToggleExecute();
            QVERIFY(m_fixture.alarm->armState() != AlarmControl::ArmState::Disarmed);
        }
        const ArmedReach reach(*m_fixture.alarm, *m_fixture.protection);
        for (const ArmedReach::Entry &entry : ArmedReach::Places) {
            const bool open = entry.hold == Hold::WhilePinGuards ? pinPlacesOpen : switchPlacesOpen;
            QVERIFY2(reach.reachable(entry.place) == open,
                     qPrintable(QString::number(int(entry.place))));
        }
        // What shows where alerts go waits for the PIN like the settings.
        QCOMPARE(reach.reachable(Place::Alerts), reach.reachable(Place::Settings));
        QCOMPARE(reach.reachable(Place(1000)), switchPlacesOpen); // not listed
    }
};

TARVO_TEST_MAIN(TestArmedReach)
#include "tst_armedreach.moc"
