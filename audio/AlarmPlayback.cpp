#include "audio/AlarmPlayback.h"

#include <algorithm>

quint32 AlteredRate(quint32 F0, int G, int P, int M, int R)
{
    // A draw that P's range cannot give is brought into it.
    R = std::clamp(R, 0, std::max(RandomAlterationRange(P) - 1, 0));
    // 64-bit signed: the unsigned rate meets negative factors.
    const qint64 B = G / 2;
    const qint64 F1 = qint64(F0) + (B + 11) * (qint64(F0) / 100);
    const qint64 F2 = F1 + (qint64(R) - qint64(M / 10)) * (F1 / 100);
    return quint32(std::clamp<qint64>(F2, 100, 100000));
}

int RandomAlterationRange(int P)
{
    return std::max(2 * (P / 10), 0);
}

int PanForSpeaker(int speakerCode)
{
    switch (speakerCode) {
    case 0:
        return 100;
    case 2:
        return -100;
    default:
        return 0;
    }
}

AlarmPlayback::AlarmPlayback(audio::AudioEngine &engine) : m_engine(engine)
{
}

void AlarmPlayback::PlayHow(int slot, int speakerCode, const QString &fileName, const Alteration &a,
                            const RandomBelow &randomBelow)
{
    if (slot < 0 || slot >= SlotCount)
        return;
    const audio::Handle stream = m_engine.createFileStream(
        fileName, m_speakerFlags[std::size_t(slot)] | audio::StreamFlag::FreeWhenEnded);
    m_slots[std::size_t(slot)] = stream;
    if (stream == 0)
        return;

    const quint32 F0 = m_engine.defaultRate(stream);
    const quint32 range = quint32(RandomAlterationRange(a.random));
    const int R = randomBelow ? int(randomBelow(range)) : 0;
    const quint32 rate = AlteredRate(F0, a.base, a.random, a.randomMax, R);
    m_engine.setAttributes(stream, int(rate), a.volume, PanForSpeaker(speakerCode));
    m_engine.play(stream);
}

bool AlarmPlayback::IsPlaying() const
{
    bool playing = false;
    for (const audio::Handle stream : m_slots)
        playing = m_engine.isActive(stream) || playing; // every slot is asked
    return playing;
}

void AlarmPlayback::StopSounds()
{
    for (const audio::Handle stream : m_slots)
        m_engine.stop(stream);
    for (const audio::Handle stream : m_slots)
        m_engine.freeStream(stream);
}

AlarmPlayback::SpeakerButtons AlarmPlayback::CheckNoOfSpeakers()
{
    const int speakers = std::max(m_engine.speakerCount(), 0);
    SpeakerButtons buttons;
    if (speakers < 8) {
        buttons.button4 = false;
        buttons.button5 = false;
    }
    if (speakers < 6)
        buttons.button8 = false;
    if (speakers < 4) {
        buttons.button3 = false;
        buttons.button6 = false;
        m_speakerFlags[0] = 0; // the device's default routing
    }
    return buttons;
}

audio::Handle AlarmPlayback::slot(int i) const
{
    return i >= 0 && i < SlotCount ? m_slots[std::size_t(i)] : 0;
}

quint32 AlarmPlayback::speakerFlag(int i) const
{
    return i >= 0 && i < SlotCount ? m_speakerFlags[std::size_t(i)] : 0;
}
