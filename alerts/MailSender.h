#pragma once
// E-mail alerts through libcurl's SMTP. smtps:// speaks TLS from the start;
// smtp:// must switch to TLS (STARTTLS) except to this computer itself. The
// exchange runs on a worker thread of Qt's pool and only hands back its
// answer: the thread touches no QObject.

#include "alerts/AlertAnswer.h"
#include "alerts/AlertConfig.h"
#include "alerts/AlertEvent.h"

#include <QFuture>
#include <atomic>
#include <memory>

class MailSender
{
public:
    struct Settings
    {
        int deadlineMs = 30000; // the whole exchange, not only a silence
        QString caFile;         // extra trusted certificates (tests, own CAs)
    };

    // Why these settings cannot send mail, or empty.
    static QString Problem(const AlertConfig &config);
    // Starts one message; cancel makes a running exchange give up soon.
    static QFuture<AlertAnswer> Send(const AlertConfig &config, const AlertEvent &event,
                                     const Settings &settings,
                                     std::shared_ptr<std::atomic_bool> cancel);

    static constexpr qint64 MaxAttachment = 20 * 1024 * 1024;

    // The message with its headers: subject "Tarvo2 on <host>: <event>",
    // the report line as the body, the event's attachment (a picture or the
    // sound clip) as a second part when it can be read; when not, the body
    // says so.
    static QByteArray Compose(const AlertConfig &config, const AlertEvent &event,
                              const QDateTime &now);
    // From, else the login at this computer's fully qualified name; empty
    // when From is empty and the name has no domain (strict servers refuse
    // a sender without one). May ask the resolver: not on the UI thread.
    static QString Sender(const AlertConfig &config);
    static QString DefaultSender(const QString &login, const QString &fullHostName);
    // This computer's name with its domain as the resolver knows it.
    static QString FullHostName();
    // Tests pretend to be a computer of this name.
    static void SetFullHostNameForTests(const QString &name);
    static QString NoSenderText(const QString &hostName);
    static QStringList Recipients(const AlertConfig &config);
};
