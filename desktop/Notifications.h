#pragma once
// Desktop notifications through org.freedesktop.Notifications on the session
// bus. Calls are sent without waiting for an answer; without a session bus or
// a notification service nothing is shown and nothing fails.

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class Notifications : public QObject
{
    Q_OBJECT
public:
    enum class Urgency
    {
        Low = 0,
        Normal = 1,
        Critical = 2
    };

    explicit Notifications(QObject *parent = nullptr);

    // The installed desktop id: the desktop finds the program's name and
    // icon by it.
    static const QString DesktopId;

    // Sends one notification; returns whether it was handed to the bus.
    // shown gets the notification's id once the service answers.
    bool notify(const QString &summary, const QString &body, Urgency urgency = Urgency::Normal,
                std::function<void(uint)> shown = {});

    // Texts for the alarm's events. Disarming closes the alarms' notices.
    void armed() { notify(QStringLiteral("Tarvo2 armed"), QStringLiteral("The alarm is on.")); }
    void disarmed();
    void alarmRaised(const QString &event);
    // Alarm notices on screen (as far as the service has answered).
    int openAlarms() const { return int(m_alarmIds.size()); }
    void failure(const QString &text)
    {
        notify(QStringLiteral("Tarvo2 problem"), text, Urgency::Critical);
    }

    int sent() const { return m_sent; }

private:
    void closeNotification(uint id);

    int m_sent = 0;
    bool m_warned = false;
    QList<uint> m_alarmIds;
    int m_disarmings = 0; // an answer that comes after a disarming is closed at once
};
