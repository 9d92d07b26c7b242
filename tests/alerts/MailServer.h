#pragma once
// A real SMTP server (smtp_server.py, Debian's aiosmtpd) on a free port of
// 127.0.0.1: plain, with STARTTLS required, or TLS from the start, with a
// self-signed certificate made for the test and an optional login.

#include "AlertServer.h"

class MailServer
{
public:
    enum class Mode
    {
        Plain,
        StartTls,
        Smtps
    };

    ~MailServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    quint16 port() const { return m_port; }
    QString certificate() const { return m_dir.filePath(QStringLiteral("cert.pem")); }

    // login: "user:password" the server requires, or empty for none.
    bool start(Mode mode, const QString &login = QString())
    {
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        if (mode != Mode::Plain &&
            !Run(openssl, QStringLiteral("openssl"),
                 {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                  QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                  key, QStringLiteral("-out"), certificate(), QStringLiteral("-subj"),
                  QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                  QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-days"),
                  QStringLiteral("2")}))
            return false;
        static const char *const names[] = {"plain", "starttls", "smtps"};
        QStringList arguments{
            QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/smtp_server.py"),
            QString::number(m_port), m_dir.filePath(QStringLiteral("messages.jsonl")),
            QString::fromLatin1(names[static_cast<int>(mode)])};
        if (mode != Mode::Plain)
            arguments << certificate() << key;
        if (!login.isEmpty())
            arguments << login;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Debian's own Python: aiosmtpd is a Debian package.
        m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
        return m_process.waitForStarted(10000) && WaitForListening(m_process);
    }

    // The messages it took, as smtp_server.py recorded them.
    QList<QJsonObject> messages() const
    {
        return ReadJsonLines(m_dir.filePath(QStringLiteral("messages.jsonl")));
    }

private:
    static bool Run(QProcess &process, const QString &program, const QStringList &arguments)
    {
        process.start(program, arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = FreeLocalPort();
};
