#include "alerts/AlertConfig.h"

#include "settings/gRegistry.h"

const QString AlertConfig::KeyPath = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\S\\alert");

const QList<AlertConfig::Kind> AlertConfig::Kinds = {Kind::Ntfy,     Kind::Webhook,  Kind::Slack,
                                                     Kind::Discord,  Kind::Gotify,   Kind::Matrix,
                                                     Kind::Telegram, Kind::Pushover, Kind::Email};

namespace {
const QString UrlName = QStringLiteral("URL");
const QString KindValueName = QStringLiteral("Kind");
const QString TokenName = QStringLiteral("Token");
const QString ToName = QStringLiteral("To");
const QString UserName = QStringLiteral("User");
const QString FromName = QStringLiteral("From");

bool HasControl(const QString &text)
{
    for (QChar c : text)
        if (c.category() == QChar::Other_Control)
            return true;
    return false;
}

void WriteOrDelete(const QString &name, const QString &value)
{
    if (value.trimmed().isEmpty())
        DeleteRegValue(AlertConfig::KeyPath, name);
    else
        WriteRegString(AlertConfig::KeyPath, name, value.trimmed());
}
} // namespace

QString AlertConfig::KindName(Kind kind)
{
    switch (kind) {
    case Kind::Ntfy:
        break;
    case Kind::Webhook:
        return QStringLiteral("webhook");
    case Kind::Slack:
        return QStringLiteral("slack");
    case Kind::Discord:
        return QStringLiteral("discord");
    case Kind::Gotify:
        return QStringLiteral("gotify");
    case Kind::Matrix:
        return QStringLiteral("matrix");
    case Kind::Telegram:
        return QStringLiteral("telegram");
    case Kind::Pushover:
        return QStringLiteral("pushover");
    case Kind::Email:
        return QStringLiteral("email");
    }
    return QStringLiteral("ntfy");
}

AlertConfig::Kind AlertConfig::KindFromName(const QString &name)
{
    for (Kind kind : Kinds)
        if (name.trimmed().compare(KindName(kind), Qt::CaseInsensitive) == 0)
            return kind;
    return Kind::Ntfy;
}

QString AlertConfig::WithScheme(const QString &url)
{
    const QString trimmed = url.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1String("://")))
        return trimmed;
    return QStringLiteral("https://") + trimmed;
}

QString AlertConfig::serverUrl() const
{
    if (!url.trimmed().isEmpty())
        return kind == Kind::Email ? url.trimmed() : WithScheme(url);
    if (kind == Kind::Telegram)
        return QStringLiteral("https://api.telegram.org");
    if (kind == Kind::Pushover)
        return QStringLiteral("https://api.pushover.net");
    return {};
}

bool AlertConfig::enabled() const
{
    // A public server alone is no address: its credentials make it one.
    return !url.trimmed().isEmpty() || (!serverUrl().isEmpty() && !token.trimmed().isEmpty());
}

QString AlertConfig::refusal() const
{
    const std::pair<QString, const QString *> values[] = {{QStringLiteral("URL"), &url},
                                                          {QStringLiteral("token"), &token},
                                                          {QStringLiteral("To"), &to},
                                                          {QStringLiteral("User"), &user},
                                                          {QStringLiteral("From"), &from}};
    for (const auto &[name, value] : values)
        if (HasControl(*value))
            return QStringLiteral("the %1 contains a line break or another control character")
                .arg(name);
    return {};
}

AlertConfig AlertConfig::Load()
{
    AlertConfig config;
    config.url = ReadRegString(KeyPath, UrlName).trimmed();
    config.kind = KindFromName(ReadRegString(KeyPath, KindValueName));
    config.token = ReadRegString(KeyPath, TokenName).trimmed();
    config.to = ReadRegString(KeyPath, ToName).trimmed();
    config.user = ReadRegString(KeyPath, UserName).trimmed();
    config.from = ReadRegString(KeyPath, FromName).trimmed();
    return config;
}

void AlertConfig::save() const
{
    WriteRegString(KeyPath, UrlName, url.trimmed());
    WriteRegString(KeyPath, KindValueName, KindName(kind));
    WriteOrDelete(TokenName, token);
    WriteOrDelete(ToName, to);
    WriteOrDelete(UserName, user);
    WriteOrDelete(FromName, from);
}
