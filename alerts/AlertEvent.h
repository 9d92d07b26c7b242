#pragma once
// One report line on its way to the owner, and how it is put on the wire.

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QString>

#include "alerts/AlertConfig.h"

struct AlertEvent
{
    QString host;
    QString event; // the report message without its time stamp
    QString time;  // ISO 8601 with the UTC offset
    QString line;  // the report line as written
    bool alarm = false;

    QJsonObject toJson() const;
    static AlertEvent FromJson(const QJsonObject &object);
    bool operator==(const AlertEvent &) const = default;

    static QString CurrentTime();
    static QString HostName();
};

// The HTTP request for one alert: ntfy's publish API (the message as the
// body, title, priority and tags as headers) or a JSON webhook.
struct AlertRequest
{
    QNetworkRequest request;
    QByteArray body;

    // Empty when the URL is unusable; why in *problem.
    static bool Build(const AlertConfig &config, const AlertEvent &event, AlertRequest &out,
                      QString *problem);
    // The URL as it may be shown: scheme and host only (a ntfy topic name is
    // as good as a password, and user info never leaves the store).
    static QString DisplayUrl(const QString &url);
};

Q_DECLARE_METATYPE(AlertEvent)
