#include "alerts/AlertAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>
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

qint64 AlertAnswer::BodyRetryAfterMs(const QByteArray &body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    const double seconds = object.value(QStringLiteral("parameters"))
                               .toObject()
                               .value(QStringLiteral("retry_after"))
                               .toDouble();
    const double ms = object.value(QStringLiteral("retry_after_ms")).toDouble();
    // Either one, with a bound that keeps the product a number.
    return qint64(std::clamp(std::max(seconds * 1000, ms), 0.0, 1e12));
}

void AlertAnswer::CapAnswer(QNetworkReply *reply, const std::shared_ptr<bool> &tooLarge)
{
    const auto check = [reply, tooLarge] {
        const bool announced =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > MaxAnswerBytes;
        if (*tooLarge || (!announced && reply->bytesAvailable() <= MaxAnswerBytes))
            return;
        *tooLarge = true;
        reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, check);
    QObject::connect(reply, &QIODevice::readyRead, reply, check);
}

AlertAnswer AlertAnswer::FromReply(QNetworkReply *reply, bool deadlinePassed, int waitedMs,
                                   bool tooLarge)
{
    AlertAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tooLarge) {
        answer.text = TooLargeText();
        return answer;
    }
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
        else
            answer.retryAfterMs = static_cast<int>(
                std::min<qint64>(std::max(RetryAfterMs(reply->rawHeader("Retry-After"),
                                                       QDateTime::currentDateTimeUtc()),
                                          BodyRetryAfterMs(answer.body)),
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
