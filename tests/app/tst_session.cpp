// The window with its session services on a private system bus (dbusmock's
// logind and upower) and a private PulseAudio server: the sleep lock
// follows arming, the lid and the power cable raise the alarm only while
// armed and only with their switches on, muting or turning down the sink
// is an intrusion whose run is heard at full volume, and missing services
// leave one note each in the report.

#include "common/TestMain.h"

#include "app/fmMain.h"
#include "audio/PrivateSoundServer.h"
#include "audio/SinkGuard.h"
#include "audio/TestSounds.h"
#include "desktop/MockSystemBus.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QMenuBar>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTemporaryDir>

using tarvo::test::MockSystemBus;
using tarvo::test::PrivateSoundServer;
using S = AlarmControl::Switch;

namespace {
const QString Login1 = QStringLiteral("org.freedesktop.login1");
const QString Login1Path = QStringLiteral("/org/freedesktop/login1");
const QString Manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString UPower = QStringLiteral("org.freedesktop.UPower");
const QString UPowerPath = QStringLiteral("/org/freedesktop/UPower");
const QString Speakers = QStringLiteral("speakers");
const QString Mic = QStringLiteral("mic");
constexpr int Timeout = 15000;
} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MockSystemBus> m_bus;
    std::unique_ptr<PrivateSoundServer> m_sound;
    std::unique_ptr<PrivateSoundServer> m_pipewire;
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_observed; // every report line, across arming's clearing

    QString workingDirectory() const { return m_dir->path() + QLatin1Char('/'); }

    std::unique_ptr<TfrmMain> makeWindow(const QList<S> &switchesOn)
    {
        const QString sounds = workingDirectory() + QStringLiteral("Sounds/");
        QDir().mkpath(sounds);
        tarvo::test::writeTone(sounds + QStringLiteral("tone.wav"), 44100, 22050, 440);
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("tone.wav"), QStringLiteral("T"));
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), QStringLiteral("T"));
        for (S which : {S::Lid, S::PowerCable})
            WriteRegString(StoreKeys::Settings, AlarmControl::storeName(which),
                           switchesOn.contains(which) ? StoreKeys::SwitchOn : StoreKeys::SwitchOff);
        auto window = std::make_unique<TfrmMain>(workingDirectory());
        window->setMessageSink([](TfrmMain::MessageKind, const QString &) {});
        if (!window->FormCreate())
            return nullptr;
        window->spnActivationDelay->setValue(0);
        window->spnTriggerDelay->setValue(0);
        window->trkPersistence->setValue(0); // a run of one short sound
        window->trkPersistenceRandom->setValue(0);
        window->report().addLineObserver(
            [this](const QString &message, const QString &) { m_observed << message; });
        return window;
    }

    // The sleep locks Tarvo2 holds (the shutdown delay lock of the stop
    // notice is not this test's subject); -1 when logind cannot be asked.
    int inhibitors()
    {
        if (!m_bus->connection().interface()->isServiceRegistered(Login1))
            return -1;
        int count = 0;
        for (const tarvo::test::Inhibitor &lock : tarvo::test::ListInhibitors(*m_bus))
            count += lock.who == QLatin1String("Tarvo2") && lock.mode == QLatin1String("block");
        return count;
    }

    bool startServices()
    {
        return m_bus->startTemplate(QStringLiteral("logind"), Login1) &&
               m_bus->setProperty(Login1, Login1Path, Manager, QStringLiteral("LidPresent"),
                                  true) &&
               m_bus->setProperty(Login1, Login1Path, Manager, QStringLiteral("LidClosed"),
                                  false) &&
               m_bus->startTemplate(QStringLiteral("upower"), UPower);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Before anything asks Qt for the system bus or libpulse for a server.
        m_bus = std::make_unique<MockSystemBus>();
        QVERIFY(!m_bus->address().isEmpty());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus->address().toUtf8());
        m_sound = std::make_unique<PrivateSoundServer>(PrivateSoundServer::Kind::PulseAudio);
        QVERIFY(m_sound->ready());
        qputenv("PULSE_SERVER", m_sound->serverString().toUtf8());
        m_pipewire = std::make_unique<PrivateSoundServer>(PrivateSoundServer::Kind::PipeWire);
        QVERIFY(m_pipewire->ready());
        for (PrivateSoundServer *server : {m_sound.get(), m_pipewire.get()})
            QVERIFY(server->addSource(Mic, true));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_observed.clear();
        QFile::remove(RegistryFilePath());
        m_sound->pactl({"set-sink-mute", Speakers, "0"});
        m_sound->pactl({"set-sink-volume", Speakers, "100%"});
    }

    void cleanup()
    {
        m_bus->stopServices();
        qputenv("PULSE_SERVER", m_sound->serverString().toUtf8());
    }

    void lockFollowsArming()
    {
        QVERIFY(startServices());
        auto w = makeWindow({});
        QVERIFY(w);
        w->spnActivationDelay->setValue(2);
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isWaitingForActivation());
        QTRY_COMPARE_WITH_TIMEOUT(inhibitors(), 1, Timeout); // during the delay already
        QTRY_VERIFY_WITH_TIMEOUT(w->alarm().isArmed(), Timeout);
        QCOMPARE(inhibitors(), 1);
        w->ActActivateToggle->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(inhibitors(), 0, Timeout);

        // Closing keeps the alarm armed for the next start, but lets go.
        w->ActActivateToggle->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(inhibitors(), 1, Timeout);
        w->ExitProgram();
        QTRY_COMPARE_WITH_TIMEOUT(inhibitors(), 0, Timeout);
        QVERIFY(!m_observed.contains(QStringLiteral("Suspend cannot be prevented")));
        QVERIFY(!m_observed.contains(QStringLiteral("Volume guard not available")));
    }

    void lidAndCable_data()
    {
        QTest::addColumn<bool>("lidSwitch");
        QTest::addColumn<bool>("cableSwitch");
        QTest::newRow("both on") << true << true;
        QTest::newRow("lid only") << true << false;
        QTest::newRow("cable only") << false << true;
    }
    void lidAndCable()
    {
        QFETCH(bool, lidSwitch);
        QFETCH(bool, cableSwitch);
        QVERIFY(startServices());
        QList<S> on;
        if (lidSwitch)
            on << S::Lid;
        if (cableSwitch)
            on << S::PowerCable;
        auto w = makeWindow(on);
        QVERIFY(w);
        auto *lidAction = w->findChild<QAction *>(QStringLiteral("ActLidToggle"));
        auto *cableAction = w->findChild<QAction *>(QStringLiteral("ActPowerToggle"));
        QVERIFY(lidAction && cableAction);
        QCOMPARE(lidAction->isChecked(), lidSwitch);
        QCOMPARE(cableAction->isChecked(), cableSwitch);

        // Disarmed: nobody's business.
        QVERIFY(
            m_bus->changeProperty(Login1, Login1Path, Manager, QStringLiteral("LidClosed"), true));
        QVERIFY(
            m_bus->changeProperty(UPower, UPowerPath, UPower, QStringLiteral("OnBattery"), true));
        QVERIFY(
            m_bus->changeProperty(Login1, Login1Path, Manager, QStringLiteral("LidClosed"), false));
        QVERIFY(
            m_bus->changeProperty(UPower, UPowerPath, UPower, QStringLiteral("OnBattery"), false));

        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());
        QVERIFY(!lidAction->isEnabled());
        QCOMPARE(m_observed.contains(QStringLiteral("Lid Detection - Enabled")), lidSwitch);
        QCOMPARE(m_observed.contains(QStringLiteral("Power Cable Detection - Enabled")),
                 cableSwitch);
        QVERIFY(
            m_bus->changeProperty(Login1, Login1Path, Manager, QStringLiteral("LidClosed"), true));
        if (lidSwitch) {
            QTRY_VERIFY_WITH_TIMEOUT(m_observed.contains(QStringLiteral("Lid closed")), Timeout);
            // The next trigger is let through once this one's run is over.
            QTRY_VERIFY_WITH_TIMEOUT(w->alarm().tasks().isEmpty() && !w->playback().IsPlaying() &&
                                         !w->alarm().TimTempMute.isActive(),
                                     30000);
        }
        QVERIFY(
            m_bus->changeProperty(UPower, UPowerPath, UPower, QStringLiteral("OnBattery"), true));
        if (cableSwitch) {
            QTRY_VERIFY_WITH_TIMEOUT(
                m_observed.contains(QStringLiteral("Power cable disconnected")), Timeout);
        } else {
            // The lid's line came; the cable's, told after it, would have by now.
            QTest::qWait(1000);
        }
        QCOMPARE(m_observed.count(QStringLiteral("Lid closed")), lidSwitch ? 1 : 0);
        QCOMPARE(m_observed.count(QStringLiteral("Power cable disconnected")), cableSwitch ? 1 : 0);
        w->ActActivateToggle->trigger();
        m_bus->changeProperty(UPower, UPowerPath, UPower, QStringLiteral("OnBattery"), false);
    }

    void switchesStoredAndDefaulted()
    {
        // Never set: on where the machine has a lid (the mock logind says so).
        QVERIFY(startServices());
        auto w = makeWindow({});
        QVERIFY(w);
        DeleteRegValue(StoreKeys::Settings, AlarmControl::storeName(S::Lid));
        w.reset();
        m_observed.clear();
        auto fresh = std::make_unique<TfrmMain>(workingDirectory());
        QVERIFY(fresh->FormCreate());
        auto *lidAction = fresh->findChild<QAction *>(QStringLiteral("ActLidToggle"));
        QVERIFY(lidAction);
        QTRY_VERIFY_WITH_TIMEOUT(lidAction->isChecked(), Timeout);
        QVERIFY(fresh->alarm().isOn(S::Lid));
        QCOMPARE(ReadRegString(StoreKeys::Settings, AlarmControl::storeName(S::Lid)), QString());
        // Turned off by the user: stored as off, which the machine no longer overrides.
        lidAction->trigger();
        QVERIFY(!fresh->alarm().isOn(S::Lid));
        QCOMPARE(ReadRegString(StoreKeys::Settings, AlarmControl::storeName(S::Lid)),
                 StoreKeys::SwitchOff);
        QVERIFY(!fresh->alarm().ApplyMachineDefault(S::Lid, true));
        QVERIFY(!fresh->alarm().isOn(S::Lid));
    }

    void soundGuarded_data()
    {
        QTest::addColumn<bool>("pipewire");
        QTest::addColumn<QStringList>("change");
        QTest::addColumn<QString>("line");
        for (const auto &[name, pipewire] :
             {std::pair{"pulseaudio", false}, std::pair{"pipewire", true}}) {
            QTest::addRow("%s: muted", name)
                << pipewire << QStringList{"set-sink-mute", Speakers, "1"} << "Volume muted";
            QTest::addRow("%s: 20%%", name)
                << pipewire << QStringList{"set-sink-volume", Speakers, "20%"} << "Volume lowered";
        }
    }
    void soundGuarded()
    {
        QFETCH(bool, pipewire);
        QFETCH(QStringList, change);
        QFETCH(QString, line);
        PrivateSoundServer *server = pipewire ? m_pipewire.get() : m_sound.get();
        qputenv("PULSE_SERVER", server->serverString().toUtf8());
        server->pactl({"set-sink-mute", Speakers, "0"});
        server->pactl({"set-sink-volume", Speakers, "100%"});
        auto w = makeWindow({});
        QVERIFY(w);
        w->trkPersistence->setValue(3); // a run long enough to look at
        // Disarmed, the guard is not connected; it connects at arming and
        // takes its reference from the first state it hears.
        QCOMPARE(w->sinkGuard()->state(), SinkGuard::State::Idle);
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());
        QTRY_VERIFY_WITH_TIMEOUT(w->sinkGuard()->sinkState().has_value(), Timeout);
        const bool muted = server->muted(Speakers);
        server->pactl(change);
        const QList<quint32> changed = server->volume(Speakers);
        const bool changedMute = server->muted(Speakers);
        QVERIFY(changedMute != muted || changed.first() < SinkGuard::FullVolume);
        QTRY_VERIFY_WITH_TIMEOUT(m_observed.contains(line), Timeout);
        // The run is played at full, unmuted sink volume...
        QTRY_VERIFY_WITH_TIMEOUT(
            !server->muted(Speakers) &&
                server->volume(Speakers) ==
                    QList<quint32>({SinkGuard::FullVolume, SinkGuard::FullVolume}),
            Timeout);
        QVERIFY(!w->alarm().tasks().isEmpty() || w->playback().IsPlaying());
        // ... and afterwards the sink is as it was left.
        QTRY_VERIFY_WITH_TIMEOUT(w->alarm().tasks().isEmpty() && !w->playback().IsPlaying(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(server->muted(Speakers), changedMute, Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(server->volume(Speakers), changed, Timeout);
        QCOMPARE(m_observed.count(line), 1); // the guard's own changes were not intrusions
        w->ActActivateToggle->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(w->sinkGuard()->state(), SinkGuard::State::Idle, Timeout);
    }

    // The microphone's source: guarded while armed with the microphone
    // detector on, and then only.
    void microphoneGuarded_data()
    {
        QTest::addColumn<bool>("pipewire");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("line"); // empty: the detector is off
        for (const auto &[name, pipewire] :
             {std::pair{"pulseaudio", false}, std::pair{"pipewire", true}}) {
            QTest::addRow("%s: muted", name) << pipewire << "mute"
                                             << "Microphone muted";
            QTest::addRow("%s: 0%%", name) << pipewire << "volume"
                                           << "Microphone lowered";
            QTest::addRow("%s: detector off", name) << pipewire << "mute"
                                                    << "";
        }
    }
    void microphoneGuarded()
    {
        QFETCH(bool, pipewire);
        QFETCH(QString, change);
        QFETCH(QString, line);
        PrivateSoundServer *server = pipewire ? m_pipewire.get() : m_sound.get();
        qputenv("PULSE_SERVER", server->serverString().toUtf8());
        const auto reset = [server] {
            server->pactl({"set-source-mute", Mic, "0"});
            server->pactl({"set-source-volume", Mic, "100%"});
        };
        reset();
        const auto restore = qScopeGuard(reset);
        auto w = makeWindow({});
        QVERIFY(w);
        if (w->alarm().isOn(S::Microphone) == line.isEmpty())
            w->alarm().FlipSwitch(S::Microphone);
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());
        QTRY_VERIFY_WITH_TIMEOUT(w->sinkGuard()->sinkState().has_value(), Timeout);
        if (!line.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(w->sourceGuard()->sinkState().has_value(), Timeout);
        QCOMPARE(w->sourceGuard()->connected(), !line.isEmpty());
        server->pactl({"set-source-" + change, Mic, change == "mute" ? "1" : "0%"});
        QTest::qWait(1000);
        const auto intrusions = [this] {
            return m_observed.count(QStringLiteral("Microphone muted")) +
                   m_observed.count(QStringLiteral("Microphone lowered"));
        };
        QTRY_COMPARE_WITH_TIMEOUT(intrusions(), int(!line.isEmpty()), Timeout);
        QVERIFY(line.isEmpty() || m_observed.contains(line));
        w->ActActivateToggle->trigger();
    }

    void missingServicesNotedOnce()
    {
        // No logind, no UPower, and no sound server.
        m_sound->kill();
        auto w = makeWindow({S::Lid, S::PowerCable});
        QVERIFY(w);
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());
        QTRY_VERIFY_WITH_TIMEOUT(m_observed.contains(QStringLiteral("Suspend cannot be prevented")),
                                 Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(m_observed.contains(QStringLiteral("Volume guard not available")),
                                 Timeout);
        QTest::qWait(500);
        QCOMPARE(m_observed.count(QStringLiteral("Suspend cannot be prevented")), 1);
        QCOMPARE(m_observed.count(QStringLiteral("Volume guard not available")), 1);
        QVERIFY(w->alarm().isArmed());
        // Disarming and arming again notes them again, once.
        w->ActActivateToggle->trigger();
        m_observed.clear();
        w->ActActivateToggle->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_observed.count(QStringLiteral("Suspend cannot be prevented")),
                                  1, Timeout);
        QCOMPARE(m_observed.count(QStringLiteral("Volume guard not available")), 1);
        w->ActActivateToggle->trigger();
        QVERIFY(m_sound->restart());
    }
};

TARVO_TEST_MAIN(TestSession)
#include "tst_session.moc"
