#pragma once
// Keeps requests to one receiver under the rate its service allows (a token
// bucket: a burst, then one request per interval), so a backlog goes out
// steadily instead of running into 429 answers.

#include "alerts/AlertConfig.h"

#include <QString>

class RatePace
{
public:
    struct Rate
    {
        int burst = 1;
        int intervalMs = 0; // 0: no known limit
    };
    // The known rate of each service (for one webhook, chat or topic).
    static Rate Of(AlertConfig::Kind kind);

    // Starts afresh when the receiver is another one than before.
    void use(const Rate &rate, const QString &receiver);
    // Takes one request's place; how long it has to wait for it (ms).
    qint64 take(qint64 nowMs);
    // How long until a place is free, without taking it.
    qint64 waitMs(qint64 nowMs) const;

private:
    double tokensAt(qint64 nowMs) const;

    Rate m_rate;
    QString m_receiver;
    double m_tokens = 0;
    qint64 m_lastMs = -1;
};
