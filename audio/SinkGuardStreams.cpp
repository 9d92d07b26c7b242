// The program's own streams. Playback: unmuted and at least at full volume
// for every alarm run, and watched while armed. A session manager restores
// a stream's last mute and volume when it opens (keyed by the application's
// name), so one mute by an intruder would otherwise silence every later
// alarm; setting the stream at each open also overwrites what was stored.
// Capture: watched while armed, and unmuted and put back to its level
// while armed, so that the microphone detector goes on hearing.
//
// A session manager's restore comes on its own time: WirePlumber puts the
// stored mute and volume on a new stream after the server has shown it,
// then connects it to its device. Until the stream is connected and the
// guard's first change to it has settled, what it shows is that restore,
// followed but never judged.

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

QString SinkGuard::JudgeMicrophone(const SinkState &before, const SinkState &now)
{
    const QString verdict = Judge(before, now);
    if (verdict.isEmpty())
        return verdict;
    return now.muted ? QStringLiteral("Microphone muted") : QStringLiteral("Microphone lowered");
}

QHash<quint32, SinkGuard::SinkState> SinkGuard::ownStreams() const
{
    QHash<quint32, SinkState> states;
    for (auto it = m_streams.cbegin(); it != m_streams.cend(); ++it)
        states.insert(it.key(), it->state);
    return states;
}

void SinkGuard::OnStream(quint32 index, const SinkState &state, bool connected, bool settled)
{
    Stream &stream = m_streams[index];
    stream.state = state;
    if (!settled)
        return;
    if (stream.restoring && !Restored(index, stream, connected))
        return;
    if (stream.pending) {
        if (!Matches(*stream.pending, state))
            return; // the guard's own change is on its way
        stream.pending.reset();
    }
    const bool capture = m_side == Side::Capture;
    const std::optional<SinkState> before = stream.reference;
    const QString verdict =
        m_armed ? Follow(stream.reference, state, capture ? &JudgeMicrophone : &JudgeStream)
                : QString();
    if (m_runActive)
        EnforceStream(index);
    else if (capture && m_armed)
        KeepRecording(index, verdict.isEmpty() ? std::nullopt : before);
    if (!verdict.isEmpty())
        Q_EMIT intrusion(verdict);
}

bool SinkGuard::Restored(quint32 index, Stream &stream, bool connected)
{
    if (m_armed)
        stream.reference = stream.state;
    if (!m_armed && !m_runActive) { // nothing judged, nothing changed
        stream.restoring = !connected;
        return !stream.restoring;
    }
    if (!connected && stream.looks < MaxRestoreLooks) {
        ++stream.looks;
        QTimer::singleShot(RestoreLookInterval, this, [this, index] { LookAgain(index); });
        return false;
    }
    if (!stream.pending) {
        // The first change, made even when the stream already shows it:
        // the server shows it after whatever came before it.
        SinkState wanted = stream.state;
        if (m_runActive || m_side == Side::Capture)
            wanted.muted = false;
        if (m_runActive) {
            for (quint32 &v : wanted.volume)
                v = std::max(v, FullVolume);
        }
        SetStream(index, wanted, true);
        stream.restoring = stream.pending.has_value();
        return !stream.restoring;
    }
    if (!Matches(*stream.pending, stream.state))
        return false;
    stream.pending.reset();
    stream.restoring = false;
    return true;
}

void SinkGuard::LookAgain(quint32 index)
{
    const auto stream = m_streams.constFind(index);
    if (stream == m_streams.cend() || !stream->restoring || !m_loop || !m_loop->mainloop)
        return;
    pa_threaded_mainloop_lock(m_loop->mainloop);
    if (m_loop->context && pa_context_get_state(m_loop->context) == PA_CONTEXT_READY)
        m_loop->QueryStreams(index);
    pa_threaded_mainloop_unlock(m_loop->mainloop);
}

void SinkGuard::EnforceStream(quint32 index)
{
    const auto stream = m_streams.constFind(index);
    if (stream == m_streams.cend())
        return;
    SinkState wanted = stream->state;
    wanted.muted = false;
    for (quint32 &v : wanted.volume)
        v = std::max(v, FullVolume);
    SetStream(index, wanted);
}

void SinkGuard::KeepRecording(quint32 index, const std::optional<SinkState> &before)
{
    const auto stream = m_streams.constFind(index);
    if (stream == m_streams.cend())
        return;
    // Unmuted always; a drop judged an intrusion goes back to the level
    // before it. The user's own level, set while disarmed, stays.
    SinkState wanted = stream->state;
    wanted.muted = false;
    if (before && before->volume.size() == wanted.volume.size() && Level(*before) > Level(wanted))
        wanted.volume = before->volume;
    SetStream(index, wanted);
}

void SinkGuard::SetStream(quint32 index, const SinkState &wanted, bool evenIfShown)
{
    const auto stream = m_streams.find(index);
    if (stream == m_streams.end() || stream->pending || !m_loop || !m_loop->mainloop)
        return;
    pa_cvolume volume;
    if ((wanted == stream->state && !evenIfShown) || m_enforcements >= MaxEnforcementsPerRun ||
        !Loop::FillVolume(wanted, volume))
        return;
    ++m_enforcements;
    pa_threaded_mainloop_lock(m_loop->mainloop);
    pa_context *context = m_loop->context;
    if (context && pa_context_get_state(context) == PA_CONTEXT_READY) {
        m_loop->SetStream(index, volume, wanted.muted);
        ++m_loop->generation;
        m_loop->QueryStreams(index);
        stream->pending = wanted;
        m_settle.start();
    }
    pa_threaded_mainloop_unlock(m_loop->mainloop);
}

void SinkGuard::SettleStreams()
{
    // A first change the server never showed ends the restore all the same.
    for (Stream &stream : m_streams) {
        if (stream.pending)
            stream.restoring = false;
        stream.pending.reset();
    }
}
