#pragma once
// The HTTP request for one alert. Each receiver kind has a small formatter
// that turns an alert into the request its service expects; what all share
// (address checks, no redirects, user info as basic auth) is done here.

#include "alerts/AlertConfig.h"
#include "alerts/AlertEvent.h"

#include <QByteArray>
#include <QHttpMultiPart>
#include <QNetworkRequest>
#include <QUrl>
#include <memory>

struct AlertRequest
{
    QNetworkRequest request;
    QByteArray verb = "POST";
    QByteArray body;
    // A form with a file, sent in place of body when set.
    std::shared_ptr<QHttpMultiPart> form;

    // False when the settings cannot make a request; why in *problem.
    static bool Build(const AlertConfig &config, const AlertEvent &event, AlertRequest &out,
                      QString *problem);
    // The URL as it may be shown: scheme and host only (a ntfy topic name is
    // as good as a password, and user info never leaves the store).
    static QString DisplayUrl(const QString &url);
};

class AlertFormatter
{
public:
    virtual ~AlertFormatter() = default;
    // server: the address without user info; out.request has it already.
    // False with the reason when a value the service needs is missing.
    virtual bool format(const AlertConfig &config, const QUrl &server, const AlertEvent &event,
                        AlertRequest &out, QString *problem) const = 0;

    // The formatter of an HTTP kind; null for e-mail.
    static const AlertFormatter *For(AlertConfig::Kind kind);
};
