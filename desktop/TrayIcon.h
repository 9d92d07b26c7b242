#pragma once
// The alarm in the tray: one icon for each of disarmed, arming, armed and
// alarm, a tooltip, and a menu to show the window, arm or disarm and exit.
// It is told the alarm's state and asks for actions through its signals; it
// never reaches into the window, so every action takes the window's own
// path.

#include <QIcon>
#include <QImage>
#include <QObject>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

class TrayIcon : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Disarmed,
        Arming,
        Armed,
        Alarm
    };

    // available: whether the desktop has a tray (QSystemTrayIcon's answer
    // when empty; tests inject their own).
    explicit TrayIcon(std::function<bool()> available = {}, QObject *parent = nullptr);
    ~TrayIcon() override;

    bool isAvailable() const { return m_available(); }
    void setAvailability(std::function<bool()> available) { m_available = std::move(available); }
    // Shows the icon where a tray exists.
    void show();

    // The arm state as the alarm tells it; an alarm shows until it ends
    // (setAlarm(false)) or the alarm is disarmed.
    void setArmState(State armState);
    void setAlarm(bool raised);
    void setToggleEnabled(bool enabled);
    State state() const;

    QString toolTip() const;
    QMenu *menu() const { return m_menu.get(); }
    QAction *showAction() const { return m_show; }
    QAction *toggleAction() const { return m_toggle; }
    QAction *exitAction() const { return m_exit; }

    static QIcon Icon(State state);
    static QImage Render(State state, int size, qreal dpr = 1.0);

Q_SIGNALS:
    void showRequested();
    void toggleRequested();
    void exitRequested();

private:
    void update();

    std::function<bool()> m_available;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_show = nullptr;
    QAction *m_toggle = nullptr;
    QAction *m_exit = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    State m_armState = State::Disarmed;
    bool m_alarm = false;
};
