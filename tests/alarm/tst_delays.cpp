// The delays the user sets never end early, however the system groups its
// timers: each is measured against a monotonic clock from the moment it was
// started. Only lower bounds are checked (a loaded machine may be late).

#include "alarm/AlarmControl.h"
#include "common/TestMain.h"
#include "report/ReportLog.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

namespace {

struct Delays
{
    int activation = 0, trigger = 0;

    AlarmControl::Hooks hooks()
    {
        AlarmControl::Hooks h;
        h.activationDelay = [this] { return activation; };
        h.triggerDelay = [this] { return trigger; };
        h.simulateEvery = [] { return 5; };
        h.simulateRandom = [] { return 0; };
        h.checkedSounds = [] { return QStringList{QStringLiteral("siren.wav")}; };
        h.soundsFolder = [] { return QStringLiteral("/snd/"); };
        h.executablePath = QStringLiteral("/opt/tarvo2/tarvo2");
        return h;
    }
};

// Runs until the timer's timeout; returns the milliseconds since `clock` started.
qint64 ElapsedAtTimeout(QTimer &timer, const QElapsedTimer &clock)
{
    qint64 at = -1;
    const auto connection =
        QObject::connect(&timer, &QTimer::timeout, [&] { at = clock.elapsed(); });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(at >= 0, 60000); }();
    QObject::disconnect(connection);
    return at;
}

} // namespace

class TestDelays : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void delayNeverEndsEarly_data();
    void delayNeverEndsEarly();
};

void TestDelays::delayNeverEndsEarly_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<int>("seconds");
    // Lengths a grouping timer would round: whole seconds, odd and even.
    QTest::newRow("activation 1 s") << QStringLiteral("activation") << 1;
    QTest::newRow("activation 2 s") << QStringLiteral("activation") << 2;
    QTest::newRow("trigger 1 s") << QStringLiteral("trigger") << 1;
    QTest::newRow("temporary mute") << QStringLiteral("mute") << 0;
}

void TestDelays::delayNeverEndsEarly()
{
    QFETCH(QString, which);
    QFETCH(int, seconds);
    QTemporaryDir dir;
    ReportLog report(dir.path() + u'/');
    Delays delays;
    AlarmControl control(report, delays.hooks());
    control.setTag(AlarmControl::Switch::Alarm, 1);
    QElapsedTimer clock;
    qint64 expected = 0, elapsed = 0;

    // Several rounds: where a timer lands in a grouping slot depends on the
    // moment it starts.
    for (int round = 0; round < 2; ++round) {
        if (which == QLatin1String("activation")) {
            delays.activation = seconds;
            expected = seconds * 1000;
            clock.start();
            control.StartOrDelayStart();
            QVERIFY(control.isWaitingForActivation());
            elapsed = ElapsedAtTimeout(control.TimActivationDelay, clock);
            QVERIFY(control.isArmed());
        } else {
            delays.trigger = seconds;
            expected =
                which == QLatin1String("mute") ? AlarmControl::TempMuteInterval : seconds * 1000;
            control.StartOrDelayStart(); // no activation delay: armed at once
            control.tasks().clear();
            control.TimTempMute.stop();
            control.TimTriggerDelay.stop();
            clock.start();
            control.ActivateAlarm(QStringLiteral("Mouse moved"));
            QTimer &timer =
                which == QLatin1String("mute") ? control.TimTempMute : control.TimTriggerDelay;
            QVERIFY(timer.isActive());
            elapsed = ElapsedAtTimeout(timer, clock);
        }
        QVERIFY2(
            elapsed >= expected,
            qPrintable(QStringLiteral("%1 ms delay ended after %2 ms").arg(expected).arg(elapsed)));
    }
}

TARVO_TEST_MAIN(TestDelays)
#include "tst_delays.moc"
