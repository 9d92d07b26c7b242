#include "audio/OggEncoder.h"

#include "audio/DecoderLibraries.h"

#include <algorithm>
#include <cstring>

namespace audio {

namespace {
struct Memory
{
    QByteArray bytes;
    sf_count_t position = 0;
};

sf_count_t Length(void *user)
{
    return static_cast<Memory *>(user)->bytes.size();
}

sf_count_t Seek(sf_count_t offset, int whence, void *user)
{
    auto *memory = static_cast<Memory *>(user);
    const sf_count_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? memory->position
                                                 : memory->bytes.size();
    memory->position = std::max<sf_count_t>(0, base + offset);
    return memory->position;
}

sf_count_t Read(void *into, sf_count_t count, void *user)
{
    auto *memory = static_cast<Memory *>(user);
    const sf_count_t available = std::max<sf_count_t>(0, memory->bytes.size() - memory->position);
    count = std::min(count, available);
    std::memcpy(into, memory->bytes.constData() + memory->position, size_t(count));
    memory->position += count;
    return count;
}

sf_count_t Write(const void *from, sf_count_t count, void *user)
{
    auto *memory = static_cast<Memory *>(user);
    const sf_count_t end = memory->position + count;
    if (end > memory->bytes.size())
        memory->bytes.resize(end);
    std::memcpy(memory->bytes.data() + memory->position, from, size_t(count));
    memory->position = end;
    return count;
}

sf_count_t Tell(void *user)
{
    return static_cast<Memory *>(user)->position;
}
} // namespace

QByteArray EncodeOggVorbis(const qint16 *samples, qint64 frames, int channels, int rate,
                           QString *error)
{
    QString problem;
    const DecoderLibraries *sf = DecoderLibraries::Get(&problem);
    if (!sf) {
        if (error)
            *error = problem;
        return {};
    }
    SF_VIRTUAL_IO io{&Length, &Seek, &Read, &Write, &Tell};
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    Memory memory;
    SNDFILE *file = sf->sfOpenVirtual(&io, SFM_WRITE, &info, &memory);
    if (!file) {
        if (error)
            *error = QString::fromUtf8(sf->sfError(nullptr));
        return {};
    }
    const bool written = sf->sfWriteShort(file, samples, frames) == frames;
    sf->sfClose(file); // flushes the last pages
    if (!written) {
        if (error)
            *error = QStringLiteral("the sound could not be encoded");
        return {};
    }
    return memory.bytes;
}

} // namespace audio
