#pragma once
// The microphone level monitor: picks the capture input at start-up, runs the
// capture, carries every block's level word from SDL's capture thread to the
// user-interface thread, and judges the run of loud blocks (CheckLevel).
//
// The capture thread only appends the level word to a bounded queue and, if
// no wake-up is pending, posts one (at once for a block as loud as the
// trigger volume, else once two quiet blocks wait); the UI thread drains the
// queue one block at a time and emits levelReceived for each, so blocks
// arrive in order and one evaluation runs per block, serialised with every
// other handler.

#include "audio/AudioEngine.h"
#include "detect/InputGain.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <memory>

class MicrophoneMonitor : public QObject
{
    Q_OBJECT

public:
    // Ten minutes of ~100 ms blocks. A UI thread held up longer than that is
    // already far behind the room; the oldest blocks are dropped (and counted)
    // so that the newest, which say what is happening now, are the ones judged.
    static constexpr int MaxPendingBlocks = 6000;
    static constexpr int CaptureFrequency = 44100;

    explicit MicrophoneMonitor(audio::AudioEngine &engine, QObject *parent = nullptr);
    ~MicrophoneMonitor() override;

    // Fills the input names and applies the selection rules; false when no
    // input fits (the window then shows "Microphone not found!"). The window
    // then applies the choice with cmbRecSourceChange(selectedInput()).
    bool SelectInput();
    // The rules on their own: the last input switched on, else the first of
    // microphone type, else the first named "Microphone"; -1 when none fits.
    static int ChooseInput(const QStringList &names, const QList<quint32> &settings);
    QStringList inputNames() const { return m_inputNames; }
    int selectedInput() const { return m_selectedInput; }

    // Switches every input off, the selected one on at the current level.
    void cmbRecSourceChange(int index);
    int inputLevel() const { return m_inputLevel; }
    // The input level is a software gain on the captured samples (InputGain),
    // applied before the peak is taken; the input's own level follows it.
    void trkMicSensivityChange(int position);
    double gain() const { return m_gain; }

    // Nothing selected: true and nothing happens. False when the capture
    // cannot start (the window shows "Couldn't start recording!").
    bool StartRecording();
    // Ends the capture and clears the count, then emits recordingStopped.
    void StopRecording();
    bool isRecording() const;
    audio::Handle recordingHandle() const { return m_recordingHandle; }

    struct LevelResult
    {
        bool triggered;
        int detectionGauge;
        int durationGauge;
    };
    LevelResult CheckLevel(quint32 level, int triggerVolume, int triggerLength);

    int count() const { return m_count; }
    void resetCount() { m_count = 0; }
    quint32 currentLevel() const { return m_currentLevel; }
    bool ledLit() const { return m_ledLit; }
    // Takes effect at the next StartRecording; for tests of the overflow.
    void setMaxPendingBlocks(int blocks) { m_maxPendingBlocks = std::max(blocks, 1); }
    // Blocks dropped because the queue overflowed, since the last start.
    quint64 droppedBlocks() const;
    int pendingBlocks() const;

    QTimer TimLedMic;
    void TimLedMicTimer();

Q_SIGNALS:
    // UI thread, one per block, in block order.
    void levelReceived(quint32 level);
    void ledChanged(bool lit);
    // At the end of every StopRecording, also the one after a lost capture. The
    // sounds, TimTempMute and the gauges are the window's, which clears them itself.
    void recordingStopped();
    // The capture ended on its own (device gone); the monitor is no longer recording.
    void captureLost();

private:
    struct BlockQueue;

    Q_INVOKABLE void DrainBlocks(); // queued from the capture thread
    void CheckCaptureAlive();
    void DetachQueue();
    void SetLed(bool lit);

    audio::AudioEngine &m_engine;
    QStringList m_inputNames;
    int m_selectedInput = -1;
    int m_inputLevel = InputGain::UnityPosition; // samples unchanged
    double m_gain = 1.0;
    int m_maxPendingBlocks = MaxPendingBlocks;
    audio::Handle m_recordingHandle = 0;
    quint32 m_currentLevel = 0;
    qint32 m_count = 0;
    bool m_ledLit = false;
    std::shared_ptr<BlockQueue> m_queue;
    QTimer m_captureWatch;
};
