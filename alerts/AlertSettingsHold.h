#pragma once
// The alert and heartbeat settings in force. Normally those in the store;
// while held (armed with a disarm PIN) the ones the hold started with, so a
// hand-edited settings file cannot redirect the alerts without the PIN. A
// change of the stored settings meanwhile is told once per change (the
// owner's report line goes out to the destination in force) and taken only
// when the hold ends.

#include "alerts/AlertConfig.h"
#include "alerts/Heartbeat.h"

#include <QObject>
#include <QTimer>
#include <functional>

class AlertSettingsHold : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        AlertConfig alerts;
        HeartbeatConfig heartbeat;
        bool operator==(const Settings &) const = default;
    };
    using Loader = std::function<Settings()>;

    // Reads the store; checks it every checkMs while held.
    explicit AlertSettingsHold(QObject *parent = nullptr);
    AlertSettingsHold(Loader loader, int checkMs, QObject *parent = nullptr);

    // Held from now on with the stored settings, or free again.
    void setHeld(bool held);
    bool isHeld() const { return m_held; }

    AlertConfig alerts() const;
    HeartbeatConfig heartbeat() const;
    // Compares the store with the held settings now (the timer does it too).
    void check();

    static QString ChangedText() { return QStringLiteral("Alert settings changed outside Tarvo2"); }

Q_SIGNALS:
    // While held: the stored settings differ from those in force.
    void changedOutside(const QString &text);
    // The hold ended and the stored settings differ from those it kept:
    // whoever sends now takes the new ones (a retry, a new heartbeat).
    void takenAfterHold();

private:
    Loader m_load;
    QTimer m_check;
    bool m_held = false;
    Settings m_inForce;  // while held
    Settings m_lastSeen; // the last stored settings told of
};
