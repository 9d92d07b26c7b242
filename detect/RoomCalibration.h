#pragma once
// Calibration of the microphone for a room: records the room's block peaks
// for about ten seconds, without the gain, and proposes the input level,
// trigger volume and trigger length under which the room itself stays
// below the trigger volume with a margin. Runs without a window; the
// dialog only shows it.

#include "audio/AudioEngine.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QTimer>
#include <memory>

struct CalibrationProposal
{
    bool possible = false; // false: too loud even at the lowest level and highest volume
    int inputLevel = 77;
    int triggerVolume = 50;
    int triggerLength = 50;
    int blocks = 0;            // blocks measured
    quint32 roomPeak = 0;      // the loudest block's peak, raw 0..32768
    double roomMean = 0;       // mean block peak, raw
    double roomSpread = 0;     // standard deviation of the block peaks, raw
    quint32 roomCeiling = 0;   // what the room is expected to reach: the peak or mean + 3 spreads
    quint32 gainedCeiling = 0; // the ceiling at the proposed input level
};

Q_DECLARE_METATYPE(CalibrationProposal)

// The room's level, at the proposed input level, is at most half the
// trigger volume (6 dB of margin).
inline constexpr double CalibrationMargin = 2.0;

// rawPeaks: one peak per block (the louder channel), without gain.
CalibrationProposal ProposeCalibration(const QList<quint32> &rawPeaks, int currentTriggerLength);

class RoomCalibration : public QObject
{
    Q_OBJECT
public:
    static constexpr int Blocks = 100; // about 10 s of 100 ms blocks
    static constexpr int SilenceTimeoutMilliseconds = 5000;

    explicit RoomCalibration(audio::AudioEngine &engine, QObject *parent = nullptr);
    ~RoomCalibration() override;

    // false when the capture cannot start (no microphone). The engine's
    // one capture is taken over: whoever recorded before starts again after.
    bool Start(int currentTriggerLength);
    void Cancel();
    bool isRunning() const { return m_handle != 0; }
    QList<quint32> peaks() const { return m_peaks; }

Q_SIGNALS:
    void progress(int percent);
    void finished(const CalibrationProposal &proposal);
    void failed(const QString &reason);

private:
    struct Queue;
    Q_INVOKABLE void Drain(); // queued from the capture thread
    void Stop();

    audio::AudioEngine &m_engine;
    std::shared_ptr<Queue> m_queue;
    audio::Handle m_handle = 0;
    QList<quint32> m_peaks;
    int m_triggerLength = 50;
    QTimer m_silence;
};
