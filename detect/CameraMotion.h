#pragma once
// The camera as a detector: while on, the camera stream's frames are
// compared (MotionAnalysis) after a settle time for the camera's exposure;
// motion, a covered lens and the camera going away are intrusions.

#include "detect/MotionAnalysis.h"

#include <QElapsedTimer>
#include <QObject>

class CameraStream;

class CameraMotion : public QObject
{
    Q_OBJECT
public:
    static const QString MotionText, CoveredText, LostText;
    static constexpr int SettleMs = 3000;

    // The stream is shared (the alarm's photo is taken from it); it is
    // started and stopped here.
    explicit CameraMotion(CameraStream &stream, QObject *parent = nullptr);

    bool available() const;
    QString reason() const;

    // Opens the camera and watches it; what it shows once settled is the baseline.
    void start();
    void stop();
    bool active() const { return m_active; }

    void setSensitivity(int sensitivity) { m_analysis.setSensitivity(sensitivity); }
    int sensitivity() const { return m_analysis.sensitivity(); }

Q_SIGNALS:
    void intrusion(const QString &text);
    // The camera could not be opened when the detector was started.
    void unavailable(const QString &why);

private:
    void streamStarted();
    void streamLost(const QString &why);
    void frame(const QImage &grey);

    CameraStream &m_stream;
    MotionAnalysis m_analysis;
    QElapsedTimer m_sinceStart; // valid once the stream gives frames
    bool m_active = false;
};
