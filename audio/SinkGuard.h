#pragma once
// The sound server's default output sink, watched and guarded over libpulse
// (PulseAudio, or PipeWire's pulse server): its mute state and volume, and
// changes of the default sink.
//
// While an alarm run plays, the guard unmutes the sink and raises every
// channel to at least full volume, so the alarm volume setting means what
// it says; when the run ends it puts the sink's previous mute state and
// per-channel volume back exactly. While armed, muting the sink or lowering
// it by more than a small step is reported as an intrusion; the guard's own
// changes never are.
//
// The program's own playback streams are guarded the same way, except that
// nothing is put back: during a run every one of them is unmuted and at
// least at full volume, whatever the session manager restored when it was
// opened (a mute stored from an earlier run included), and while armed a
// mute or a drop of one is an intrusion ("Alarm sound muted", "Alarm sound
// lowered"), also during a run.
//
// On the capture side (Side::Capture) the same guard watches the default
// source and the program's own recording streams instead: while armed, a
// mute or a drop of either is an intrusion ("Microphone muted",
// "Microphone lowered"). The source itself is never changed; the program's
// own recording stream is unmuted and put back to its level while armed.
// There is no run on this side.
//
// The guard is connected only while it has something to do: while the
// owner watches (arming and armed), during a run, and until a sink it
// changed is put back; a short while after that it disconnects and
// libpulse's thread ends, so an idle program runs no audio thread for it.
//
// libpulse runs its own main loop thread. Its callbacks only copy what they
// learn into a queue and post one wake-up; everything else, and every
// signal, happens on the thread that owns the guard. A missing server is a
// normal state ("unavailable"); a lost one is reconnected with a growing
// pause.

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

class SinkGuard : public QObject
{
    Q_OBJECT
public:
    // Which half of the sound server is guarded: the default sink and this
    // program's playback streams, or the default source and its recording
    // streams.
    enum class Side
    {
        Playback,
        Capture
    };
    enum class State
    {
        Idle, // not connected: nothing to guard
        Connecting,
        Ready,
        Unavailable
    };
    // PA_VOLUME_NORM: the sink's full volume.
    static constexpr quint32 FullVolume = 0x10000U;
    // Lowering by more than this (5 % of full) is an intrusion.
    static constexpr quint32 LowerStep = FullVolume / 20;
    static constexpr int FirstRetryInterval = 500; // ms, doubled up to MaxRetryInterval
    static constexpr int MaxRetryInterval = 10000;
    static constexpr int MaxEnforcementsPerRun = 50;
    // How long the server may take to show a change the guard made.
    static constexpr int SettleTimeout = 2000;
    // Rounding a server may do to a volume it was given (about 0.4 %).
    static constexpr quint32 VolumeTolerance = 256;
    // How long an idle guard stays connected, so that disarming and arming
    // again at once does not start the connection over.
    static constexpr int IdleDisconnect = 2000;
    // While armed, a new connection asks for the default sink this often.
    static constexpr int RecheckInterval = 10000;

    struct SinkState
    {
        bool muted = false;
        QList<quint32> volume; // per channel, in the server's units
        bool operator==(const SinkState &other) const = default;
    };

    // server: a libpulse server string; empty for the default one (which
    // follows PULSE_SERVER and the client configuration). Never spawns one.
    explicit SinkGuard(const QString &server = QString(), QObject *parent = nullptr);
    explicit SinkGuard(Side side, const QString &server = QString(), QObject *parent = nullptr);
    Side side() const { return m_side; }
    ~SinkGuard() override;

    // Connects and stays connected while watching; a guard that is not
    // watching still connects for setArmed and setRunActive.
    void setWatching(bool watching);
    bool connected() const { return m_loop != nullptr; }
    State state() const { return m_state; }
    bool available() const { return m_state == State::Ready; }
    QString sinkName() const { return m_sinkName; }
    // The default sink's state as last heard; nullopt before it is known.
    std::optional<SinkState> sinkState() const { return m_current; }
    int connectionCount() const { return m_connections; }

    void setArmed(bool armed);
    bool armed() const { return m_armed; }
    void setRunActive(bool active);
    bool runActive() const { return m_runActive; }

    // Whether a new state of an armed sink, against what it was, is an
    // intrusion; the text to report, or empty.
    static QString Judge(const SinkState &before, const SinkState &now);
    // The same for one of the program's own playback streams.
    static QString JudgeStream(const SinkState &before, const SinkState &now);
    // The same for the default source and the own recording streams.
    static QString JudgeMicrophone(const SinkState &before, const SinkState &now);
    // The program's own streams as last heard, by server index.
    QHash<quint32, SinkState> ownStreams() const;
    static quint32 Level(const SinkState &state);
    static bool Matches(const SinkState &a, const SinkState &b);

Q_SIGNALS:
    void stateChanged(SinkGuard::State state);
    void sinkChanged(const QString &name);
    void sinkStateChanged();
    void intrusion(const QString &message);

private:
    struct Loop;
    struct Event;

    bool Needed() const;
    void UpdateConnection();
    void Start();
    void Stop();
    void Connect();
    // Queued by name from libpulse's thread.
    Q_INVOKABLE void DrainEvents();
    void OnEvent(const Event &event);
    void OnSink(const QString &name, const SinkState &state, bool settled);
    void Enforce(const QString &name, const SinkState &state);
    void Restore();
    bool Apply(const QString &name, const SinkState &state);
    void Settle();
    void SetState(State state);
    void ScheduleRetry();
    // Judges now against reference and moves the reference on; the verdict.
    static QString Follow(std::optional<SinkState> &reference, const SinkState &now,
                          QString (*judge)(const SinkState &, const SinkState &));
    // The program's own streams (SinkGuardStreams.cpp).
    struct Stream
    {
        SinkState state;
        std::optional<SinkState> reference; // while armed
        std::optional<SinkState> pending;   // set by the guard, not yet shown
        // New: the session manager may still put its stored state on it.
        bool restoring = true;
        int looks = 0; // asked again while not yet connected
    };
    // How often, and how many times, a new stream not yet connected to its
    // device is asked for again.
    static constexpr int RestoreLookInterval = 100; // ms
    static constexpr int MaxRestoreLooks = 50;
    void OnStream(quint32 index, const SinkState &state, bool connected, bool settled);
    // False while the stream's state is still the session manager's.
    bool Restored(quint32 index, Stream &stream, bool connected);
    void LookAgain(quint32 index);
    void EnforceStream(quint32 index);
    // Capture side, armed: the own recording stream unmuted, at its level.
    void KeepRecording(quint32 index, const std::optional<SinkState> &before);
    void SetStream(quint32 index, const SinkState &wanted, bool evenIfShown = false);
    void SettleStreams();
    QHash<quint32, Stream> m_streams;

    Side m_side = Side::Playback;
    QString m_server;
    std::shared_ptr<Loop> m_loop;
    State m_state = State::Idle;
    QString m_sinkName;
    std::optional<SinkState> m_current;
    std::optional<SinkState> m_reference; // what an intrusion is judged against
    QHash<QString, SinkState> m_saved;    // the sinks' states before the run
    QHash<QString, SinkState> m_applied;  // what the guard set during the run
    QHash<QString, SinkState> m_pending;  // set, not yet shown by the server
    QTimer m_settle;
    QTimer m_recheck; // the default sink asked for again while armed
    QTimer m_idle;
    bool m_watching = false;
    bool m_armed = false;
    bool m_runActive = false;
    int m_enforcements = 0;
    int m_connections = 0;
    int m_retryInterval = FirstRetryInterval;
    QTimer m_retry;
};
