#include "alerts/AlertFieldCheck.h"
#include "alerts/AlertConfig.h"

#include "alerts/MailSender.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace AlertFieldCheck {
namespace {
using Kind = AlertConfig::Kind;

bool Matches(const QString &text, const char *pattern)
{
    const QRegularExpression shape(QRegularExpression::anchoredPattern(QLatin1String(pattern)));
    return shape.match(text).hasMatch();
}

bool UrlMayStayEmpty(Kind kind)
{
    return kind == Kind::Telegram || kind == Kind::Pushover;
}

QString UrlProblem(Kind kind, const QString &url)
{
    if (url.isEmpty())
        return UrlMayStayEmpty(kind) ? QString() : QStringLiteral("the URL is missing");
    const bool mail = kind == Kind::Email;
    // An address without a scheme is taken as https:// (the field says so).
    const QUrl parsed(mail ? url : AlertConfig::WithScheme(url), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    const bool known = mail ? scheme == QLatin1String("smtp") || scheme == QLatin1String("smtps")
                            : scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!parsed.isValid() || !known || parsed.host().isEmpty())
        return mail ? QStringLiteral("the URL is not an smtp:// or smtps:// address with a host")
                    : QStringLiteral("the URL is not an http:// or https:// address with a host");
    if (kind == Kind::Ntfy && parsed.path().remove(QLatin1Char('/')).isEmpty())
        return QStringLiteral("the URL names no topic (https://ntfy.sh/your-topic)");
    return {};
}

QString TokenProblem(Kind kind, const QString &token)
{
    const QString name = kind == Kind::Email ? QStringLiteral("password") : QStringLiteral("token");
    if (token.isEmpty()) {
        if (kind == Kind::Ntfy || kind == Kind::Webhook || kind == Kind::Email)
            return {};
        return QStringLiteral("the %1 is missing").arg(name);
    }
    if (kind != Kind::Email && token.contains(QRegularExpression(QStringLiteral("\\s"))))
        return QStringLiteral("the token holds a space");
    if (kind == Kind::Telegram && !Matches(token, "[0-9]+:[A-Za-z0-9_-]+"))
        return QStringLiteral("a bot token is digits, a colon and the key (123456:ABC-…)");
    if (kind == Kind::Pushover && !Matches(token, "[A-Za-z0-9]{30}"))
        return QStringLiteral("an application token is 30 letters and digits");
    return {};
}

QString ToProblem(Kind kind, const QString &to)
{
    if (to.isEmpty()) {
        switch (kind) {
        case Kind::Matrix:
            return QStringLiteral("the room id (To) is missing");
        case Kind::Telegram:
            return QStringLiteral("the chat id (To) is missing");
        case Kind::Pushover:
            return QStringLiteral("the user key (To) is missing");
        case Kind::Email:
            return QStringLiteral("the recipient address (To) is missing");
        default:
            return {};
        }
    }
    switch (kind) {
    case Kind::Matrix:
        return Matches(to, "![^:\\s]+:[^\\s]+")
                   ? QString()
                   : QStringLiteral("a room id reads !room:server.example");
    case Kind::Telegram:
        return Matches(to, "-?[0-9]+|@[A-Za-z0-9_]{5,}")
                   ? QString()
                   : QStringLiteral("a chat id is a number or an @channel name");
    case Kind::Pushover:
        return Matches(to, "[A-Za-z0-9]{30}")
                   ? QString()
                   : QStringLiteral("a user key is 30 letters and digits");
    case Kind::Email: {
        AlertConfig recipients;
        recipients.to = to;
        for (const QString &address : MailSender::Recipients(recipients))
            if (!isMailAddress(address))
                return QStringLiteral("%1 is not an e-mail address").arg(address);
        return {};
    }
    default:
        return {};
    }
}
} // namespace

bool isMailAddress(const QString &text)
{
    QString address = text.trimmed();
    const qsizetype open = address.indexOf(QLatin1Char('<'));
    if (open >= 0) {
        if (!address.endsWith(QLatin1Char('>')))
            return false;
        address = address.mid(open + 1, address.size() - open - 2).trimmed();
    }
    return Matches(address, "[^@\\s<>,;\"]+@[^@\\s<>,;\"]+\\.[^@\\s<>,;\".]+");
}

QString problem(const AlertConfig &config, Field field)
{
    const QString *values[] = {&config.url, &config.token, &config.to, &config.user, &config.from};
    if (std::all_of(std::begin(values), std::end(values),
                    [](const QString *value) { return value->trimmed().isEmpty(); }))
        return {}; // alerts off
    const Kind kind = config.kind;
    const QString text = values[static_cast<int>(field)]->trimmed();
    switch (field) {
    case Field::Url:
        return UrlProblem(kind, text);
    case Field::Token:
        return TokenProblem(kind, text);
    case Field::To:
        return ToProblem(kind, text);
    case Field::User:
        return {};
    case Field::From:
        return text.isEmpty() || isMailAddress(text)
                   ? QString()
                   : QStringLiteral("%1 is not an e-mail address").arg(text);
    }
    return {};
}

QString firstProblem(const AlertConfig &config)
{
    const QString refusal = config.refusal();
    if (!refusal.isEmpty())
        return refusal;
    for (const Field field : {Field::Url, Field::Token, Field::To, Field::User, Field::From}) {
        const QString found = problem(config, field);
        if (!found.isEmpty())
            return found;
    }
    return {};
}
} // namespace AlertFieldCheck
