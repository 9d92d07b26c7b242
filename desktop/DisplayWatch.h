#pragma once
// The end of the display the windows are on (the X server ending at a
// log-out). Qt's platform plugin ends the process with exit(1) the next time
// its event source runs after the connection broke, while the network,
// sound and D-Bus threads still run: a crash waiting to happen, and no one
// told. This watch looks at the connection before each run of the plugin's
// event source and, once it broke, takes that source out of the event loop,
// so the program can still tell, end its threads and exit in order. Should
// the connection break in the instant between the two looks, the plugin's
// last words are caught: displayLost is emitted there, a notice on its way
// gets up to 3 s, and the process ends with status 0 without static
// destructors (quick_exit). On X the watch needs the xcb plugin with GLib's
// event loop (Qt's default).
//
// On Wayland, Qt's plugin ends the process with _exit(1) from whichever of
// its threads first finds the connection broken: its frame reader thread,
// or the UI thread reading on each wake of the event loop. The reader
// thread's last words are caught and that thread is held, the UI thread's
// reading is routed through this watch, which stops it once the connection
// broke; the program then ends in order and, as the plugin's own threads
// cannot, ends the process with status 0 while the application object goes
// (before the plugin would wait for the held thread).

#include <QObject>
#include <QString>

class QEvent;

class DisplayWatch : public QObject
{
    Q_OBJECT
public:
    explicit DisplayWatch(QObject *parent = nullptr);
    ~DisplayWatch() override;

    // Whether the end of the display is seen in time; reason says why not.
    bool available() const { return m_available; }
    QString reason() const { return m_reason; }

Q_SIGNALS:
    // Once, on the UI thread; the event loop still runs, the windows are gone.
    void displayLost();

protected:
    // Wayland: learns the plugin's display object from its first queued call
    // and holds back its calls once the connection broke.
    bool eventFilter(QObject *receiver, QEvent *event) override;

private:
    void watchX11();
    void watchWayland();

    bool m_available = false;
    QString m_reason;
};
