#pragma once
// A private sound server for tests that speak to one over libpulse: either
// PulseAudio, or PipeWire with its pulse server and WirePlumber (on a
// private session bus, which WirePlumber needs). Two null sinks,
// "speakers" (the default) and "other"; addSource makes a microphone's
// source for tests of the capture side. Nothing touches the user's own
// server; every process is killed when the object goes.

#include "common/PrivateBus.h"
#include "common/StopProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

namespace tarvo::test {

class PrivateSoundServer
{
public:
    enum class Kind
    {
        PulseAudio,
        PipeWire
    };

    explicit PrivateSoundServer(Kind kind) : m_kind(kind)
    {
        const QString root = m_dir.path();
        QDir(root).mkpath(QStringLiteral("run/pulse"));
        QDir(root).mkpath(QStringLiteral("state"));
        QFile::setPermissions(root + QStringLiteral("/run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER", "DISPLAY"})
            m_env.remove(QString::fromLatin1(name));
        m_env.insert(QStringLiteral("HOME"), root);
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/run"));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
        m_env.insert(QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("/state"));
        m_env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), root + QStringLiteral("/run/pulse"));
        m_env.insert(QStringLiteral("PULSE_STATE_PATH"), root + QStringLiteral("/state"));
        QFile conf(root + QStringLiteral("/client.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write("autospawn = no\n");
        conf.close();
        m_env.insert(QStringLiteral("PULSE_CLIENTCONFIG"), conf.fileName());
        m_socket = kind == Kind::PulseAudio ? root + QStringLiteral("/native")
                                            : root + QStringLiteral("/run/pulse/native");
        if (kind == Kind::PipeWire && !startSessionBus())
            return;
        m_ready = start();
    }
    ~PrivateSoundServer()
    {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
            stopProcess(**it);
    }

    bool ready() const { return m_ready; }
    // The servers' environment and the folder of their sockets (PipeWire's
    // clients find "pipewire-0" there through PIPEWIRE_RUNTIME_DIR).
    const QProcessEnvironment &environment() const { return m_env; }
    QString runtimeDir() const { return m_dir.filePath(QStringLiteral("run")); }
    QString serverString() const { return QStringLiteral("unix:") + m_socket; }

    // SDL's pulseaudio driver speaks to this server until the guard goes.
    [[nodiscard]] auto sdlThrough() const
    {
        const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "pulseaudio");
        qputenv("PULSE_SERVER", serverString().toUtf8());
        return qScopeGuard([driver] {
            qputenv("SDL_AUDIODRIVER", driver);
            qunsetenv("PULSE_SERVER");
        });
    }

    // Ends the pulse protocol server (PulseAudio, or pipewire-pulse).
    void kill()
    {
        if (m_pulse)
            stopProcess(*m_pulse);
    }
    bool restart()
    {
        kill();
        m_ready = m_kind == Kind::PulseAudio ? startPulseAudio() : startPipeWirePulse();
        return m_ready;
    }

    QString pactl(const QStringList &args, bool *ok = nullptr)
    {
        QProcess p;
        QProcessEnvironment env = m_env;
        env.insert(QStringLiteral("PULSE_SERVER"), serverString());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("pactl"), args);
        const bool done = p.waitForFinished(10000);
        if (ok)
            *ok = done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // Makes the sink the server's default, and waits until the server says
    // so: WirePlumber takes it a moment later, and may at first keep its own
    // choice when the sink has only just appeared.
    bool setDefaultSink(const QString &sink)
    {
        return waitFor([&] {
            pactl({QStringLiteral("set-default-sink"), sink});
            return pactl({QStringLiteral("info")})
                .contains(QStringLiteral("Default Sink: ") + sink);
        });
    }

    // A source of silence named name, as a microphone would be (a virtual
    // source on PipeWire), made the default when asked.
    bool addSource(const QString &name, bool makeDefault)
    {
        bool ok = false;
        const bool pulse = m_kind == Kind::PulseAudio;
        pactl({QStringLiteral("load-module"),
               pulse ? QStringLiteral("module-null-source") : QStringLiteral("module-null-sink"),
               (pulse ? QStringLiteral("source_name=") : QStringLiteral("sink_name=")) + name,
               pulse ? QStringLiteral("channels=2")
                     : QStringLiteral("media.class=Audio/Source/Virtual")},
              &ok);
        const auto listed = [&] {
            return pactl(
                       {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
                .contains(QRegularExpression(QStringLiteral("\t") + name + QStringLiteral("\t")));
        };
        if (!ok || !waitFor(listed))
            return false;
        return !makeDefault || setDefaultSource(name);
    }
    bool setDefaultSource(const QString &source)
    {
        return waitFor([&] {
            pactl({QStringLiteral("set-default-source"), source});
            return pactl({QStringLiteral("info")})
                .contains(QStringLiteral("Default Source: ") + source);
        });
    }

    // The sink's (or source's) state as pactl reports it: mute, and the raw
    // volume of each channel.
    bool muted(const QString &sink, const QString &kind = QStringLiteral("sink"))
    {
        return pactl({QStringLiteral("get-%1-mute").arg(kind), sink})
            .contains(QStringLiteral("yes"));
    }
    QList<quint32> volume(const QString &sink, const QString &kind = QStringLiteral("sink"))
    {
        QList<quint32> result;
        const QString text = pactl({QStringLiteral("get-%1-volume").arg(kind), sink});
        static const QRegularExpression channel(QStringLiteral(":\\s*(\\d+)\\s*/"));
        const QString first = text.section(QLatin1Char('\n'), 0, 0);
        for (auto it = channel.globalMatch(first); it.hasNext();)
            result.append(it.next().captured(1).toUInt());
        return result;
    }

private:
    QProcess *launch(const QString &program, const QStringList &args)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_env);
        process->setStandardOutputFile(m_dir.filePath(program + QStringLiteral(".log")),
                                       QIODevice::Append);
        process->setStandardErrorFile(m_dir.filePath(program + QStringLiteral(".log")),
                                      QIODevice::Append);
        process->start(program, args);
        if (!process->waitForStarted(10000))
            return nullptr;
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    bool startSessionBus()
    {
        if (!m_bus.start())
            return false;
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        return true;
    }

    bool start()
    {
        if (m_kind == Kind::PulseAudio)
            return startPulseAudio();
        if (!launch(QStringLiteral("pipewire"), {}))
            return false;
        // WirePlumber gives up when PipeWire's socket is not there yet.
        if (!waitFor(
                [&] { return QFile::exists(m_dir.filePath(QStringLiteral("run/pipewire-0"))); }))
            return false;
        if (!launch(QStringLiteral("wireplumber"), {}))
            return false;
        return startPipeWirePulse();
    }

    bool startPulseAudio()
    {
        m_pulse = launch(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disallow-exit"),
             QStringLiteral("--use-pid-file=no"), QStringLiteral("--disable-shm=yes"),
             QStringLiteral("--log-target=stderr"),
             QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") +
                 m_socket,
             QStringLiteral("--load=module-null-sink sink_name=speakers rate=44100 channels=2 "
                            "channel_map=front-left,front-right"),
             QStringLiteral("--load=module-null-sink sink_name=other rate=44100 channels=2")});
        if (!m_pulse || !waitForServer())
            return false;
        return setDefault();
    }

    bool startPipeWirePulse()
    {
        m_pulse = launch(QStringLiteral("pipewire-pulse"), {});
        if (!m_pulse || !waitForServer())
            return false;
        // pipewire-pulse keeps the null sinks it loads for as long as it runs.
        for (const char *name : {"speakers", "other"}) {
            bool ok = false;
            pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                   QStringLiteral("sink_name=") + QString::fromLatin1(name),
                   QStringLiteral("channels=2"),
                   QStringLiteral("channel_map=front-left,front-right")},
                  &ok);
            if (!ok)
                return false;
        }
        return setDefault();
    }

    bool waitForServer()
    {
        return waitFor([&] {
            bool ok = false;
            pactl({QStringLiteral("info")}, &ok);
            return ok;
        });
    }

    bool setDefault() { return setDefaultSink(QStringLiteral("speakers")); }

    template <typename F> static bool waitFor(F &&condition)
    {
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            if (condition())
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    Kind m_kind;
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QString m_socket;
    PrivateBus m_bus; // PipeWire's session bus, ended after the servers
    QProcess *m_pulse = nullptr;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    bool m_ready = false;
};

} // namespace tarvo::test
