#pragma once
// A sound clip of the room with each alarm: 10 s from the default source,
// starting with up to 2 s from before the trigger, kept as
// "Evidence/<stamp>_sound.oga" (Ogg Vorbis) with the report line
// "Sound saved: <file name>".
//
// The engine's capture tap hands every captured block to a ring on the
// capture thread (a short lock, no QObject); the ring holds the last 2 s
// only while armed, which is while the microphone detector's capture runs.
// A trigger only marks where the clip starts, so the alarm sound never
// waits. Without a running capture the recorder opens one of its own a
// moment after the trigger (after the sound's first tick) and closes it
// when the clip is full or the alarm is disarmed: the microphone is never
// kept open while disarmed. The clip is encoded and written on a worker.

#include "audio/AudioEngine.h"
#include "evidence/EvidenceFolder.h"
#include "evidence/EvidenceSettings.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

class ReportLog;

struct SoundClipHooks
{
    std::function<EvidenceSettings()> settings; // EvidenceSettings::Load when empty
    // After the trigger, a capture of the recorder's own opens: the alarm's
    // first sound starts within 250 ms of a trigger.
    int ownCaptureDelayMs = 300;
};

class SoundClipRecorder : public QObject
{
    Q_OBJECT
public:
    static constexpr int ClipMs = 10000;
    static constexpr int LeadMs = 2000;
    static const QString MissingLine; // "Sound not available", once per arming
    using Hooks = SoundClipHooks;

    // Installs itself as the engine's capture tap; the engine must outlive it.
    SoundClipRecorder(audio::AudioEngine &engine, ReportLog &report, const QString &folder,
                      Hooks hooks = Hooks(), QObject *parent = nullptr);
    ~SoundClipRecorder() override;

    // Armed: the ring keeps the last seconds of a running capture. Disarmed:
    // the ring is emptied, a clip in progress ends with what it has and a
    // capture of the recorder's own is closed.
    void setArmed(bool armed);
    // A trigger the alarm accepted: starts a clip when the settings ask for
    // one and none is being recorded.
    void triggered();
    bool recording() const { return m_busy; }
    bool ownCaptureOpen() const { return m_ownCapture != 0; }

Q_SIGNALS:
    // The clip's full path, empty when none was kept.
    void clipFinished(const QString &filePath);

private:
    struct Feed;
    void startOwnCapture();
    Q_INVOKABLE void clipFull(); // posted by the capture thread
    void finish();
    void apply(const QString &fileName, const QString &error);

    audio::AudioEngine &m_engine;
    ReportLog &m_report;
    EvidenceFolder m_folder;
    Hooks m_hooks;
    std::shared_ptr<Feed> m_feed;
    audio::Handle m_ownCapture = 0;
    QTimer m_ownCaptureStart, m_deadline;
    std::thread m_writer;
    EvidenceFolder::Limits m_limits;
    QDateTime m_taken;
    bool m_armed = false, m_missingSaid = false;
    bool m_busy = false;       // from the trigger until the clip's report line
    bool m_collecting = false; // from the trigger until the clip is full
};
