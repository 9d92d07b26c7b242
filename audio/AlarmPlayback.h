#pragma once
// Alarm playback: the four playback slots, the pitch alteration, volume and
// pan of an alarm sound, and the speaker routing by the device's speaker
// count. User-interface thread only.

#include "audio/AudioEngine.h"

#include <QString>
#include <QtGlobal>
#include <array>
#include <functional>

// The playback rate of a sound whose own rate is F0, with base alteration G
// (-100..100), random alteration P and its maximum M, and the random draw R.
// Integer arithmetic, truncating division; the result is kept in 100..100000.
quint32 AlteredRate(quint32 F0, int G, int P, int M, int R);

// R is drawn uniformly below this: 2 * (P div 10), so 0 when P < 10.
int RandomAlterationRange(int P);

// Speaker code 0 plays right (+100), 1 both (0), 2 left (-100).
int PanForSpeaker(int speakerCode);

class AlarmPlayback
{
public:
    static constexpr int SlotCount = 4;

    struct Alteration
    {
        int volume;    // 0..100
        int base;      // G, -100..100
        int random;    // P, 0..randomMax
        int randomMax; // M, the random slider's maximum
    };
    // Uniform in 0..n-1, 0 for n == 0.
    using RandomBelow = std::function<quint32(quint32)>;

    // Which of the never-shown speaker buttons stay enabled.
    struct SpeakerButtons
    {
        bool button3 = true;
        bool button6 = true;
        bool button8 = true;
        bool button4 = true;
        bool button5 = true;
    };

    explicit AlarmPlayback(audio::AudioEngine &engine);

    // Plays a file in a slot. The slot takes the new handle even when it is 0;
    // whatever played in the slot before is left alone. Failures are silent.
    void PlayHow(int slot, int speakerCode, const QString &fileName, const Alteration &a,
                 const RandomBelow &randomBelow);
    bool IsPlaying() const;
    void StopSounds();
    SpeakerButtons CheckNoOfSpeakers();

    audio::Handle slot(int i) const;
    quint32 speakerFlag(int i) const;

private:
    audio::AudioEngine &m_engine;
    std::array<audio::Handle, SlotCount> m_slots{};
    std::array<quint32, SlotCount> m_speakerFlags{audio::StreamFlag::Front, audio::StreamFlag::Rear,
                                                  audio::StreamFlag::CenterLfe,
                                                  audio::StreamFlag::Rear2};
};
