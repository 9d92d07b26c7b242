#pragma once
// Starts alert_server.py on a free port of 127.0.0.1 and reads what it
// recorded. The server can be started late (the port is chosen first) and
// stopped again, to play a server that is down.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// A port of 127.0.0.1 that was free a moment ago.
inline quint16 FreeLocalPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Waits until a test server started by process says it listens on its own
// port (up to 30 s); false when it ended first (the port was taken).
inline bool WaitForListening(QProcess &process)
{
    QDeadlineTimer deadline(30000);
    while (!process.canReadLine() && process.state() == QProcess::Running &&
           !deadline.hasExpired())
        process.waitForReadyRead(100);
    return process.readLine().startsWith("listening");
}

// The objects of a file with one JSON object per line.
inline QList<QJsonObject> ReadJsonLines(const QString &path)
{
    QList<QJsonObject> out;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const QJsonDocument doc = QJsonDocument::fromJson(line); doc.isObject())
                out.append(doc.object());
    return out;
}

// What the receivers of receivers.py take as valid.
namespace Receiver {
inline const QString Token = QStringLiteral("good-token");
inline const QString TelegramToken = QStringLiteral("123456:good-token");
inline const QString Room = QStringLiteral("!desks:example.org");
inline const QString Chat = QStringLiteral("4242");
inline const QString UserKey = QStringLiteral("uQiRzpo4DXghDmr9QzzfQu27cmVRsG");
inline const QString NtfyUser = QStringLiteral("owner");
} // namespace Receiver

class AlertServer
{
public:
    AlertServer() : m_port(FreeLocalPort()) { setMode("200"); }
    ~AlertServer() { stop(); }

    quint16 port() const
    {
        m_portGiven = true;
        return m_port;
    }
    QString url(const QString &path = QStringLiteral("/tarvo-test")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
    }
    QString logPath() const { return m_dir.filePath(QStringLiteral("requests.jsonl")); }

    // Started once it listens on its port. The port was free a moment ago;
    // should another test's server have taken it since, another is chosen
    // (until the port was given out). A connection alone would not tell:
    // it could reach that other server.
    bool start()
    {
        const QString script =
            QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/alert_server.py");
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            m_process.start(QStringLiteral("python3"), {script, QString::number(m_port), logPath(),
                                                        m_dir.filePath(QStringLiteral("mode"))});
            if (!m_process.waitForStarted(10000))
                return false;
            if (WaitForListening(m_process))
                return true;
            stop();
            if (m_portGiven)
                return false;
            m_port = FreeLocalPort();
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    void setMode(const QByteArray &mode)
    {
        QFile file(m_dir.filePath(QStringLiteral("mode")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(mode);
    }
    QList<QJsonObject> requests() const { return ReadJsonLines(logPath()); }
    // The ntfy priority a request was sent with (either header name).
    static QString priorityOf(const QJsonObject &request)
    {
        const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
        return headers.value(QStringLiteral("X-Priority"))
            .toString(headers.value(QStringLiteral("Priority")).toString());
    }
    // The requests made with this method ("GET" for heartbeat pings).
    QList<QJsonObject> requests(const QString &method) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &r : requests())
            if (r.value(QStringLiteral("method")).toString() == method)
                out.append(r);
        return out;
    }
    // Bodies of the requests answered with the given status.
    QStringList bodies(int status) const
    {
        QStringList out;
        for (const QJsonObject &r : requests())
            if (r.value(QStringLiteral("status")).toInt() == status)
                out.append(r.value(QStringLiteral("body")).toString());
        return out;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    mutable bool m_portGiven = false;
};
