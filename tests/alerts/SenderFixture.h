#pragma once
// What the sender's tests start from: a queue file of its own for each test
// function, and a webhook configuration the test changes as it goes (the
// sender reads it through Source() at every send, as from the store).

#include "alerts/AlertConfig.h"
#include "alerts/AlertSender.h"

#include <QTemporaryDir>

class SenderFixture
{
protected:
    QTemporaryDir m_dir;
    QString m_queue;
    AlertConfig m_config;

    AlertSender::ConfigSource Source()
    {
        return [this] { return m_config; };
    }
    void NewQueue()
    {
        static int run = 0;
        m_queue = m_dir.filePath(QStringLiteral("queue%1/Tarvo2-alerts.json").arg(++run));
        m_config = AlertConfig();
        m_config.kind = AlertConfig::Kind::Webhook;
    }
};
