#include "detect/CameraMotion.h"

#include "video/CameraStream.h"

const QString CameraMotion::MotionText = QStringLiteral("Camera detected motion");
const QString CameraMotion::CoveredText = QStringLiteral("Camera covered");
const QString CameraMotion::LostText = QStringLiteral("Camera lost");

CameraMotion::CameraMotion(CameraStream &stream, QObject *parent)
    : QObject(parent), m_stream(stream)
{
    connect(&m_stream, &CameraStream::started, this, &CameraMotion::streamStarted);
    connect(&m_stream, &CameraStream::lost, this, &CameraMotion::streamLost);
    connect(&m_stream, &CameraStream::frame, this, &CameraMotion::frame);
}

bool CameraMotion::available() const
{
    return m_stream.available();
}

QString CameraMotion::reason() const
{
    return m_stream.reason();
}

void CameraMotion::start()
{
    m_active = true;
    m_analysis.reset();
    m_sinceStart.invalidate();
    if (m_stream.running())
        m_sinceStart.start();
    else
        m_stream.start();
}

void CameraMotion::stop()
{
    m_active = false;
    m_stream.stop();
}

void CameraMotion::streamStarted()
{
    if (m_active)
        m_sinceStart.start();
}

void CameraMotion::streamLost(const QString &why)
{
    if (!m_active)
        return;
    m_active = false;
    if (m_sinceStart.isValid()) {
        qWarning("%s: %s", qPrintable(LostText), qPrintable(why));
        Q_EMIT intrusion(LostText);
    } else {
        Q_EMIT unavailable(why);
    }
}

void CameraMotion::frame(const QImage &grey)
{
    if (!m_active || !m_sinceStart.isValid() || m_sinceStart.elapsed() < SettleMs)
        return;
    switch (m_analysis.feed(grey)) {
    case MotionAnalysis::Verdict::Motion:
        Q_EMIT intrusion(MotionText);
        break;
    case MotionAnalysis::Verdict::Covered:
        Q_EMIT intrusion(CoveredText);
        break;
    case MotionAnalysis::Verdict::Nothing:
        break;
    }
}
