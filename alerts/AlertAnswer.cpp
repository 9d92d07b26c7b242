#include "alerts/AlertAnswer.h"

#include <QLocale>
#include <QNetworkReply>
#include <QTimeZone>
#include <algorithm>

QString AlertAnswer::NoAnswerWithin(int deadlineMs)
{
    return QStringLiteral("no complete answer within %1 s").arg((deadlineMs + 999) / 1000);
}

qint64 AlertAnswer::RetryAfterMs(const QByteArray &value, const QDateTime &now)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return 0;
    bool number = false;
    const qint64 seconds = trimmed.toLongLong(&number);
    if (number)
        return std::max<qint64>(0, seconds) * 1000;
    // RFC 7231 IMF-fixdate, e.g. "Wed, 21 Oct 2015 07:28:00 GMT".
    QDateTime when = QLocale::c().toDateTime(QString::fromLatin1(trimmed).chopped(4),
                                             QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
    if (!trimmed.endsWith(" GMT") || !when.isValid())
        return 0;
    when.setTimeZone(QTimeZone::utc());
    return std::max<qint64>(0, now.msecsTo(when));
}

AlertAnswer AlertAnswer::FromReply(QNetworkReply *reply, bool deadlinePassed, int waitedMs)
{
    AlertAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isOpen())
        answer.body = reply->readAll().left(2000);
    const int status = answer.status;
    if (deadlinePassed) {
        answer.text = NoAnswerWithin(waitedMs);
        return answer;
    }
    if (status >= 200 && status < 300 && reply->error() == QNetworkReply::NoError) {
        answer.verdict = Verdict::Delivered;
        return answer;
    }
    if (status >= 300) {
        const QString phrase =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        answer.text = QStringLiteral("the server answered %1 %2").arg(status).arg(phrase).trimmed();
        answer.rateLimited = status == 429;
        const bool transient = status < 400 || status == 408 || status == 429 || status >= 500;
        if (!transient)
            answer.verdict = Verdict::Refused;
        else if (reply->hasRawHeader("Retry-After"))
            answer.retryAfterMs = static_cast<int>(std::min<qint64>(
                RetryAfterMs(reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc()),
                24 * 3600 * 1000));
        return answer;
    }
    switch (reply->error()) {
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        answer.text = QStringLiteral("no answer within %1 s").arg((waitedMs + 999) / 1000);
        break;
    case QNetworkReply::SslHandshakeFailedError:
        answer.text = QStringLiteral("secure connection refused (%1)").arg(reply->errorString());
        break;
    default:
        answer.text = reply->errorString();
    }
    return answer;
}
