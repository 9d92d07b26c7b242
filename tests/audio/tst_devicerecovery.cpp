// The engine's devices over time: the output opens only while something
// plays, and a capture outlives a sound server that is killed and started
// again (a private PulseAudio server on a socket of the test's own).

#include "audio/AudioEngine.h"
#include "audio/TestSounds.h"
#include "common/TestMain.h"
#include "common/Threads.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>

using audio::AudioEngine;
using audio::DeviceEvent;
using audio::Handle;
using tarvo::test::threads;
using tarvo::test::threadsSince;

namespace {

// A private PulseAudio server with one null sink whose monitor is the
// microphone; killed without warning, as a crash would end it.
class PrivateServer
{
public:
    explicit PrivateServer(const QString &folder) : m_folder(folder) {}
    ~PrivateServer() { kill(); }

    QString socket() const { return m_folder + QStringLiteral("/native"); }

    bool start()
    {
        QDir().mkpath(m_folder + QStringLiteral("/runtime"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_folder);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("PULSE_STATE_PATH"), m_folder);
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.remove(QStringLiteral("PULSE_SERVER"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
             QStringLiteral("--disable-shm=yes"), QStringLiteral("--log-level=0"),
             QStringLiteral("--load=module-native-protocol-unix socket=%1 auth-anonymous=1")
                 .arg(socket()),
             QStringLiteral("--load=module-null-sink sink_name=speakers rate=44100 channels=2"),
             // SDL lists no monitor sources: a remapped one is the microphone.
             QStringLiteral("--load=module-remap-source source_name=mic master=speakers.monitor")});
        if (!m_process.waitForStarted(10000))
            return false;
        // Ready once a client gets an answer.
        for (int i = 0; i < 200; ++i) {
            QProcess info;
            QProcessEnvironment clientEnv = QProcessEnvironment::systemEnvironment();
            clientEnv.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + socket());
            info.setProcessEnvironment(clientEnv);
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (info.waitForFinished(5000) && info.exitCode() == 0)
                return true;
            if (m_process.state() != QProcess::Running)
                return false;
            QTest::qWait(50);
        }
        return false;
    }

    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QString m_folder;
    QProcess m_process;
};

} // namespace

class TestDeviceRecovery : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void outputOpensOnlyWhileSomethingPlays()
    {
        AudioEngine engine;
        QVERIFY(engine.initOutput(44100));
        QCOMPARE(engine.speakerCount(), 2); // known without keeping the device
        QVERIFY(!engine.outputOpen());

        const QString file = m_dir.filePath(QStringLiteral("half.wav"));
        QVERIFY(tarvo::test::writeTone(file, 44100, 22050, 220));
        const Handle stream = engine.createFileStream(file, audio::StreamFlag::FreeWhenEnded);
        QVERIFY(stream != 0);
        QVERIFY(!engine.outputOpen()); // a stream that is not played opens nothing
        QVERIFY(engine.play(stream));
        QTRY_VERIFY_WITH_TIMEOUT(engine.outputOpen(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(stream), 5000);
        // Closed again a few seconds after the last sound.
        QTRY_VERIFY_WITH_TIMEOUT(!engine.outputOpen(), 10000);
        QVERIFY(!engine.devicesLost());

        // An accepted trigger opens it before its sound is decoded; left
        // unused, it closes again like after a sound.
        engine.prepareOutput();
        QTRY_VERIFY_WITH_TIMEOUT(engine.outputOpen(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.outputOpen(), 10000);
        QVERIFY(!engine.devicesLost());

        AudioEngine withoutOutput; // nothing to open
        withoutOutput.prepareOutput();
        QTest::qWait(200);
        QVERIFY(!withoutOutput.outputOpen());
    }

    // At rest the engine runs no thread of its own or of SDL's; a sound
    // starts them and they end again a few seconds after it.
    void noThreadAtRest_data()
    {
        QTest::addColumn<bool>("pulse");
        QTest::newRow("dummy driver") << false;
        QTest::newRow("pulseaudio") << true;
    }

    void noThreadAtRest()
    {
        QFETCH(bool, pulse);
        std::unique_ptr<PrivateServer> server;
        const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
        auto restore = qScopeGuard([&] {
            qputenv("SDL_AUDIODRIVER", driver);
            qunsetenv("PULSE_SERVER");
        });
        if (pulse) {
            if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
                QSKIP("pulseaudio is not installed (scripts/install-deps.sh --with-test-tools)");
            server = std::make_unique<PrivateServer>(m_dir.filePath(QStringLiteral("idle")));
            QVERIFY(server->start());
            qputenv("SDL_AUDIODRIVER", "pulseaudio");
            qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(server->socket()));
        }
        const QString file = m_dir.filePath(QStringLiteral("short.wav"));
        QVERIFY(tarvo::test::writeTone(file, 44100, 11025, 330));

        const auto before = threads();
        AudioEngine engine;
        QVERIFY(engine.initCapture());
        QVERIFY(engine.initOutput(44100));
        const QString input = engine.captureInputName(0);
        if (pulse)
            QVERIFY(!input.isEmpty());
        // Right after start-up SDL's hot-plug watch of the sound server still
        // runs: the list sees it.
        if (pulse)
            QVERIFY(!threadsSince(before).isEmpty());
        QTRY_VERIFY2_WITH_TIMEOUT(threadsSince(before).isEmpty(),
                                  qPrintable(threadsSince(before).join(u' ')), 15000);
        // What start-up learnt is still known.
        QCOMPARE(engine.speakerCount(), 2);
        QCOMPARE(engine.captureInputName(0), input);
        QVERIFY(!engine.devicesLost());

        const Handle stream = engine.createFileStream(file, audio::StreamFlag::FreeWhenEnded);
        QVERIFY(stream != 0);
        QVERIFY(engine.play(stream));
        QVERIFY(engine.isActive(stream));
        QTRY_VERIFY_WITH_TIMEOUT(engine.outputOpen(), 3000);
        QVERIFY(!threadsSince(before).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(stream), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(threadsSince(before).isEmpty(),
                                  qPrintable(threadsSince(before).join(u' ')), 15000);
        QVERIFY(!engine.outputOpen());
        QVERIFY(!engine.devicesLost());

        // And again: the second wake-up finds the same driver.
        const Handle again = engine.createFileStream(file, audio::StreamFlag::FreeWhenEnded);
        QVERIFY(engine.play(again));
        QTRY_VERIFY_WITH_TIMEOUT(engine.outputOpen(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(again), 5000);
        QVERIFY(!engine.devicesLost());

        // On standby (armed) the sound system stays started once the device
        // has closed; off standby it shuts down as before.
        engine.setStandby(true);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.outputOpen(), 10000);
        QTest::qWait(4000); // longer than the sound system's idle pause
        QVERIFY(engine.soundSystemStarted());
        const Handle armed = engine.createFileStream(file, audio::StreamFlag::FreeWhenEnded);
        QVERIFY(engine.play(armed));
        QTRY_VERIFY_WITH_TIMEOUT(engine.outputOpen(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(armed), 5000);
        engine.setStandby(false);
        QTRY_VERIFY2_WITH_TIMEOUT(threadsSince(before).isEmpty(),
                                  qPrintable(threadsSince(before).join(u' ')), 15000);
        QVERIFY(!engine.soundSystemStarted());
        // Standby taken while asleep starts the sound system at once.
        engine.setStandby(true);
        QTRY_VERIFY_WITH_TIMEOUT(engine.soundSystemStarted(), 5000);
        engine.setStandby(false);
    }

    void captureSurvivesAServerRestart()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
            QSKIP("pulseaudio is not installed (scripts/install-deps.sh --with-test-tools)");
        PrivateServer server(m_dir.filePath(QStringLiteral("pulse")));
        QVERIFY(server.start());
        const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "pulseaudio");
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(server.socket()));
        auto restore = qScopeGuard([&] {
            qputenv("SDL_AUDIODRIVER", driver);
            qunsetenv("PULSE_SERVER");
        });

        QList<DeviceEvent> events;
        QObject context;
        std::atomic<int> blocks{0};
        {
            AudioEngine engine;
            engine.setDeviceListener(&context, [&](DeviceEvent e) { events.append(e); });
            QVERIFY(engine.initCapture());
            QVERIFY(engine.initOutput(44100));
            const Handle capture =
                engine.startCapture(44100, [&](Handle, const qint16 *, int, quint32) {
                    ++blocks;
                    return true;
                });
            QVERIFY(capture != 0);
            QTRY_VERIFY_WITH_TIMEOUT(blocks.load() >= 3, 5000);

            server.kill();
            // (A loaded machine may starve the capture long enough to count
            // as a loss before: only the order of events is certain.)
            QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty() && events.last() == DeviceEvent::Lost, 8000);
            QVERIFY(engine.devicesLost());
            QVERIFY(engine.isActive(capture)); // the recording waits for a device
            // Played while there is no server: the sound ends unheard and
            // nothing waits for it.
            const QString file = m_dir.filePath(QStringLiteral("beep.wav"));
            QVERIFY(tarvo::test::writeTone(file, 44100, 44100, 440));
            const Handle stream = engine.createFileStream(file, audio::StreamFlag::FreeWhenEnded);
            engine.play(stream);
            QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(stream), 5000);

            QVERIFY(server.start());
            QTRY_VERIFY_WITH_TIMEOUT(events.last() == DeviceEvent::Restored, 8000);
            QVERIFY(!engine.devicesLost());
            // The same capture goes on, on the new server.
            const int before = blocks.load();
            QTRY_VERIFY_WITH_TIMEOUT(blocks.load() >= before + 3, 5000);
            QCOMPARE(engine.captureLevel(capture) >> 16, quint32(0)); // a silent sink
            QVERIFY(engine.isActive(capture));

            // And a sound plays to its end on the new server.
            const Handle again = engine.createFileStream(file, audio::StreamFlag::FreeWhenEnded);
            QVERIFY(engine.play(again));
            QTRY_VERIFY_WITH_TIMEOUT(engine.outputOpen(), 3000);
            QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(again), 5000);
        }
        // Lost and Restored alternate, beginning with Lost.
        for (int i = 0; i < events.size(); ++i)
            QCOMPARE(events.at(i), i % 2 == 0 ? DeviceEvent::Lost : DeviceEvent::Restored);
        QCOMPARE(events.size() % 2, 0);
    }
};

TARVO_TEST_MAIN(TestDeviceRecovery)
#include "tst_devicerecovery.moc"
