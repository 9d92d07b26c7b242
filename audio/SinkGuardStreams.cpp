// The program's own playback streams: unmuted and at least at full volume
// for every alarm run, and watched while armed. A session manager restores
// a stream's last mute and volume when it opens (keyed by the application's
// name), so one mute by an intruder would otherwise silence every later
// alarm; setting the stream at each open also overwrites what was stored.

#include "audio/SinkGuard.h"
#include "audio/SinkGuardLoop.h"

#include <algorithm>

QString SinkGuard::JudgeStream(const SinkState &before, const SinkState &now)
{
    const QString verdict = Judge(before, now);
    if (verdict.isEmpty())
        return verdict;
    return now.muted ? QStringLiteral("Alarm sound muted") : QStringLiteral("Alarm sound lowered");
}

QHash<quint32, SinkGuard::SinkState> SinkGuard::ownStreams() const
{
    QHash<quint32, SinkState> states;
    for (auto it = m_streams.cbegin(); it != m_streams.cend(); ++it)
        states.insert(it.key(), it->state);
    return states;
}

void SinkGuard::OnStream(quint32 index, const SinkState &state, bool settled)
{
    Stream &stream = m_streams[index];
    stream.state = state;
    if (!settled)
        return;
    if (stream.pending) {
        if (!Matches(*stream.pending, state))
            return; // the guard's own change is on its way
        stream.pending.reset();
    }
    const QString verdict = m_armed ? Follow(stream.reference, state, &JudgeStream) : QString();
    if (m_runActive)
        EnforceStream(index);
    if (!verdict.isEmpty())
        Q_EMIT intrusion(verdict);
}

void SinkGuard::EnforceStream(quint32 index)
{
    const auto stream = m_streams.find(index);
    if (stream == m_streams.end() || stream->pending || !m_loop || !m_loop->mainloop)
        return;
    SinkState wanted = stream->state;
    wanted.muted = false;
    for (quint32 &v : wanted.volume)
        v = std::max(v, FullVolume);
    pa_cvolume volume;
    if (wanted == stream->state || m_enforcements >= MaxEnforcementsPerRun ||
        !Loop::FillVolume(wanted, volume))
        return;
    ++m_enforcements;
    pa_threaded_mainloop_lock(m_loop->mainloop);
    pa_context *context = m_loop->context;
    if (context && pa_context_get_state(context) == PA_CONTEXT_READY) {
        if (pa_operation *op =
                pa_context_set_sink_input_volume(context, index, &volume, nullptr, nullptr))
            pa_operation_unref(op);
        if (pa_operation *op = pa_context_set_sink_input_mute(context, index, 0, nullptr, nullptr))
            pa_operation_unref(op);
        ++m_loop->generation;
        m_loop->QueryStreams(index);
        stream->pending = wanted;
        m_settle.start();
    }
    pa_threaded_mainloop_unlock(m_loop->mainloop);
}

void SinkGuard::SettleStreams()
{
    for (Stream &stream : m_streams)
        stream.pending.reset();
}
