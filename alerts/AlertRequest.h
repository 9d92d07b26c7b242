#pragma once
// The HTTP request for one alert. Each receiver kind has a small formatter
// that turns an alert into the request its service expects; what all share
// (address checks, no redirects, user info as basic auth) is done here.

#include "alerts/AlertConfig.h"
#include "alerts/AlertEvent.h"
#include "alerts/AlertPhoto.h"

#include <QByteArray>
#include <QHttpMultiPart>
#include <QNetworkRequest>
#include <QUrl>
#include <functional>
#include <memory>

struct AlertRequest
{
    QNetworkRequest request;
    QByteArray verb = "POST";
    QByteArray body;
    // A form with a file, sent in place of body when set.
    std::shared_ptr<QHttpMultiPart> form;
    // The request that follows once this one was taken, made from its answer
    // (a Matrix photo: the upload after the line, the image after the
    // upload). False with the reason when the answer does not allow one.
    using Next =
        std::function<bool(const QByteArray &answer, AlertRequest &next, QString *problem)>;
    Next then;
    // It carries only the file: the line went before, so a refusal costs
    // the file, not the alert.
    bool photoOnly = false;

    // False when the settings cannot make a request; why in *problem.
    // photo: what goes along (AlertSender prepares it off the UI thread).
    static bool Build(const AlertConfig &config, const AlertEvent &event, AlertRequest &out,
                      QString *problem, const AlertPhoto::File &photo = {});
    // The largest photo the kind takes, 0 when it takes none.
    static qint64 PhotoLimit(AlertConfig::Kind kind);
    // The largest file of that kind the receiver takes (pictures are made
    // that small), 0 when it takes none.
    static qint64 FileLimit(AlertConfig::Kind kind, AlertEvent::FileKind file);
    // The URL as it may be shown: scheme, host and port only (a ntfy topic
    // name is as good as a password, and user info never leaves the store).
    static QString DisplayUrl(const QString &url);
    // The text with every URL in it cut down to what DisplayUrl shows.
    static QString ShortenUrls(const QString &text);
};

class AlertFormatter
{
public:
    virtual ~AlertFormatter() = default;
    // server: the address without user info; out.request has it already.
    // False with the reason when a value the service needs is missing.
    virtual bool format(const AlertConfig &config, const QUrl &server, const AlertEvent &event,
                        const AlertPhoto::File &photo, AlertRequest &out,
                        QString *problem) const = 0;
    virtual qint64 photoLimit() const { return 0; }
    virtual qint64 soundLimit() const { return 0; }

    // The formatter of an HTTP kind; null for e-mail.
    static const AlertFormatter *For(AlertConfig::Kind kind);
};
