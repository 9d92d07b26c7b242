#pragma once
// Where remote alerts go: a ntfy topic or a webhook, with an optional bearer
// token. Kept in the store under "\SoftWare\VEKOR\Tarvo2\S\alert".

#include <QString>

struct AlertConfig
{
    enum class Kind
    {
        Ntfy,
        Webhook
    };

    QString url;
    Kind kind = Kind::Ntfy;
    QString token;

    bool enabled() const { return !url.trimmed().isEmpty(); }

    static const QString KeyPath;
    static QString KindName(Kind kind);
    // "webhook" (any case) is a webhook; anything else, also empty, is ntfy.
    static Kind KindFromName(const QString &name);

    static AlertConfig Load();
    // Throws RegistryError when the store cannot be written.
    void save() const;
};
