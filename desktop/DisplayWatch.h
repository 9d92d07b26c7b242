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
// destructors (quick_exit). The watch needs the xcb plugin with GLib's event
// loop (Qt's default); on Wayland it is not available.

#include <QObject>
#include <QString>

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

private:
    bool m_available = false;
    QString m_reason;
};
