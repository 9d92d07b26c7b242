#pragma once
// Tiny sound files written by the tests themselves.

#include <QFile>
#include <QString>
#include <cmath>
#include <functional>
#include <numbers>
#include <sndfile.h>
#include <vector>

namespace tarvo::test {

// sample(frame, channel) in -1..1; 16-bit PCM WAV.
inline bool writeWav(const QString &path, int rate, int channels, int frames,
                     const std::function<float(int, int)> &sample)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<float> data(std::size_t(frames) * std::size_t(channels));
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            data[std::size_t(f) * std::size_t(channels) + std::size_t(c)] = sample(f, c);
    const bool ok = sf_writef_float(file, data.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

// A mono sine of `cycles` whole periods over `frames` frames.
inline bool writeTone(const QString &path, int rate, int frames, int cycles, float amplitude = 0.5f)
{
    return writeWav(path, rate, 1, frames, [=](int f, int) {
        return amplitude * float(std::sin(2.0 * std::numbers::pi * cycles * f / frames));
    });
}

} // namespace tarvo::test
