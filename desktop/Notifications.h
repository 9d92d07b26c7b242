#pragma once
// Desktop notifications through org.freedesktop.Notifications on the session
// bus. Calls are sent without waiting for an answer; without a session bus or
// a notification service nothing is shown and nothing fails.

#include <QHash>
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

    // The kinds of problem: each has at most one notice on screen, replaced
    // in place while the problem lasts.
    enum class Problem
    {
        Alerts,
        Heartbeat,
        ScreenLock,
        Microphone,
        Other
    };

    explicit Notifications(QObject *parent = nullptr);

    // The installed desktop id: the desktop finds the program's name and
    // icon by it.
    static const QString DesktopId;

    // Sends one notification; returns whether it was handed to the bus.
    // shown gets the notification's id once the service answers.
    bool notify(const QString &summary, const QString &body, Urgency urgency = Urgency::Normal,
                std::function<void(uint)> shown = {}, uint replaces = 0);

    // Texts for the alarm's events. Disarming closes the alarms' and the
    // problems' notices.
    void armed() { notify(QStringLiteral("Tarvo2 armed"), QStringLiteral("The alarm is on.")); }
    void disarmed();
    void alarmRaised(const QString &event);
    // Alarm notices on screen (as far as the service has answered).
    int openAlarms() const { return int(m_alarmIds.size()); }
    // A problem's notice (not critical: that is for alarms), in place of the
    // last one of its kind.
    void failure(const QString &text, Problem kind = Problem::Other);
    // The problem is over: its notice goes.
    void problemGone(Problem kind);
    int openProblems() const { return int(m_problemIds.size()); }

    int sent() const { return m_sent; }

private:
    void closeNotification(uint id);

    int m_sent = 0;
    bool m_warned = false;
    QList<uint> m_alarmIds;
    QHash<Problem, uint> m_problemIds;
    QHash<Problem, int> m_problemEnds; // an answer after the problem's end is closed at once
    int m_disarmings = 0; // an answer that comes after a disarming is closed at once
};
