#include "detect/InputGain.h"

#include <algorithm>
#include <cmath>

namespace InputGain {

double DecibelsAt(int position)
{
    const int p = std::clamp(position, MinPosition, MaxPosition);
    if (p <= UnityPosition)
        return MinDecibels * double(UnityPosition - p) / double(UnityPosition - MinPosition);
    return MaxDecibels * double(p - UnityPosition) / double(MaxPosition - UnityPosition);
}

double FactorAt(int position)
{
    if (std::clamp(position, MinPosition, MaxPosition) == UnityPosition)
        return 1.0;
    return std::pow(10.0, DecibelsAt(position) / 20.0);
}

int PositionFor(double decibels)
{
    if (std::isnan(decibels))
        return UnityPosition;
    const double db = std::clamp(decibels, MinDecibels, MaxDecibels);
    const double p = db <= 0 ? UnityPosition - db / MinDecibels * (UnityPosition - MinPosition)
                             : UnityPosition + db / MaxDecibels * (MaxPosition - UnityPosition);
    return std::clamp(int(std::lround(p)), MinPosition, MaxPosition);
}

namespace {
int GainedSample(int sample, double factor)
{
    const long scaled = std::lround(sample * factor);
    return int(std::clamp<long>(scaled, -32768, 32767));
}
} // namespace

quint32 GainedLevelWord(const qint16 *samples, int frames, double factor)
{
    int left = 0;
    int right = 0;
    for (int i = 0; i < frames; ++i) {
        left = std::max(left, std::abs(GainedSample(samples[2 * i], factor)));
        right = std::max(right, std::abs(GainedSample(samples[2 * i + 1], factor)));
    }
    return quint32(left) | (quint32(right) << 16);
}

quint32 GainedPeak(quint32 peak, double factor)
{
    const double scaled = std::round(double(std::min<quint32>(peak, 32768)) * factor);
    return quint32(std::clamp(scaled, 0.0, 32768.0));
}

} // namespace InputGain
