#include "detect/ActivityMonitor.h"

#include <QGuiApplication>

ActivityMonitor::ActivityMonitor(ActivitySource &source, QObject *parent)
    : QObject(parent), m_source(source),
      m_ownWindowFocused([] { return QGuiApplication::focusWindow() != nullptr; })
{
    for (QTimer *led : {&TimLedKey, &TimLedPointer}) {
        led->setInterval(LedMilliseconds);
        led->setSingleShot(true);
    }
    TimLedKey.setObjectName(QStringLiteral("TimLedKey"));
    connect(&TimLedKey, &QTimer::timeout, this, [this] { SetLed(true, false); });
    connect(&TimLedPointer, &QTimer::timeout, this, [this] { SetLed(false, false); });
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMilliseconds);
    connect(&m_settle, &QTimer::timeout, this, &ActivityMonitor::Settled);
    connect(&source, &ActivitySource::activity, this, &ActivityMonitor::OnActivity);
}

void ActivityMonitor::setFocusSource(std::function<bool()> ownWindowFocused)
{
    if (ownWindowFocused)
        m_ownWindowFocused = std::move(ownWindowFocused);
}

void ActivityMonitor::addHint(ActivitySource &hint)
{
    connect(&hint, &ActivitySource::activity, this, &ActivityMonitor::OnActivity);
}

void ActivityMonitor::setKeyboardOn(bool on)
{
    m_keyboardOn = on;
}

void ActivityMonitor::setPointerOn(bool on)
{
    m_pointerOn = on;
}

void ActivityMonitor::NoteOwnKey()
{
    if (m_ownKeysCount) {
        if (m_keyboardOn)
            Detect(ActivitySource::Kind::Keyboard);
        Named();
        return;
    }
    m_ownKey.start();
}

// Input of a known kind: the unspecific activity around it was this input.
void ActivityMonitor::Named()
{
    m_named.start();
    m_settle.stop();
}

bool ActivityMonitor::OwnKeyRecently() const
{
    return m_ownKey.isValid() && m_ownKey.elapsed() < OwnKeyMilliseconds;
}

void ActivityMonitor::OnActivity(ActivitySource::Kind kind, int key)
{
    Q_UNUSED(key);
    switch (kind) {
    case ActivitySource::Kind::Keyboard:
        // Keys are told apart here, so the focus says where a key went.
        if (m_ownKeysCount || !m_ownWindowFocused()) {
            if (m_keyboardOn)
                Detect(kind);
        } else {
            m_ownKey.start();
        }
        Named();
        break;
    case ActivitySource::Kind::Pointer:
        if (m_pointerOn)
            Detect(kind);
        Named();
        break;
    case ActivitySource::Kind::Unknown:
        // Could be a key of our own whose event has not reached us yet, or
        // input that a hint names while this waits.
        if (m_named.isValid() && m_named.elapsed() < SettleMilliseconds)
            break; // it came first: counted already
        if ((m_keyboardOn || m_pointerOn) && !m_settle.isActive())
            m_settle.start();
        break;
    }
}

void ActivityMonitor::Settled()
{
    if (OwnKeyRecently())
        return;
    Detect(ActivitySource::Kind::Unknown);
}

void ActivityMonitor::Detect(ActivitySource::Kind kind)
{
    const QString activity = QStringLiteral("Activity detected");
    const bool unknown = kind == ActivitySource::Kind::Unknown;
    if (m_keyboardOn && kind != ActivitySource::Kind::Pointer) {
        Q_EMIT keyboardDetected(unknown ? activity : QStringLiteral("Keyboard detected"));
        SetLed(true, true);
        if (!TimLedKey.isActive())
            TimLedKey.start();
    }
    if (m_pointerOn && kind != ActivitySource::Kind::Keyboard) {
        Q_EMIT pointerDetected(unknown ? activity : QStringLiteral("Mouse detected"));
        SetLed(false, true);
        if (!TimLedPointer.isActive())
            TimLedPointer.start();
    }
}

void ActivityMonitor::SetLed(bool keyboard, bool lit)
{
    bool &led = keyboard ? m_keyLed : m_pointerLed;
    if (led == lit)
        return;
    led = lit;
    if (keyboard)
        Q_EMIT keyboardLedChanged(lit);
    else
        Q_EMIT pointerLedChanged(lit);
}
