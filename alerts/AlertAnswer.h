#pragma once
// What became of one try to deliver an alert, told apart by what helps:
// delivered; worth retrying (no network, a timeout, 408, 429, 5xx, a
// redirect); or refused for good (any other 4xx: the settings are wrong, and
// sending the same again cannot help).

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>

class QNetworkReply;

struct AlertAnswer
{
    enum class Verdict
    {
        Delivered,
        Retry,
        Refused
    };

    Verdict verdict = Verdict::Retry;
    QString text;         // why it failed, without the token
    QByteArray body;      // what the server answered, for the test alert
    int status = 0;       // HTTP or SMTP answer code, 0 when none came
    int retryAfterMs = 0; // the server asked to wait at least this long
    bool rateLimited = false;
    QString photoRefused; // the line went, its photo did not: why

    bool delivered() const { return verdict == Verdict::Delivered; }

    // No receiver's answer comes near this (a Matrix upload's is the
    // largest); a longer one is cut off instead of filling memory.
    static constexpr qint64 MaxAnswerBytes = 512 * 1024;
    static QString TooLargeText() { return QStringLiteral("the server's answer is too large"); }
    // Aborts the reply once its answer passes MaxAnswerBytes (announced or
    // received) and sets *tooLarge.
    static void CapAnswer(QNetworkReply *reply, const std::shared_ptr<bool> &tooLarge);

    // deadlinePassed: the reply was aborted because the whole exchange took
    // too long; waitedMs: that deadline, or else the idle timeout.
    static AlertAnswer FromReply(QNetworkReply *reply, bool deadlinePassed, int waitedMs,
                                 bool tooLarge = false);
    // The pause a Retry-After value asks for: seconds or an HTTP date; 0 when
    // absent or unreadable.
    static qint64 RetryAfterMs(const QByteArray &value, const QDateTime &now);
    // The pause a rate limit's body asks for (Telegram's
    // parameters.retry_after in seconds, Matrix's retry_after_ms); 0 when none.
    static qint64 BodyRetryAfterMs(const QByteArray &body);
    static QString NoAnswerWithin(int deadlineMs);
};
