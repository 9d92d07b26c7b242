#pragma once
// The microphone's input level as a software gain on the captured samples,
// applied before the block's peak is taken. The slider's 0..100 maps to
// -40 dB .. 0 dB .. +12 dB, linear in decibels on each side of the position
// a fresh install has, where the samples pass unchanged; both sides have
// about the same 0.52 dB per step.

#include <QtGlobal>

namespace InputGain {

inline constexpr int MinPosition = 0;
inline constexpr int MaxPosition = 100;
inline constexpr int UnityPosition = 77;
inline constexpr double MinDecibels = -40.0;
inline constexpr double MaxDecibels = 12.0;

double DecibelsAt(int position);
// The amplitude factor; exactly 1.0 at UnityPosition.
double FactorAt(int position);
// The nearest position for a gain in dB, clamped to the slider's range.
int PositionFor(double decibels);

// The level word (left peak low 16 bits, right peak high 16 bits) of
// interleaved 16-bit stereo frames after the gain, each sample clipped to
// 16 bits as it would be by a gain stage before the recording.
quint32 GainedLevelWord(const qint16 *samples, int frames, double factor);
// A raw peak 0..32768 scaled the same way (the same result as scaling
// every sample, since the scaling is monotonic).
quint32 GainedPeak(quint32 peak, double factor);

} // namespace InputGain
