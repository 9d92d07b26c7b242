#include "audio/FileStream.h"

#include "audio/DecoderLibraries.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace audio {

namespace {

constexpr long kReadFrames = 1024;          // file frames read per resampler request
constexpr long kDecodeFrames = 1024;        // output frames produced per resampler call
constexpr int kMaxFileChannels = 64;        // more is taken for a broken header
constexpr double kMaxResampleRatio = 200.0; // inside libsamplerate's limit of 256
// Linear interpolation: alarm sounds with shifted pitch need no studio
// quality, and the sinc converters cost several times the CPU.
constexpr int kConverter = SRC_LINEAR;

// Only once open() found them loaded.
const DecoderLibraries &Lib()
{
    return *DecoderLibraries::Get();
}

} // namespace

std::unique_ptr<FileStream> FileStream::open(const QString &path, quint32 flags, int outputRate)
{
    // Only regular files: a FIFO or device node would block or never end.
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || !info.isReadable() || !DecoderLibraries::Get())
        return nullptr;

    SF_INFO format{};
    SNDFILE *file = Lib().sfOpen(QFile::encodeName(path).constData(), SFM_READ, &format);
    if (!file)
        return nullptr;
    if (format.samplerate <= 0 || format.channels < 1 || format.channels > kMaxFileChannels ||
        format.frames <= 0) {
        Lib().sfClose(file);
        return nullptr;
    }

    std::unique_ptr<FileStream> stream(new FileStream);
    stream->m_file = file;
    if ((format.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG && stream->openMpeg(path)) {
        Lib().sfClose(file);
        stream->m_file = nullptr;
        format.samplerate = int(stream->m_fileRate);
        format.channels = stream->m_fileChannels;
    }
    stream->m_flags = flags;
    stream->m_fileRate = quint32(format.samplerate);
    stream->m_fileChannels = format.channels;
    stream->m_outputRate = outputRate > 0 ? outputRate : 44100;
    stream->m_rate.store(format.samplerate);

    // A header can promise audio that is not there: only a file that yields
    // frames is a stream. What was read here is played first.
    stream->m_readBuffer.resize(std::size_t(kReadFrames) * std::size_t(format.channels));
    const long got = stream->readFile(stream->m_readBuffer.data(), kReadFrames);
    if (got <= 0)
        return nullptr;
    stream->m_pendingFrames = long(got);

    int error = 0;
    stream->m_resampler =
        Lib().srcCallbackNew(&FileStream::supplyInput, kConverter, 2, &error, stream.get());
    if (!stream->m_resampler)
        return nullptr;
    stream->m_outputFrames.resize(std::size_t(kDecodeFrames) * 2);
    return stream;
}

FileStream::~FileStream()
{
    if (m_resampler)
        Lib().srcDelete(m_resampler);
    if (m_file)
        Lib().sfClose(m_file);
    if (m_mpeg) {
        Lib().mpgClose(m_mpeg);
        Lib().mpgDelete(m_mpeg);
    }
}

bool FileStream::openMpeg(const QString &path)
{
    int error = MPG123_OK;
    mpg123_handle *handle = Lib().mpgNew(nullptr, &error);
    if (!handle)
        return false;
    Lib().mpgParam(handle, MPG123_ADD_FLAGS, MPG123_FORCE_FLOAT | MPG123_QUIET, 0.0);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (Lib().mpgOpen(handle, QFile::encodeName(path).constData()) != MPG123_OK ||
        Lib().mpgGetFormat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels < 1 || channels > 2 || encoding != MPG123_ENC_FLOAT_32) {
        Lib().mpgDelete(handle); // closes an opened file too
        return false;
    }
    // Whatever the stream does later, the output keeps this format.
    Lib().mpgFormatNone(handle);
    Lib().mpgFormat(handle, rate, channels, encoding);
    m_mpeg = handle;
    m_fileRate = quint32(rate);
    m_fileChannels = channels;
    return true;
}

long FileStream::readFile(float *out, long frames)
{
    if (!m_mpeg) {
        const sf_count_t got = Lib().sfReadFloat(m_file, out, frames);
        return got > 0 ? long(got) : 0;
    }
    const std::size_t frameBytes = sizeof(float) * std::size_t(m_fileChannels);
    const std::size_t wanted = std::size_t(frames) * frameBytes;
    std::size_t filled = 0;
    // Until the decoder says the stream is done (or fails), not until a
    // frame count known in advance.
    for (int idle = 0; filled < wanted && idle < 16;) {
        std::size_t done = 0;
        const int result = Lib().mpgRead(m_mpeg, reinterpret_cast<unsigned char *>(out) + filled,
                                       wanted - filled, &done);
        filled += done;
        idle = done == 0 ? idle + 1 : 0;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
            break;
    }
    return long(filled / frameBytes);
}

void FileStream::setAttributes(int rate, int volume, int pan)
{
    rate = std::clamp(rate, 100, 100000);
    volume = std::clamp(volume, 0, 100);
    pan = std::clamp(pan, -100, 100);
    // Balance law: the side away from the pan direction fades out, the other
    // stays at full level.
    const float gain = float(volume) / 100.0f;
    const float left = pan > 0 ? 1.0f - float(pan) / 100.0f : 1.0f;
    const float right = pan < 0 ? 1.0f + float(pan) / 100.0f : 1.0f;
    m_rate.store(rate, std::memory_order_relaxed);
    m_leftGain.store(gain * left, std::memory_order_relaxed);
    m_rightGain.store(gain * right, std::memory_order_relaxed);
}

bool FileStream::start()
{
    State current = m_state.load();
    while (current == State::Ready || current == State::Stopped) {
        if (m_state.compare_exchange_weak(current, State::Playing))
            return true;
    }
    return current == State::Playing;
}

void FileStream::halt()
{
    State current = m_state.load();
    while (current == State::Ready || current == State::Playing) {
        if (m_state.compare_exchange_weak(current, State::Stopped))
            return;
    }
}

void FileStream::finish()
{
    m_state.store(State::Ended, std::memory_order_release);
}

bool FileStream::needsData() const
{
    return state() == State::Playing && !m_decodedToEnd.load(std::memory_order_acquire) &&
           m_ring.writable() >= std::size_t(kDecodeFrames);
}

void FileStream::fill()
{
    const std::lock_guard lock(m_decodeMutex);
    decodeLocked(m_ring.capacity());
}

void FileStream::fillAtLeast(std::size_t frames)
{
    const std::lock_guard lock(m_decodeMutex);
    decodeLocked(std::min(frames, m_ring.capacity()));
}

double FileStream::currentRatio() const
{
    return double(m_outputRate) / double(m_rate.load(std::memory_order_relaxed));
}

void FileStream::decodeLocked(std::size_t minimumFrames)
{
    while (!m_decodedToEnd.load(std::memory_order_relaxed) && m_ring.readable() < minimumFrames) {
        const std::size_t room = m_ring.writable();
        if (room == 0)
            return;
        double ratio = currentRatio();
        // Very low rates need more than the resampler's largest ratio: repeat
        // each input frame and let the resampler do the rest.
        m_repeat = ratio > kMaxResampleRatio ? int(std::ceil(ratio / kMaxResampleRatio)) : 1;
        ratio /= m_repeat;
        const long wanted = long(std::min<std::size_t>(room, std::size_t(kDecodeFrames)));
        const long produced = Lib().srcCallbackRead(m_resampler, ratio, wanted, m_outputFrames.data());
        if (produced <= 0) {
            // End of the file, or a resampler error: either way nothing follows.
            m_decodedToEnd.store(true, std::memory_order_release);
            return;
        }
        m_ring.write(m_outputFrames.data(), std::size_t(produced));
    }
}

long FileStream::supplyInput(void *self, float **data)
{
    auto *stream = static_cast<FileStream *>(self);
    const long frames = stream->readSource();
    *data = stream->m_inputFrames.data();
    return frames;
}

long FileStream::readSource()
{
    long frames = m_pendingFrames;
    m_pendingFrames = 0;
    if (frames == 0 && !m_sourceEnded)
        frames = readFile(m_readBuffer.data(), kReadFrames);
    if (frames == 0) {
        m_sourceEnded = true;
        return 0;
    }

    // Mono plays on both sides; of more channels the first two are taken.
    m_inputFrames.resize(std::size_t(frames) * std::size_t(m_repeat) * 2);
    const int channels = m_fileChannels;
    const int rightChannel = channels > 1 ? 1 : 0;
    float *out = m_inputFrames.data();
    for (long i = 0; i < frames; ++i) {
        const float *in = &m_readBuffer[std::size_t(i) * std::size_t(channels)];
        for (int r = 0; r < m_repeat; ++r) {
            *out++ = in[0];
            *out++ = in[rightChannel];
        }
    }
    return frames * m_repeat;
}

void FileStream::mixInto(float *acc, int frames, int channels, int firstChannel)
{
    if (state() != State::Playing)
        return;
    // Read the end mark before the fill level: when it is set, every frame the
    // decoder will ever write is already counted.
    const bool decodedToEnd = m_decodedToEnd.load(std::memory_order_acquire);
    const std::size_t available = m_ring.readable();
    const std::size_t count = std::min(available, std::size_t(frames));
    const float left = m_leftGain.load(std::memory_order_relaxed);
    const float right = m_rightGain.load(std::memory_order_relaxed);

    if (channels == 1) {
        for (std::size_t i = 0; i < count; ++i) {
            const float *frame = m_ring.peek(i);
            acc[i] += 0.5f * (frame[0] * left + frame[1] * right);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const float *frame = m_ring.peek(i);
            float *out = acc + i * std::size_t(channels) + std::size_t(firstChannel);
            out[0] += frame[0] * left;
            out[1] += frame[1] * right;
        }
    }
    m_ring.consume(count);

    if (decodedToEnd && count == available) {
        State playing = State::Playing;
        m_state.compare_exchange_strong(playing, State::Ended);
    }
}

} // namespace audio
