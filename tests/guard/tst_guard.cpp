// The guard without a window: each detector's intrusion reaches the report
// and a local alert receiver; requests from outside are on the record and
// never pass the PIN by themselves.

#include "common/GuardFixture.h"
#include "common/TestMain.h"

#include "alarm/Autostart.h"
#include "alerts/AlertServer.h"
#include "guard/Guard.h"
#include "guard/GuardCommands.h"
#include "guard/ReachServices.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

using S = AlarmControl::Switch;
using Origin = Guard::Origin;
using tarvo::test::ReportHas;

class TestGuard : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    // A started guard with one checked sound, no delays and the simulation on.
    std::unique_ptr<Guard> makeGuard()
    {
        auto guard = tarvo::test::StartedGuard(m_dir->path());
        if (guard)
            guard->flipSwitch(S::Simulation);
        return guard;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(RegistryFilePath());
        QFile::remove(AlertQueue::DefaultPath(RegistryFilePath()));
        QFile::remove(ArmedMarker::DefaultPath(RegistryFilePath()));
        RemoveAutostartEntry();
    }

    void intrusionReachesReportAndReceiver_data()
    {
        QTest::addColumn<QString>("detector");
        QTest::addColumn<QString>("line");
        QTest::newRow("mouse") << "mouse" << "Mouse detected";
        QTest::newRow("keyboard") << "keyboard" << "Keyboard detected";
        QTest::newRow("pointer activity") << "pointer" << "Activity detected";
        QTest::newRow("microphone level") << "microphone" << "Microphone detected";
    }
    void intrusionReachesReportAndReceiver()
    {
        QFETCH(QString, detector);
        QFETCH(QString, line);
        AlertServer server;
        QVERIFY(server.start());
        AlertConfig config;
        config.url = server.url(QStringLiteral("/desk"));
        config.kind = AlertConfig::KindFromName(QStringLiteral("ntfy"));
        config.save();

        auto guard = makeGuard();
        QVERIFY(guard);
        QSignalSpy states(guard.get(), &Guard::stateChanged);
        QCOMPARE(GuardCommands::Arm(*guard, Origin::CommandLine), QString());
        QVERIFY(guard->alarm().isArmed());
        QVERIFY(ReportHas(*guard, QStringLiteral("Armed from the command line")));

        if (detector == QLatin1String("mouse")) {
            Q_EMIT guard->mouse().detected();
        } else if (detector == QLatin1String("keyboard")) {
            Q_EMIT guard->activity().keyboardDetected(line);
        } else if (detector == QLatin1String("pointer")) {
            Q_EMIT guard->activity().pointerDetected(line);
        } else {
            guard->settings().setValue(QStringLiteral("trkMicTriggerDuration"), 0);
            guard->settings().setValue(QStringLiteral("trkMicTriggerVolume"), 0);
            Q_EMIT guard->microphone().levelReceived(30000);
        }
        QVERIFY(ReportHas(*guard, line));
        QCOMPARE(guard->state(), Guard::State::Alarm);
        QCOMPARE(guard->lastAlarmLine(), line);
        const auto alarmSent = [&server, &line] {
            for (const QJsonObject &request : server.requests())
                if (request.value(QStringLiteral("body")).toString().endsWith(line) &&
                    AlertServer::priorityOf(request) == QLatin1String("5"))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(alarmSent(), 30000);

        QCOMPARE(GuardCommands::Disarm(*guard, QString(), false, Origin::Desktop),
                 QString::fromLatin1(GuardCommands::Disarmed));
        QVERIFY(ReportHas(*guard, QStringLiteral("Disarmed from the desktop")));
        QCOMPARE(guard->state(), Guard::State::Disarmed);
        QVERIFY(states.size() >= 2);
        QCOMPARE(states.constLast().at(0).value<Guard::State>(), Guard::State::Disarmed);
    }

    void outsideDisarmNeedsThePin()
    {
        auto guard = makeGuard();
        QVERIFY(guard);
        QVERIFY(guard->protection().setPin(QStringLiteral("2468"), 1000));
        QCOMPARE(GuardCommands::Answer(*guard, "arm"), QByteArray("armed"));
        const QJsonObject status = QJsonDocument::fromJson(GuardCommands::StatusJson(*guard)).object();
        QCOMPARE(status.value(QStringLiteral("state")).toString(), QStringLiteral("armed"));
        QVERIFY(status.value(QStringLiteral("detectors")).toVariant().toStringList().contains(
            QStringLiteral("simulation")));

        QSignalSpy asked(guard.get(), &Guard::pinRequested);
        QCOMPARE(GuardCommands::Answer(*guard, "disarm"),
                 QByteArray(GuardCommands::PinNeeded));
        QCOMPARE(GuardCommands::Answer(*guard, "disarm-ask"), QByteArray(GuardCommands::PinAsked));
        QCOMPARE(asked.size(), 1);
        QVERIFY(ReportHas(*guard, QStringLiteral("Disarm asked from the command line")));
        QVERIFY(guard->alarm().isOn(S::Alarm));

        // Wrong PINs from outside count like the window's: the third sounds.
        QSignalSpy raised(&guard->alarm(), &AlarmControl::alarmRaised);
        for (int i = 0; i < DisarmProtection::TriesBeforeAlarm; ++i)
            QCOMPARE(GuardCommands::Answer(*guard, "disarm 1111"),
                     QByteArray(GuardCommands::WrongPin));
        QCOMPARE(raised.size(), 1);
        QVERIFY(guard->alarm().isOn(S::Alarm));
        QCOMPARE(GuardCommands::Answer(*guard, "disarm 2468"), QByteArray(GuardCommands::Disarmed));
        QVERIFY(!guard->alarm().isOn(S::Alarm));
        QVERIFY(GuardCommands::Answer(*guard, "nonsense").isEmpty());
    }

    // No sound server yet (an armed resume at login): the guard goes on and
    // takes the devices once they are there; only a start that is to listen
    // at once ends with the message.
    void startsWithoutSoundServer_data()
    {
        QTest::addColumn<bool>("resumeArmed");
        QTest::addColumn<bool>("microphoneOn");
        QTest::addColumn<QString>("fault");
        QTest::newRow("armed resume") << true << true << QString();
        QTest::newRow("microphone off") << false << false << QString();
        QTest::newRow("microphone on") << false << true << "Cannot start recording device!";
    }
    void startsWithoutSoundServer()
    {
        QFETCH(bool, resumeArmed);
        QFETCH(bool, microphoneOn);
        QFETCH(QString, fault);
        if (resumeArmed)
            WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        if (microphoneOn)
            WriteRegString(StoreKeys::Settings, QStringLiteral("ActMicDetectToggle"),
                           StoreKeys::SwitchOn);
        qputenv("SDL_AUDIODRIVER", "no-such-driver");
        auto guard = std::make_unique<Guard>(m_dir->path() + QLatin1Char('/'));
        const QString started = guard->start();
        qputenv("SDL_AUDIODRIVER", "dummy"); // the server is there now
        QCOMPARE(started, fault);
        if (!fault.isEmpty())
            return;
        QVERIFY(ReportHas(*guard, QStringLiteral("Sound device not available; trying again")));
        QTRY_VERIFY_WITH_TIMEOUT(ReportHas(*guard, QStringLiteral("Sound device restored")), 30000);
    }

    void armingRefusedWithoutDetectorOrSound()
    {
        auto guard = makeGuard();
        QVERIFY(guard);
        guard->flipSwitch(S::Simulation); // off again: no detector
        QVERIFY(GuardCommands::Answer(*guard, "arm").startsWith("refused: no detector"));
        QVERIFY(!guard->alarm().isOn(S::Alarm));
        QVERIFY(ReportHas(*guard, QStringLiteral(
                                      "Arming from the command line refused: no detector is "
                                      "switched on")));
    }
};

TARVO_TEST_MAIN(TestGuard)
#include "tst_guard.moc"
