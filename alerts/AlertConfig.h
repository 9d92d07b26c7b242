#pragma once
// Where remote alerts go: a receiver kind (ntfy, a webhook, a chat service,
// e-mail) with its address and credentials. Kept in the store under
// "\SoftWare\VEKOR\Tarvo2\S\alert".

#include <QList>
#include <QString>

struct AlertConfig
{
    enum class Kind
    {
        Ntfy,
        Webhook,
        Slack,
        Discord,
        Gotify,
        Matrix,
        Telegram,
        Pushover,
        Email
    };

    QString url;
    Kind kind = Kind::Ntfy;
    QString token;
    QString to;   // recipients, chat id, user key or room id
    QString user; // ntfy basic auth, SMTP login
    QString from; // e-mail sender; empty = the login at this computer's full name

    bool operator==(const AlertConfig &) const = default;

    // The URL (https:// when it names no scheme), or the kind's public
    // server when none is set.
    QString serverUrl() const;
    // An address written without a scheme ("ntfy.sh/topic") as https://.
    static QString WithScheme(const QString &url);
    bool enabled() const;
    // Why the values cannot go into a request (a line break in a token would
    // become a header of its own), or empty when they can.
    QString refusal() const;

    static const QString KeyPath;
    static const QList<Kind> Kinds;
    static QString KindName(Kind kind);
    // A known name in any case; anything else, also empty, is ntfy.
    static Kind KindFromName(const QString &name);

    static AlertConfig Load();
    // Throws RegistryError when the store cannot be written.
    void save() const;
};
