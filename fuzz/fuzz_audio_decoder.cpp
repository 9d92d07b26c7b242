// The sound decoder on a file of any content: opening either refuses it or
// gives a stream that decodes and mixes without memory or
// arithmetic faults (the build adds AddressSanitizer and UBSan).

#include "audio/FileStream.h"
#include "fuzz/FuzzHome.h"

#include <algorithm>

#include <vector>

namespace {
QString gPath;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    gPath = tarvo::fuzz::prepareHome() + QStringLiteral("/sound.bin");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!tarvo::fuzz::writeFile(gPath, reinterpret_cast<const char *>(data), size))
        return 0;
    auto stream = audio::FileStream::open(gPath, 0, 48000);
    if (!stream)
        return 0;
    // An odd rate exercises the resampler; a fast one ends long files soon.
    stream->setAttributes(int(std::min<qint64>(qint64(stream->defaultRate()) * 3 + 7, 1000000)), 80,
                          -30);
    if (!stream->start())
        return 0;
    std::vector<float> acc(512 * 2);
    // Bounded: a file may hold hours of audio.
    for (int round = 0; round < 64 && stream->state() == audio::FileStream::State::Playing;
         ++round) {
        stream->fill();
        std::fill(acc.begin(), acc.end(), 0.0f);
        stream->mixInto(acc.data(), 512, 2, 0);
    }
    return 0;
}
