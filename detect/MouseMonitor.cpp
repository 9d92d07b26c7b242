#include "detect/MouseMonitor.h"

#include <QCursor>
#include <algorithm>

namespace {
constexpr int SampleMilliseconds = 250;
constexpr int LedMilliseconds = 250;
constexpr int DefaultSensitivity = 50;
} // namespace

MouseMonitor::MouseMonitor(QObject *parent)
    : QObject(parent), m_pointer([] { return QCursor::pos(); }),
      m_sensitivity([] { return DefaultSensitivity; })
{
    TimDetectMouse.setObjectName(QStringLiteral("TimDetectMouse"));
    TimDetectMouse.setInterval(SampleMilliseconds);
    connect(&TimDetectMouse, &QTimer::timeout, this,
            [this] { TimDetectMouseTimer(m_sensitivity()); });

    TimLedMou.setObjectName(QStringLiteral("TimLedMou"));
    TimLedMou.setInterval(LedMilliseconds);
    TimLedMou.setSingleShot(true);
    connect(&TimLedMou, &QTimer::timeout, this, &MouseMonitor::TimLedMouTimer);
}

void MouseMonitor::setPointerSource(PointerSource source)
{
    m_pointer = source ? std::move(source) : PointerSource([] { return QCursor::pos(); });
}

void MouseMonitor::setSensitivitySource(SensitivitySource source)
{
    m_sensitivity =
        source ? std::move(source) : SensitivitySource([] { return DefaultSensitivity; });
}

void MouseMonitor::TakeReference()
{
    m_reference = m_pointer();
}

void MouseMonitor::Start()
{
    TimDetectMouse.start();
}

void MouseMonitor::Stop()
{
    TimDetectMouse.stop();
}

bool MouseMonitor::TimDetectMouseTimer(int sensitivity)
{
    const QPoint position = m_pointer();
    const int tolerance = 100 - std::clamp(sensitivity, 0, 100);
    // 64-bit, so that coordinates near the ends of int cannot wrap.
    const auto beyond = [tolerance](int now, int before) {
        return qAbs(qint64(now) - qint64(before)) > tolerance;
    };
    const bool moved =
        beyond(position.x(), m_reference.x()) || beyond(position.y(), m_reference.y());
    if (moved) {
        Q_EMIT detected();
        SetLed(true);
        if (!TimLedMou.isActive())
            TimLedMou.start();
    }
    // Read again: the detection's handler may have taken a while.
    m_reference = m_pointer();
    return moved;
}

void MouseMonitor::TimLedMouTimer()
{
    TimLedMou.stop();
    SetLed(false);
}

void MouseMonitor::SetLed(bool lit)
{
    if (m_ledLit == lit)
        return;
    m_ledLit = lit;
    Q_EMIT ledChanged(lit);
}
