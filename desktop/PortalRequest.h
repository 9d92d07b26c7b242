#pragma once
// One call to a desktop portal that answers later: the portal hands back a
// request object and sends the outcome as that object's Response signal.
// The request's path is known before the call, so it is followed first and
// an answer that comes at once is not missed. The outcome arrives exactly
// once: the portal's answer, the call's error, or no answer in time. After
// no answer in time the request still listens for a while, so that what a
// late answer made (a file) can be cleared away.

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

namespace desktop {

class PortalRequest : public QObject
{
    Q_OBJECT
public:
    // Responses the portal gives: 0 done, 1 cancelled by the user, 2 other.
    static constexpr uint Success = 0;
    // How long a request that timed out still listens for its answer.
    static constexpr int LateAnswerMs = 10 * 60 * 1000;

    // answerTimeoutMs 0: the portal's answer is waited for as long as it takes.
    PortalRequest(const QDBusConnection &bus, int answerTimeoutMs, QObject *parent = nullptr);

    // Calls interface.method on the portal with arguments, then options (a
    // handle_token is added to them).
    void call(const QString &interface, const QString &method, const QVariantList &arguments,
              QVariantMap options);

    // The path a portal gives a caller's request (":1.42" becomes "1_42").
    static QString RequestPath(const QString &uniqueName, const QString &token);

Q_SIGNALS:
    void answered(uint response, const QVariantMap &results);
    void failed(const QString &error);
    // The portal's answer after failed() told of no answer in time.
    void answeredLate(uint response, const QVariantMap &results);
    // The request listens no more: it may be deleted.
    void released();

private Q_SLOTS:
    // QtDBus connects bus signals by signature only.
    void onResponse(uint response, const QVariantMap &results);

private:
    void follow(const QString &path);
    void forget();
    void fail(const QString &error);

    QDBusConnection m_bus;
    QString m_path;
    QTimer m_answerTimer;
    QTimer m_lateTimer;
    bool m_done = false;
};

// The app ids a portal may file this program's permissions under when it
// runs outside a sandbox: "" and, when the desktop started it in a unit of
// its own ("app-gnome-example.vekor.Tarvo2-1234.scope"), the id in the unit's
// name. cgroup is the text of /proc/self/cgroup.
QStringList HostAppIds(const QString &cgroup);

} // namespace desktop
