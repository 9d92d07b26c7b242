#pragma once
// The rules of the detectors fed by an activity source: the keyboard
// detector, and the mouse detector where the pointer position cannot be
// read (Wayland). Each lights its LED on every detection, armed or not, and
// reports with the text that says what was seen.
//
// The program's own keys never count: a key press the X server reports
// while one of our windows has the keyboard focus went to us (Escape to
// disarm, typing into a field); where the session only says "active", an
// activity close to a key that reached our window is taken as that key.
//
// An unspecific activity is named by input told apart within
// SettleMilliseconds of it (a hint source's key or pointer, a counted key
// of our own): it is then reported once, as what it was.

#include "detect/ActivitySource.h"

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

class ActivityMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int LedMilliseconds = 250;
    // How long an unspecific activity waits for a key of our own to show up
    // (the two travel different roads), and how long such a key covers.
    static constexpr int SettleMilliseconds = 250;
    static constexpr int OwnKeyMilliseconds = 1500;

    // ownWindowFocused: whether one of the program's windows has the
    // keyboard focus (QGuiApplication::focusWindow() by default).
    explicit ActivityMonitor(ActivitySource &source, QObject *parent = nullptr);
    void setFocusSource(std::function<bool()> ownWindowFocused);

    void setKeyboardOn(bool on);
    void setPointerOn(bool on);
    bool keyboardOn() const { return m_keyboardOn; }
    bool pointerOn() const { return m_pointerOn; }
    ActivitySource &source() const { return m_source; }
    // A second source that tells keys from the pointer where the main one
    // cannot (XWayland's X server sees only input to X clients): its reports
    // count like the main source's and name the unspecific ones.
    void addHint(ActivitySource &hint);

    // A key event reached one of our windows: the owner's at rest; while
    // armed (ownKeysCount) a key like any other, whoever typed it.
    void NoteOwnKey();
    void setOwnKeysCount(bool count) { m_ownKeysCount = count; }

    // One report of the source, as the source's signal delivers it.
    void OnActivity(ActivitySource::Kind kind, int key);

    bool keyboardLedLit() const { return m_keyLed; }
    bool pointerLedLit() const { return m_pointerLed; }
    QTimer TimLedKey, TimLedPointer;

Q_SIGNALS:
    // "Keyboard detected" or "Activity detected".
    void keyboardDetected(const QString &text);
    // "Mouse detected" or "Activity detected".
    void pointerDetected(const QString &text);
    void keyboardLedChanged(bool lit);
    void pointerLedChanged(bool lit);

private:
    void Settled();
    void Detect(ActivitySource::Kind kind);
    void Named();
    bool OwnKeyRecently() const;
    void SetLed(bool keyboard, bool lit);

    ActivitySource &m_source;
    std::function<bool()> m_ownWindowFocused;
    bool m_keyboardOn = false;
    bool m_pointerOn = false;
    bool m_keyLed = false;
    bool m_pointerLed = false;
    QElapsedTimer m_ownKey;
    QElapsedTimer m_named; // the last key or pointer input told apart
    QTimer m_settle;
    bool m_ownKeysCount = false;
};
