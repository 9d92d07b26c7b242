#include "alerts/AlertConfig.h"

#include "settings/gRegistry.h"

const QString AlertConfig::KeyPath = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\S\\alert");

namespace {
const QString UrlName = QStringLiteral("URL");
const QString KindValueName = QStringLiteral("Kind");
const QString TokenName = QStringLiteral("Token");
} // namespace

QString AlertConfig::KindName(Kind kind)
{
    return kind == Kind::Webhook ? QStringLiteral("webhook") : QStringLiteral("ntfy");
}

AlertConfig::Kind AlertConfig::KindFromName(const QString &name)
{
    return name.trimmed().compare(QStringLiteral("webhook"), Qt::CaseInsensitive) == 0
               ? Kind::Webhook
               : Kind::Ntfy;
}

AlertConfig AlertConfig::Load()
{
    AlertConfig config;
    config.url = ReadRegString(KeyPath, UrlName).trimmed();
    config.kind = KindFromName(ReadRegString(KeyPath, KindValueName));
    config.token = ReadRegString(KeyPath, TokenName).trimmed();
    return config;
}

void AlertConfig::save() const
{
    WriteRegString(KeyPath, UrlName, url.trimmed());
    WriteRegString(KeyPath, KindValueName, KindName(kind));
    if (token.trimmed().isEmpty())
        DeleteRegValue(KeyPath, TokenName);
    else
        WriteRegString(KeyPath, TokenName, token.trimmed());
}
