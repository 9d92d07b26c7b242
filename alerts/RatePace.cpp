#include "alerts/RatePace.h"

#include <algorithm>
#include <cmath>

RatePace::Rate RatePace::Of(AlertConfig::Kind kind)
{
    switch (kind) {
    case AlertConfig::Kind::Discord:
        return {1, 400}; // 5 per 2 s and webhook
    case AlertConfig::Kind::Telegram:
        return {1, 1000}; // one message a second to a chat
    case AlertConfig::Kind::Slack:
        return {1, 1000}; // one message a second to a webhook
    case AlertConfig::Kind::Matrix:
        return {10, 5000}; // Synapse's default for messages
    case AlertConfig::Kind::Ntfy:
        return {60, 5000}; // ntfy's default per visitor
    case AlertConfig::Kind::Pushover:
        return {5, 1000};
    case AlertConfig::Kind::Webhook:
    case AlertConfig::Kind::Gotify:
    case AlertConfig::Kind::Email:
        break;
    }
    return {};
}

void RatePace::use(const Rate &rate, const QString &receiver)
{
    if (receiver == m_receiver && rate.burst == m_rate.burst &&
        rate.intervalMs == m_rate.intervalMs)
        return;
    m_rate = rate;
    m_receiver = receiver;
    m_lastMs = -1;
}

double RatePace::tokensAt(qint64 nowMs) const
{
    const double burst = std::max(1, m_rate.burst);
    if (m_lastMs < 0)
        return burst;
    return std::min(burst,
                    m_tokens + double(std::max<qint64>(0, nowMs - m_lastMs)) / m_rate.intervalMs);
}

qint64 RatePace::waitMs(qint64 nowMs) const
{
    if (m_rate.intervalMs <= 0)
        return 0;
    const double tokens = tokensAt(nowMs);
    return tokens >= 1 ? 0 : qint64(std::ceil((1 - tokens) * m_rate.intervalMs));
}

qint64 RatePace::take(qint64 nowMs)
{
    if (m_rate.intervalMs <= 0)
        return 0;
    // A place further on may be taken already: the count goes below zero.
    m_tokens = tokensAt(nowMs) - 1;
    m_lastMs = nowMs;
    return m_tokens >= 0 ? 0 : qint64(std::ceil(-m_tokens * m_rate.intervalMs));
}
