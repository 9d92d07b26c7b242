#pragma once
// The mouse movement monitor: samples the pointer every 250 ms and reports a
// move further than the tolerance (100 minus the sensitivity) on either axis
// since the previous sample.

#include <QObject>
#include <QPoint>
#include <QTimer>
#include <functional>

class MouseMonitor : public QObject
{
    Q_OBJECT

public:
    using PointerSource = std::function<QPoint()>;
    using SensitivitySource = std::function<int()>;

    explicit MouseMonitor(QObject *parent = nullptr);

    void setPointerSource(PointerSource source);         // QCursor::pos by default
    void setSensitivitySource(SensitivitySource source); // read at every tick; 50 by default

    void TakeReference();
    void Start();
    void Stop();
    bool isRunning() const { return TimDetectMouse.isActive(); }

    // One sample; true on a detection (detected() is emitted, then the LED lit).
    bool TimDetectMouseTimer(int sensitivity);
    QPoint reference() const { return m_reference; }
    bool ledLit() const { return m_ledLit; }

    QTimer TimDetectMouse;
    QTimer TimLedMou;
    void TimLedMouTimer();

Q_SIGNALS:
    void detected();
    void ledChanged(bool lit);

private:
    void SetLed(bool lit);

    PointerSource m_pointer;
    SensitivitySource m_sensitivity;
    QPoint m_reference;
    bool m_ledLit = false;
};
