#include "audio/SinkGuard.h"
#include "audio/SinkGuardLoop.h"

#include <QSignalBlocker>
#include <algorithm>

SinkGuard::SinkGuard(const QString &server, QObject *parent)
    : SinkGuard(Side::Playback, server, parent)
{
}

SinkGuard::SinkGuard(Side side, const QString &server, QObject *parent)
    : QObject(parent), m_side(side), m_server(server)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SinkGuard::Connect);
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleTimeout);
    connect(&m_settle, &QTimer::timeout, this, &SinkGuard::Settle);
    m_idle.setSingleShot(true);
    m_idle.setInterval(IdleDisconnect);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (!Needed())
            Stop();
    });
    // A server may not tell the guard's connection of a new default at all
    // (see Loop::StartProbe); a fresh look now and then while armed keeps
    // the guard on the sink the alarm plays on.
    m_recheck.setInterval(RecheckInterval);
    connect(&m_recheck, &QTimer::timeout, this, [this] {
        if (!m_loop || !m_loop->mainloop)
            return;
        pa_threaded_mainloop_lock(m_loop->mainloop);
        if (m_loop->context && pa_context_get_state(m_loop->context) == PA_CONTEXT_READY)
            m_loop->StartProbe();
        pa_threaded_mainloop_unlock(m_loop->mainloop);
    });
}

SinkGuard::~SinkGuard()
{
    const QSignalBlocker quiet(this);
    Stop();
}

bool SinkGuard::Needed() const
{
    // A sink still to be put back, or a change of the guard's not yet
    // shown, keeps the connection (and its retries) until it is done.
    return m_watching || m_armed || m_runActive || !m_saved.isEmpty() || !m_pending.isEmpty();
}

void SinkGuard::UpdateConnection()
{
    if (Needed()) {
        m_idle.stop();
        if (!m_loop)
            Start();
    } else if (m_loop && !m_idle.isActive()) {
        m_idle.start();
    }
}

void SinkGuard::setWatching(bool watching)
{
    m_watching = watching;
    UpdateConnection();
}

void SinkGuard::Start()
{
    m_loop = std::make_shared<Loop>(m_side, m_server);
    m_loop->receiver = this;
    SetState(State::Connecting);
    m_loop->mainloop = pa_threaded_mainloop_new();
    if (!m_loop->mainloop || pa_threaded_mainloop_start(m_loop->mainloop) < 0) {
        // Without libpulse's own loop there is nothing to retry.
        if (m_loop->mainloop)
            pa_threaded_mainloop_free(m_loop->mainloop);
        m_loop->mainloop = nullptr;
        SetState(State::Unavailable);
        return;
    }
    Connect();
}

void SinkGuard::Stop()
{
    m_retry.stop();
    m_settle.stop();
    m_recheck.stop();
    if (m_loop) {
        QMutexLocker lock(&m_loop->queueMutex);
        m_loop->receiver = nullptr;
        m_loop->events.clear();
    }
    // Stops libpulse's thread and drops the connection.
    m_loop.reset();
    m_sinkName.clear();
    m_current.reset();
    m_reference.reset();
    m_pending.clear();
    m_streams.clear();
    m_retryInterval = FirstRetryInterval;
    SetState(State::Idle);
}

void SinkGuard::Connect()
{
    if (!m_loop || !m_loop->mainloop)
        return;
    pa_threaded_mainloop_lock(m_loop->mainloop);
    m_loop->DropContext();
    m_loop->context = m_loop->NewContext(&Loop::OnContextState);
    const bool failed = !m_loop->context;
    pa_threaded_mainloop_unlock(m_loop->mainloop);
    if (failed) {
        SetState(State::Unavailable);
        ScheduleRetry();
    }
}

void SinkGuard::ScheduleRetry()
{
    if (m_retry.isActive())
        return;
    m_retry.start(m_retryInterval);
    m_retryInterval = std::min(m_retryInterval * 2, MaxRetryInterval);
}

void SinkGuard::DrainEvents()
{
    const std::shared_ptr<Loop> loop = m_loop;
    if (!loop)
        return;
    std::deque<Event> events;
    {
        QMutexLocker lock(&loop->queueMutex);
        loop->wakePending = false;
        events.swap(loop->events);
    }
    for (const Event &event : events) {
        if (loop != m_loop)
            return;
        OnEvent(event);
    }
}

void SinkGuard::OnEvent(const Event &event)
{
    switch (event.kind) {
    case Event::Kind::Ready:
        ++m_connections;
        m_retryInterval = FirstRetryInterval;
        m_retry.stop();
        // A new server (or the same one again) starts from what it says.
        m_pending.clear();
        m_reference.reset();
        m_current.reset();
        m_streams.clear();
        SetState(State::Ready);
        // A run that ended while the server was away still owes its sinks.
        if (!m_runActive && !m_saved.isEmpty())
            Restore();
        break;
    case Event::Kind::Lost:
        m_current.reset();
        m_reference.reset();
        m_streams.clear();
        SetState(State::Unavailable);
        ScheduleRetry();
        break;
    case Event::Kind::DefaultSink:
        if (event.name != m_sinkName) {
            m_sinkName = event.name;
            m_current.reset();
            m_reference.reset();
            Q_EMIT sinkChanged(m_sinkName);
        }
        break;
    case Event::Kind::FreshDefault:
        // The guard's own connection missed a change: a new one sees it.
        if (event.name != m_sinkName && m_state == State::Ready)
            Connect();
        break;
    case Event::Kind::Sink:
        // Only this thread changes the count, so the comparison holds.
        OnSink(event.name, event.state, event.generation == m_loop->generation.load());
        break;
    case Event::Kind::Stream:
        OnStream(event.stream, event.state, event.connected,
                 event.generation == m_loop->generation.load());
        break;
    case Event::Kind::StreamGone:
        m_streams.remove(event.stream);
        break;
    }
}

void SinkGuard::OnSink(const QString &name, const SinkState &state, bool settled)
{
    if (name != m_sinkName)
        return;
    m_current = state;
    Q_EMIT sinkStateChanged();
    if (!settled)
        return;
    // PipeWire's pulse server takes a change after it has answered: until
    // the sink shows what the guard set, what it shows is on the way.
    if (const auto target = m_pending.constFind(name); target != m_pending.cend()) {
        if (!Matches(*target, state))
            return;
        m_pending.erase(target);
        if (m_pending.isEmpty()) {
            m_settle.stop();
            UpdateConnection();
        }
    }
    if (m_runActive) {
        Enforce(name, state);
        return;
    }
    if (!m_armed)
        return;
    const QString verdict =
        Follow(m_reference, state, m_side == Side::Capture ? &JudgeMicrophone : &Judge);
    if (!verdict.isEmpty())
        Q_EMIT intrusion(verdict);
}

QString SinkGuard::Follow(std::optional<SinkState> &reference, const SinkState &now,
                          QString (*judge)(const SinkState &, const SinkState &))
{
    if (!reference) {
        reference = now;
        return QString();
    }
    const QString verdict = judge(*reference, now);
    // The highest level seen is kept, so that several small steps down
    // add up; after an intrusion the new state is the new reference.
    const quint32 kept = verdict.isEmpty() ? std::max(Level(*reference), Level(now)) : 0;
    reference = now;
    if (kept > Level(now))
        reference->volume = QList<quint32>(now.volume.size(), kept);
    return verdict;
}

bool SinkGuard::Matches(const SinkState &a, const SinkState &b)
{
    if (a.muted != b.muted || a.volume.size() != b.volume.size())
        return false;
    for (int c = 0; c < a.volume.size(); ++c) {
        const quint32 x = a.volume.at(c), y = b.volume.at(c);
        if ((x > y ? x - y : y - x) > VolumeTolerance)
            return false;
    }
    return true;
}

void SinkGuard::Settle()
{
    // The server never showed what the guard set (someone changed it in
    // between, or the sink refused): a fresh look is judged as it is.
    m_pending.clear();
    UpdateConnection();
    SettleStreams();
    if (!m_loop || !m_loop->mainloop)
        return;
    pa_threaded_mainloop_lock(m_loop->mainloop);
    m_loop->QuerySink(m_sinkName.toUtf8().constData());
    m_loop->QueryStreams();
    pa_threaded_mainloop_unlock(m_loop->mainloop);
}

quint32 SinkGuard::Level(const SinkState &state)
{
    quint32 level = 0;
    for (const quint32 v : state.volume)
        level = std::max(level, v);
    return level;
}

QString SinkGuard::Judge(const SinkState &before, const SinkState &now)
{
    if (now.muted && !before.muted)
        return QStringLiteral("Volume muted");
    if (!now.muted && Level(now) + LowerStep < Level(before))
        return QStringLiteral("Volume lowered");
    return QString();
}

void SinkGuard::Enforce(const QString &name, const SinkState &state)
{
    SinkState wanted = state;
    wanted.muted = false;
    for (quint32 &v : wanted.volume)
        v = std::max(v, FullVolume);
    // A sink that does not take the change must not make the guard try
    // for ever.
    if (wanted == state || m_enforcements >= MaxEnforcementsPerRun)
        return;
    ++m_enforcements;
    // The first state met in a run is the one to put back. A later change
    // by someone else during the run is their latest wish: what they
    // changed (mute, or volume) replaces that part of it.
    const auto saved = m_saved.find(name);
    const auto applied = m_applied.constFind(name);
    if (saved == m_saved.end() || applied == m_applied.cend()) {
        m_saved.insert(name, state);
    } else {
        if (state.muted != applied->muted)
            saved->muted = state.muted;
        if (state.volume != applied->volume)
            saved->volume = state.volume;
    }
    m_applied.insert(name, wanted);
    Apply(name, wanted);
}

bool SinkGuard::Apply(const QString &name, const SinkState &state)
{
    if (!m_loop || !m_loop->mainloop)
        return false;
    bool applied = false;
    pa_threaded_mainloop_lock(m_loop->mainloop);
    pa_context *context = m_loop->context;
    pa_cvolume volume;
    if (context && pa_context_get_state(context) == PA_CONTEXT_READY &&
        Loop::FillVolume(state, volume)) {
        const QByteArray sink = name.toUtf8();
        m_loop->SetSink(sink.constData(), volume, state.muted);
        ++m_loop->generation;
        m_loop->QuerySink(sink.constData());
        applied = true;
        m_pending.insert(name, state);
        m_settle.start();
    }
    pa_threaded_mainloop_unlock(m_loop->mainloop);
    return applied;
}

void SinkGuard::Restore()
{
    m_applied.clear();
    const QHash<QString, SinkState> saved = std::exchange(m_saved, {});
    for (auto it = saved.cbegin(); it != saved.cend(); ++it) {
        // Kept for the next connection when the server is away.
        if (!Apply(it.key(), it.value())) {
            m_saved.insert(it.key(), it.value());
            continue;
        }
        if (it.key() == m_sinkName) {
            m_current = it.value();
            if (m_armed)
                m_reference = it.value();
        }
    }
}

void SinkGuard::setArmed(bool armed)
{
    if (armed == m_armed)
        return;
    m_armed = armed;
    m_reference = armed ? m_current : std::nullopt;
    m_enforcements = 0;
    for (Stream &stream : m_streams)
        stream.reference = armed ? std::optional(stream.state) : std::nullopt;
    if (armed && m_side == Side::Capture) {
        for (const quint32 index : m_streams.keys())
            KeepRecording(index, std::nullopt);
    }
    if (armed) {
        m_recheck.start();
    } else {
        m_recheck.stop();
        setRunActive(false);
    }
    UpdateConnection();
}

void SinkGuard::setRunActive(bool active)
{
    // Nothing is made loud on the capture side: the source stays the user's.
    if (active == m_runActive || m_side == Side::Capture)
        return;
    m_runActive = active;
    m_enforcements = 0;
    if (active) {
        if (m_current)
            Enforce(m_sinkName, *m_current);
        for (const quint32 index : m_streams.keys())
            EnforceStream(index);
    } else {
        Restore();
    }
    UpdateConnection();
}

void SinkGuard::SetState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}
