#pragma once
// Where user input activity comes from: one narrow interface, with one
// implementation per kind of session (the X server's raw input events,
// mutter's idle monitor, the ext-idle-notify-v1 protocol, the freedesktop
// screen saver). The factory picks the first one that works here, so the
// window never asks which desktop it runs on.

#include <QObject>
#include <QString>
#include <memory>

class ActivitySource : public QObject
{
    Q_OBJECT
public:
    enum class Kind
    {
        Keyboard, // a key went down
        Pointer,  // the pointer moved or a button went down
        Unknown   // the session only says "the user was active"
    };
    Q_ENUM(Kind)

    using QObject::QObject;

    // False when the service is missing or went away; activity() is then
    // never emitted.
    virtual bool available() const = 0;
    // Whether keys are told apart from the pointer (Keyboard/Pointer kinds).
    virtual bool distinguishesKeys() const = 0;
    // A short name for the report and diagnostics ("XInput2", ...).
    virtual QString name() const = 0;

Q_SIGNALS:
    // UI thread. key: the Qt::Key of a key press where the source knows it
    // (0 otherwise), so that the program's own keys can be told apart.
    void activity(ActivitySource::Kind kind, int key);
    void availabilityChanged(bool available);
};

// True when the pointer position that Qt reports follows the pointer over
// every window: an X11 session seen through a plain X11 connection. Native
// Wayland and X clients forced onto XWayland only see their own windows.
bool CanReadGlobalPointer();
// True in a Wayland session, also for a program forced onto XWayland.
bool IsWaylandSession();

// The first working source for this session: X11 raw input, else mutter's
// idle monitor, ext-idle-notify-v1, the freedesktop screen saver. Never
// null: a source that is not available stands in when nothing works.
std::unique_ptr<ActivitySource> CreateActivitySource(QObject *parent = nullptr);

// Where the session only says "active" (source does not tell keys apart):
// the X server of XWayland ($DISPLAY in a Wayland session) as a hint that
// names input reaching X clients. Null where there is none.
std::unique_ptr<ActivitySource> CreateActivityHint(const ActivitySource &source,
                                                   QObject *parent = nullptr);

// One backend by name ("xinput2", "mutter", "wayland", "screensaver"), for
// tests and for TARVO2_ACTIVITY_SOURCE; null for an unknown name.
std::unique_ptr<ActivitySource> CreateActivitySourceNamed(const QString &name,
                                                          QObject *parent = nullptr);
