#include "audio/AudioEngine.h"

#include "audio/FileStream.h"

#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace audio {

namespace {

// The oldest SDL runtime this program is built and tested for.
constexpr SDL_version kMinimumSdl{2, 0, 18};

constexpr Uint16 kOutputPeriodFrames = 1024; // about 23 ms at 44100 Hz
constexpr int kMixChunkFrames = 1024;
constexpr int kMaxOutputChannels = 8;
constexpr auto kFeedInterval = std::chrono::milliseconds(20);

// One counter for streams and captures: a handle is never handed out twice,
// even by two engines in one process.
std::atomic<Handle> g_nextHandle{1};

Handle newHandle()
{
    Handle handle = g_nextHandle.fetch_add(1);
    while (handle == 0)
        handle = g_nextHandle.fetch_add(1);
    return handle;
}

bool initSdlAudio()
{
    // Without this SDL installs its own SIGINT/SIGTERM handlers and the
    // program no longer ends on them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

bool runtimeSdlAtLeast(int major, int minor, int patch)
{
    SDL_version linked{};
    SDL_GetVersion(&linked);
    return SDL_VERSIONNUM(linked.major, linked.minor, linked.patch) >=
           SDL_VERSIONNUM(major, minor, patch);
}

// The channel where a speaker pair starts in SDL's channel order; pairs the
// device lacks play on the front pair.
int firstChannelFor(quint32 flags, int channels)
{
    switch (flags & StreamFlag::SpeakerMask) {
    case StreamFlag::Rear:
        if (channels == 4)
            return 2; // FL FR BL BR
        if (channels == 5)
            return 3; // FL FR LFE BL BR
        if (channels == 6 || channels == 8)
            return 4; // ... FC LFE BL BR (SL SR on 5.1)
        if (channels == 7)
            return 5; // FL FR FC LFE BC SL SR
        return 0;
    case StreamFlag::CenterLfe:
        return channels >= 6 ? 2 : 0;
    case StreamFlag::Rear2:
        return channels == 8 ? 6 : 0;
    default:
        return 0;
    }
}

void toSamples(const float *acc, qint16 *out, std::size_t count)
{
    // Saturate: an overloaded mix clips instead of wrapping around.
    for (std::size_t i = 0; i < count; ++i) {
        const float scaled = std::clamp(acc[i] * 32768.0f, -32768.0f, 32767.0f);
        out[i] = qint16(std::lrintf(scaled));
    }
}

} // namespace

struct AudioEngine::Impl
{
    // Devices, touched by the user-interface thread only.
    bool outputSdl = false;
    bool captureSdl = false;
    SDL_AudioDeviceID outputDevice = 0;
    int outputRate = 44100;
    int outputChannels = 0;
    std::vector<float> deviceMix; // the output callback's accumulator
    std::vector<float> renderMix; // renderOutput's accumulator
    QString captureName;
    bool inputOn = true;
    int inputLevel = 100;

    // Streams: the map is shared by the user-interface, decoder and audio
    // threads; its lock is only ever held for map access and mixing.
    std::mutex streamsMutex;
    std::map<Handle, std::shared_ptr<FileStream>> streams;

    // Decoder thread.
    std::thread feeder;
    std::mutex feederMutex;
    std::condition_variable feederWake;
    bool feederQuit = false;
    bool feederPoked = false;

    // Capture: written by the user-interface thread while the capture thread
    // is not running; read by the capture thread and by callbacks into the
    // engine from it, hence atomics and no lock.
    std::atomic<SDL_AudioDeviceID> captureDevice{0};
    std::atomic<Handle> captureHandle{0};
    std::atomic<bool> captureActive{false};
    std::atomic<quint32> captureLevelWord{0};
    CaptureCallback captureCallback;
    std::vector<qint16> captureBlock;
    int captureBlockFrames = 0;
    int captureBlockFill = 0;

    ~Impl();

    std::shared_ptr<FileStream> findStream(Handle handle);
    void reapEndedStreams();
    void freeAllStreams();
    void mix(float *acc, int frames, int channels);
    void startFeeder();
    void pokeFeeder();
    void feedLoop();
    void stopCapture();
    void deliverCaptureBlock();

    static void outputCallback(void *self, Uint8 *data, int bytes);
    static void captureCallbackEntry(void *self, Uint8 *data, int bytes);
};

AudioEngine::Impl::~Impl()
{
    if (feeder.joinable()) {
        {
            const std::lock_guard lock(feederMutex);
            feederQuit = true;
        }
        feederWake.notify_all();
        feeder.join();
    }
}

std::shared_ptr<FileStream> AudioEngine::Impl::findStream(Handle handle)
{
    if (handle == 0)
        return nullptr;
    // Every question about a stream first lets ended streams go.
    reapEndedStreams();
    const std::lock_guard lock(streamsMutex);
    const auto it = streams.find(handle);
    return it == streams.end() ? nullptr : it->second;
}

void AudioEngine::Impl::reapEndedStreams()
{
    std::vector<std::shared_ptr<FileStream>> ended;
    {
        const std::lock_guard lock(streamsMutex);
        for (auto it = streams.begin(); it != streams.end();) {
            if (it->second->state() == FileStream::State::Ended &&
                (it->second->flags() & StreamFlag::FreeWhenEnded)) {
                ended.push_back(std::move(it->second));
                it = streams.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The files close here, outside the lock.
}

void AudioEngine::Impl::freeAllStreams()
{
    std::map<Handle, std::shared_ptr<FileStream>> all;
    {
        const std::lock_guard lock(streamsMutex);
        all.swap(streams);
    }
}

void AudioEngine::Impl::mix(float *acc, int frames, int channels)
{
    std::fill(acc, acc + std::size_t(frames) * std::size_t(channels), 0.0f);
    const std::lock_guard lock(streamsMutex);
    for (const auto &[handle, stream] : streams)
        stream->mixInto(acc, frames, channels, firstChannelFor(stream->flags(), channels));
}

void AudioEngine::Impl::startFeeder()
{
    if (!feeder.joinable())
        feeder = std::thread([this] { feedLoop(); });
}

void AudioEngine::Impl::pokeFeeder()
{
    {
        const std::lock_guard lock(feederMutex);
        feederPoked = true;
    }
    feederWake.notify_one();
}

void AudioEngine::Impl::feedLoop()
{
    std::vector<std::shared_ptr<FileStream>> hungry;
    for (;;) {
        reapEndedStreams();
        bool anyUnfinished = false;
        {
            const std::lock_guard lock(streamsMutex);
            for (const auto &[handle, stream] : streams) {
                if (stream->state() == FileStream::State::Playing) {
                    anyUnfinished = true; // until it ends, it may want data or freeing
                    if (stream->needsData())
                        hungry.push_back(stream);
                }
            }
        }
        for (const auto &stream : hungry)
            stream->fill();
        hungry.clear();

        std::unique_lock lock(feederMutex);
        // Idle without playing streams: sleep until play() or shutdown.
        if (anyUnfinished)
            feederWake.wait_for(lock, kFeedInterval, [this] { return feederQuit || feederPoked; });
        else
            feederWake.wait(lock, [this] { return feederQuit || feederPoked; });
        if (feederQuit)
            return;
        feederPoked = false;
    }
}

void AudioEngine::Impl::outputCallback(void *self, Uint8 *data, int bytes)
{
    auto *d = static_cast<Impl *>(self);
    const int channels = std::max(d->outputChannels, 1);
    auto *out = reinterpret_cast<qint16 *>(data);
    int frames = bytes / int(sizeof(qint16)) / channels;
    while (frames > 0) {
        const int chunk = std::min(frames, kMixChunkFrames);
        d->mix(d->deviceMix.data(), chunk, channels);
        const std::size_t samples = std::size_t(chunk) * std::size_t(channels);
        toSamples(d->deviceMix.data(), out, samples);
        out += samples;
        frames -= chunk;
    }
}

void AudioEngine::Impl::stopCapture()
{
    const SDL_AudioDeviceID device = captureDevice.load();
    captureActive.store(false);
    if (device != 0) {
        // Joins the capture thread; nothing here may hold a lock it could need.
        SDL_CloseAudioDevice(device);
        captureDevice.store(0);
    }
    captureCallback = nullptr;
}

void AudioEngine::Impl::captureCallbackEntry(void *self, Uint8 *data, int bytes)
{
    auto *d = static_cast<Impl *>(self);
    if (!d->captureActive.load())
        return;
    // A device that has gone away feeds silence for ever: that is no recording.
    if (SDL_GetAudioDeviceStatus(d->captureDevice.load()) == SDL_AUDIO_STOPPED) {
        d->captureActive.store(false);
        return;
    }
    const auto *in = reinterpret_cast<const qint16 *>(data);
    int frames = bytes / int(2 * sizeof(qint16));
    // Drivers may hand over smaller pieces; the program sees whole blocks.
    while (frames > 0 && d->captureActive.load()) {
        const int take = std::min(frames, d->captureBlockFrames - d->captureBlockFill);
        std::memcpy(&d->captureBlock[std::size_t(d->captureBlockFill) * 2], in,
                    std::size_t(take) * 2 * sizeof(qint16));
        d->captureBlockFill += take;
        in += std::size_t(take) * 2;
        frames -= take;
        if (d->captureBlockFill == d->captureBlockFrames) {
            d->deliverCaptureBlock();
            d->captureBlockFill = 0;
        }
    }
}

void AudioEngine::Impl::deliverCaptureBlock()
{
    int leftPeak = 0;
    int rightPeak = 0;
    const qint16 *samples = captureBlock.data();
    for (int i = 0; i < captureBlockFrames; ++i) {
        leftPeak = std::max(leftPeak, std::abs(int(samples[2 * i])));
        rightPeak = std::max(rightPeak, std::abs(int(samples[2 * i + 1])));
    }
    const quint32 word = quint32(leftPeak) | (quint32(rightPeak) << 16);
    captureLevelWord.store(word);

    bool goOn = true;
    if (captureCallback) {
        // An exception must not unwind through SDL's C thread.
        try {
            goOn = captureCallback(captureHandle.load(), samples, captureBlockFrames, word);
        } catch (...) {
            goOn = false;
        }
    }
    if (!goOn)
        captureActive.store(false);
}

AudioEngine::AudioEngine() : d(std::make_unique<Impl>())
{
}

AudioEngine::~AudioEngine()
{
    freeCapture();
    freeOutput();
    d->freeAllStreams();
}

quint32 AudioEngine::interfaceVersion()
{
    return runtimeSdlAtLeast(kMinimumSdl.major, kMinimumSdl.minor, kMinimumSdl.patch) ? 2 : 0;
}

bool AudioEngine::initCapture()
{
    if (d->captureSdl)
        return true;
    if (!initSdlAudio())
        return false;
    d->captureSdl = true;
    d->captureName.clear();
    // A machine without a microphone still runs the other detectors: capture
    // is ready but lists no input. -1 means the driver cannot list devices;
    // opening the default one may still work.
    if (SDL_GetNumAudioDevices(1) == 0)
        return true;
#if SDL_VERSION_ATLEAST(2, 24, 0)
    if (runtimeSdlAtLeast(2, 24, 0)) {
        char *name = nullptr;
        SDL_AudioSpec format{};
        if (SDL_GetDefaultAudioInfo(&name, &format, 1) == 0 && name)
            d->captureName = QString::fromUtf8(name);
        SDL_free(name);
    }
#endif
    if (d->captureName.isEmpty())
        d->captureName = QStringLiteral("Default capture device");
    d->inputOn = true;
    d->inputLevel = 100;
    return true;
}

bool AudioEngine::initOutput(int frequency)
{
    if (d->outputDevice != 0)
        return true;
    if (frequency <= 0)
        frequency = 44100;
    if (!d->outputSdl) {
        if (!initSdlAudio())
            return false;
        d->outputSdl = true;
    }

    // Ask for as many channels as the default device has, so that the
    // speaker count is the device's own.
    int channels = 2;
#if SDL_VERSION_ATLEAST(2, 24, 0)
    if (runtimeSdlAtLeast(2, 24, 0)) {
        SDL_AudioSpec format{};
        if (SDL_GetDefaultAudioInfo(nullptr, &format, 0) == 0 && format.channels > 0)
            channels = std::min<int>(format.channels, kMaxOutputChannels);
    }
#endif
    SDL_AudioSpec want{};
    want.freq = frequency;
    want.format = AUDIO_S16SYS;
    want.channels = Uint8(channels);
    want.samples = kOutputPeriodFrames;
    want.callback = &Impl::outputCallback;
    want.userdata = d.get();
    SDL_AudioSpec have{};
    SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device != 0 && (have.channels < 1 || have.channels > kMaxOutputChannels)) {
        // A layout the mixer does not know: take stereo and let SDL convert.
        SDL_CloseAudioDevice(device);
        want.channels = 2;
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    }
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        d->outputSdl = false;
        return false;
    }
    d->outputRate = have.freq;
    d->outputChannels = have.channels;
    d->deviceMix.assign(std::size_t(kMixChunkFrames) * std::size_t(have.channels), 0.0f);
    d->outputDevice = device;
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void AudioEngine::freeCapture()
{
    d->stopCapture();
    if (d->captureSdl) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        d->captureSdl = false;
    }
}

void AudioEngine::freeOutput()
{
    if (d->outputDevice != 0) {
        SDL_CloseAudioDevice(d->outputDevice);
        d->outputDevice = 0;
        d->outputChannels = 0;
    }
    if (d->outputSdl) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        d->outputSdl = false;
    }
    // Releasing the output releases every stream with it.
    d->freeAllStreams();
}

bool AudioEngine::stopOutput()
{
    if (d->outputDevice == 0)
        return false;
    SDL_PauseAudioDevice(d->outputDevice, 1);
    return true;
}

bool AudioEngine::startOutput()
{
    if (d->outputDevice == 0)
        return false;
    SDL_PauseAudioDevice(d->outputDevice, 0);
    return true;
}

int AudioEngine::speakerCount() const
{
    return d->outputDevice != 0 ? d->outputChannels : 0;
}

QString AudioEngine::captureInputName(int index) const
{
    return d->captureSdl && index == 0 ? d->captureName : QString(); // empty: no input
}

quint32 AudioEngine::captureInputSetting(int index) const
{
    if (!d->captureSdl || index != 0 || d->captureName.isEmpty())
        return InputFlag::Invalid;
    return (d->inputOn ? 0 : InputFlag::Off) | InputFlag::TypeMicrophone | quint32(d->inputLevel);
}

bool AudioEngine::setCaptureInput(int index, quint32 setting)
{
    if (!d->captureSdl || index != 0 || d->captureName.isEmpty())
        return false;
    if (setting & InputFlag::Level)
        d->inputLevel = std::min<int>(int(setting & 0xFFFF), 100);
    if (setting & InputFlag::On)
        d->inputOn = true;
    if (setting & InputFlag::Off)
        d->inputOn = false;
    return true;
}

Handle AudioEngine::startCapture(int frequency, CaptureCallback callback)
{
    if (!d->captureSdl || d->captureName.isEmpty())
        return 0;
    if (frequency <= 0)
        frequency = 44100;
    d->stopCapture();

    // About 100 ms blocks: the unit the microphone monitor counts in.
    const int blockFrames = std::clamp(frequency / 10, 1, 65535);
    SDL_AudioSpec want{};
    want.freq = frequency;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = Uint16(blockFrames);
    want.callback = &Impl::captureCallbackEntry;
    want.userdata = d.get();
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (device == 0)
        return 0;

    // Use the period the driver granted when it is near 100 ms; otherwise
    // gather its pieces into 100 ms blocks.
    const bool grantedFits = have.samples >= frequency / 20 && have.samples <= frequency / 5;
    d->captureBlockFrames = grantedFits ? int(have.samples) : blockFrames;
    d->captureBlock.assign(std::size_t(d->captureBlockFrames) * 2, 0);
    d->captureBlockFill = 0;
    d->captureCallback = std::move(callback);
    d->captureLevelWord.store(0);
    const Handle handle = newHandle();
    d->captureHandle.store(handle);
    d->captureDevice.store(device);
    d->captureActive.store(true);
    SDL_PauseAudioDevice(device, 0);
    return handle;
}

quint32 AudioEngine::captureLevel(Handle capture) const
{
    if (capture == 0 || capture != d->captureHandle.load())
        return 0;
    return d->captureLevelWord.load();
}

bool AudioEngine::isActive(Handle handle) const
{
    if (handle == 0)
        return false;
    if (handle == d->captureHandle.load()) {
        const SDL_AudioDeviceID device = d->captureDevice.load();
        return d->captureActive.load() && device != 0 &&
               SDL_GetAudioDeviceStatus(device) != SDL_AUDIO_STOPPED;
    }
    const auto stream = d->findStream(handle);
    return stream && stream->state() == FileStream::State::Playing;
}

bool AudioEngine::stop(Handle handle)
{
    if (handle == 0)
        return false;
    if (handle == d->captureHandle.load()) {
        d->stopCapture();
        return true;
    }
    const auto stream = d->findStream(handle);
    if (!stream)
        return false;
    stream->halt();
    // A stream meant to free itself at its end ends here: it is freed too.
    if (stream->flags() & StreamFlag::FreeWhenEnded)
        freeStream(handle);
    return true;
}

Handle AudioEngine::createFileStream(const QString &path, quint32 flags)
{
    d->reapEndedStreams();
    std::shared_ptr<FileStream> stream = FileStream::open(path, flags, d->outputRate);
    if (!stream)
        return 0;
    const Handle handle = newHandle();
    {
        const std::lock_guard lock(d->streamsMutex);
        d->streams.emplace(handle, std::move(stream));
    }
    d->startFeeder();
    return handle;
}

quint32 AudioEngine::defaultRate(Handle stream) const
{
    const auto found = d->findStream(stream);
    return found ? found->defaultRate() : 0;
}

bool AudioEngine::setAttributes(Handle stream, int rate, int volume, int pan)
{
    const auto found = d->findStream(stream);
    if (!found)
        return false;
    found->setAttributes(rate, volume, pan);
    return true;
}

bool AudioEngine::play(Handle stream)
{
    const auto found = d->findStream(stream);
    if (!found)
        return false;
    // The first few milliseconds are decoded here, so the next output period
    // already has sound; the decoder thread does the rest.
    found->fillAtLeast(std::size_t(kMixChunkFrames) * 2);
    if (!found->start())
        return false;
    d->pokeFeeder();
    return true;
}

bool AudioEngine::freeStream(Handle stream)
{
    if (stream == 0)
        return false;
    d->reapEndedStreams();
    std::shared_ptr<FileStream> removed;
    {
        const std::lock_guard lock(d->streamsMutex);
        const auto it = d->streams.find(stream);
        if (it == d->streams.end())
            return false;
        removed = std::move(it->second);
        d->streams.erase(it);
    }
    removed->halt();
    return true;
}

void AudioEngine::renderOutput(qint16 *out, int frames)
{
    if (frames <= 0)
        return;
    // With a device open the device is the one listener: rendering here too
    // would steal its frames. Silence instead.
    if (d->outputDevice != 0) {
        std::fill(out, out + std::size_t(frames) * 2, qint16(0));
        return;
    }
    d->reapEndedStreams();
    d->renderMix.resize(std::size_t(kMixChunkFrames) * 2);
    std::vector<std::shared_ptr<FileStream>> playing;
    while (frames > 0) {
        const int chunk = std::min(frames, kMixChunkFrames);
        // Offline, nobody waits for the decoder: decode what this chunk needs
        // first, as a decoder that is never late would have.
        {
            const std::lock_guard lock(d->streamsMutex);
            for (const auto &[handle, stream] : d->streams)
                if (stream->state() == FileStream::State::Playing)
                    playing.push_back(stream);
        }
        for (const auto &stream : playing)
            stream->fillAtLeast(std::size_t(chunk));
        playing.clear();

        d->mix(d->renderMix.data(), chunk, 2);
        toSamples(d->renderMix.data(), out, std::size_t(chunk) * 2);
        out += std::size_t(chunk) * 2;
        frames -= chunk;
    }
}

} // namespace audio
