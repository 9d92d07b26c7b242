#pragma once
// A camera for tests: a private PipeWire (with WirePlumber) and a video
// source on it made by GStreamer's test pattern, offered the way desktops
// offer cameras (media class Video/Source). While it lives, this process's
// PipeWire clients talk to the private server only. Without a pattern, the
// test offers its own source (Properties) and waits for it with waitListed().

#include "audio/PrivateSoundServer.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <cstdlib>

namespace tarvo::test {

class PrivateCamera
{
public:
    static constexpr int Width = 352, Height = 288;

    // How a test pattern is offered as a camera: always sending (GStreamer's
    // sink sends nothing more once it was paused while idle; a real camera
    // starts again).
    static QString Properties()
    {
        return QStringLiteral("props,media.class=Video/Source,"
                              "node.description=Test-camera,node.pause-on-idle=false");
    }
    static QString Caps()
    {
        return QStringLiteral("video/x-raw,format=YUY2,width=%1,height=%2,framerate=30/1")
            .arg(Width)
            .arg(Height);
    }

    explicit PrivateCamera(const QString &pattern = QStringLiteral("smpte"))
        : m_server(PrivateSoundServer::Kind::PipeWire)
    {
        if (!m_server.ready())
            return;
        ::setenv("PIPEWIRE_RUNTIME_DIR", QFile::encodeName(m_server.runtimeDir()).constData(), 1);
        m_ready = pattern.isEmpty() || startSource(pattern);
    }
    ~PrivateCamera()
    {
        stopSource();
        ::unsetenv("PIPEWIRE_RUNTIME_DIR");
    }

    bool ready() const { return m_ready; }
    const PrivateSoundServer &server() const { return m_server; }

    bool startSource(const QString &pattern = QStringLiteral("smpte"))
    {
        m_source.setProcessEnvironment(m_server.environment());
        m_source.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_source.start(QStringLiteral("gst-launch-1.0"),
                       {QStringLiteral("-q"), QStringLiteral("videotestsrc"),
                        QStringLiteral("is-live=true"), QStringLiteral("pattern=") + pattern,
                        QStringLiteral("!"), Caps(), QStringLiteral("!"),
                        QStringLiteral("pipewiresink"), QStringLiteral("mode=provide"),
                        QStringLiteral("stream-properties=") + Properties()});
        return m_source.waitForStarted(10000) && waitListed();
    }
    void stopSource()
    {
        thawSource();
        stopProcess(m_source);
    }
    // A camera that is there but never answers.
    void freezeSource() { ::kill(pid_t(m_source.processId()), SIGSTOP); }
    void thawSource()
    {
        if (m_source.state() == QProcess::Running)
            ::kill(pid_t(m_source.processId()), SIGCONT);
    }

    // The source is there once the server lists it.
    bool waitListed()
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (listed())
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    // Someone takes the source's frames: a video stream's node runs.
    bool waitConsumed()
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            QProcess dump;
            dump.setProcessEnvironment(m_server.environment());
            dump.start(QStringLiteral("pw-dump"), {});
            dump.waitForFinished(5000);
            const QJsonArray objects = QJsonDocument::fromJson(dump.readAllStandardOutput()).array();
            for (const QJsonValue &object : objects) {
                const QJsonObject info = object[QStringLiteral("info")].toObject();
                if (info[QStringLiteral("props")][QStringLiteral("media.class")].toString() ==
                        QLatin1String("Stream/Input/Video") &&
                    info[QStringLiteral("state")].toString() == QLatin1String("running"))
                    return true;
            }
            QTest::qWait(100);
        }
        return false;
    }

private:
    bool listed()
    {
        QProcess list;
        list.setProcessEnvironment(m_server.environment());
        list.start(QStringLiteral("pw-cli"), {QStringLiteral("ls"), QStringLiteral("Node")});
        list.waitForFinished(5000);
        return list.readAllStandardOutput().contains("Video/Source");
    }

    PrivateSoundServer m_server;
    QProcess m_source;
    bool m_ready = false;
};

} // namespace tarvo::test
