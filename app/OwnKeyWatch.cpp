#include "app/OwnKeyWatch.h"

#include "app/fmMain.h"
#include "detect/ActivityMonitor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

namespace {
bool KeysAreOwners(const QWidget *window)
{
    return window && !TfrmMain::isNotice(window->window());
}

class OwnKeyWatch : public QObject
{
public:
    OwnKeyWatch(ActivityMonitor &monitor, QObject *parent) : QObject(parent), m_monitor(&monitor) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
            watched->isWidgetType() && m_monitor && KeysAreOwners(static_cast<QWidget *>(watched)))
            m_monitor->NoteOwnKey();
        return false;
    }

private:
    QPointer<ActivityMonitor> m_monitor; // the guard's, which may go first
};
} // namespace

void WatchOwnKeys(ActivityMonitor &monitor, QObject *owner)
{
    monitor.setFocusSource([] { return KeysAreOwners(QApplication::activeWindow()); });
    qApp->installEventFilter(new OwnKeyWatch(monitor, owner));
}
