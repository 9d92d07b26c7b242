#include "audio/AudioEngine.h"

#include "audio/EngineImpl.h"

#include <algorithm>

namespace audio {

namespace {

// The oldest SDL runtime this program is built and tested for.
constexpr SDL_version kMinimumSdl{2, 0, 18};

// One counter for streams and captures: a handle is never handed out twice,
// even by two engines in one process.
std::atomic<Handle> g_nextHandle{1};

} // namespace

Handle newHandle()
{
    Handle handle = g_nextHandle.fetch_add(1);
    while (handle == 0)
        handle = g_nextHandle.fetch_add(1);
    return handle;
}

bool runtimeSdlAtLeast(int major, int minor, int patch)
{
    const SdlLibrary *sdl = SdlLibrary::Get();
    if (!sdl)
        return false;
    SDL_version linked{};
    sdl->getVersion(&linked);
    return SDL_VERSIONNUM(linked.major, linked.minor, linked.patch) >=
           SDL_VERSIONNUM(major, minor, patch);
}

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

AudioEngine::Impl::~Impl()
{
    keeper.stop();
    feeder.stop();
}

AudioEngine::AudioEngine() : d(std::make_unique<Impl>())
{
    d->deviceMix.assign(std::size_t(kMixChunkFrames) * kMaxOutputChannels, 0.0f);
}

AudioEngine::~AudioEngine()
{
    d->keeper.stop();
    freeCapture();
    freeOutput();
    d->freeAllStreams();
}

quint32 AudioEngine::interfaceVersion()
{
    return runtimeSdlAtLeast(kMinimumSdl.major, kMinimumSdl.minor, kMinimumSdl.patch) ? 2 : 0;
}

void AudioEngine::releaseThreadState()
{
    // SDL keeps per-thread error text for threads it did not start.
    if (const SdlLibrary *sdl = SdlLibrary::Get())
        sdl->tlsCleanup();
}

bool AudioEngine::initCapture()
{
    const std::lock_guard lock(d->sdlMutex);
    if (d->captureSdl)
        return true;
    if (!d->wakeSdlLocked())
        return false;
    d->captureSdl = true;
    d->keeper.poke(); // shuts SDL down again once nothing is open
    d->captureName.clear();
    // A machine without a microphone still runs the other detectors: capture
    // is ready but lists no input. -1 means the driver cannot list devices;
    // opening the default one may still work.
    const SdlLibrary &sdl = Sdl();
    if (sdl.numAudioDevices(1) == 0)
        return true;
    if (sdl.defaultAudioInfo) {
        char *name = nullptr;
        SDL_AudioSpec format{};
        if (sdl.defaultAudioInfo(&name, &format, 1) == 0 && name)
            d->captureName = QString::fromUtf8(name);
        sdl.free(name);
    }
    if (d->captureName.isEmpty())
        d->captureName = QStringLiteral("Default capture device");
    d->inputOn = true;
    d->inputLevel = 100;
    return true;
}

bool AudioEngine::initOutput(int frequency)
{
    const std::lock_guard lock(d->sdlMutex);
    if (d->outputReady)
        return true;
    if (frequency <= 0)
        frequency = 44100;
    if (!d->wakeSdlLocked())
        return false;
    d->outputFrequency = frequency;
    d->outputRate.store(frequency);
    // Opened once to learn the speaker count and that output works at all;
    // from now on the device is open only while something plays.
    if (!d->openOutputLocked()) {
        if (!d->captureSdl)
            d->sleepSdlLocked();
        return false;
    }
    d->setProbedOutputAsideLocked();
    d->outputSdl = true;
    d->outputReady = true;
    d->keeper.poke(); // shuts SDL down again once nothing is open
    return true;
}

void AudioEngine::setStandby(bool standby)
{
    {
        const std::lock_guard lock(d->sdlMutex);
        if (d->standby == standby)
            return;
        d->standby = standby;
        d->sdlIdleSince = nowMs();
    }
    // Started (or let go) on the keeper's thread: starting can block on the
    // sound server.
    d->keeper.poke();
}

bool AudioEngine::soundSystemStarted() const
{
    const std::lock_guard lock(d->sdlMutex);
    return d->sdlAwake;
}

void AudioEngine::freeCapture()
{
    d->endCapture();
    const std::lock_guard lock(d->sdlMutex);
    d->captureHandle.store(0);
    d->captureSdl = false;
    if (!d->outputSdl)
        d->sleepSdlLocked();
}

void AudioEngine::freeOutput()
{
    {
        const std::lock_guard lock(d->sdlMutex);
        d->outputReady = false;
        d->closeOutputLocked();
        d->outputChannels.store(0);
        d->outputSdl = false;
        if (!d->captureSdl)
            d->sleepSdlLocked();
    }
    // Releasing the output releases every stream with it.
    d->freeAllStreams();
}

bool AudioEngine::stopOutput()
{
    const std::lock_guard lock(d->sdlMutex);
    if (!d->outputReady)
        return false;
    d->outputPaused.store(true);
    return true;
}

bool AudioEngine::startOutput()
{
    const std::lock_guard lock(d->sdlMutex);
    if (!d->outputReady)
        return false;
    d->outputPaused.store(false);
    return true;
}

int AudioEngine::speakerCount() const
{
    return d->outputChannels.load();
}

bool AudioEngine::outputOpen() const
{
    const std::lock_guard lock(d->sdlMutex);
    return d->outputDevice != 0;
}

void AudioEngine::prepareOutput()
{
    {
        const std::lock_guard lock(d->sdlMutex);
        if (!d->outputReady)
            return;
    }
    d->outputWanted.store(true);
    d->keeper.poke();
}

void AudioEngine::setDeviceListener(QObject *context, DeviceListener listener)
{
    const std::lock_guard lock(d->listenerMutex);
    d->listenerContext = context;
    d->listener = std::move(listener);
}

bool AudioEngine::devicesLost() const
{
    return d->devicesLost.load();
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
    d->endCapture();

    const std::lock_guard lock(d->sdlMutex);
    d->captureFrequency = frequency;
    // About 100 ms blocks: the unit the microphone monitor counts in.
    d->captureRequestedFrames = std::clamp(frequency / 10, 1, 65535);
    d->captureCallback = std::move(callback);
    d->captureLevelWord.store(0);
    const Handle handle = newHandle();
    d->captureHandle.store(handle);
    d->captureActive.store(true);
    // While the devices are being brought back, the keeper opens this one too.
    if (!d->devicesLost.load() && !d->openCaptureLocked()) {
        d->captureActive.store(false);
        d->captureHandle.store(0);
        d->captureCallback = nullptr;
        return 0;
    }
    d->keeper.poke();
    return handle;
}

quint32 AudioEngine::captureLevel(Handle capture) const
{
    if (capture == 0 || capture != d->captureHandle.load())
        return 0;
    return d->captureLevelWord.load();
}

bool AudioEngine::captureRunning() const
{
    return d->captureHandle.load() != 0 && d->captureActive.load();
}

void AudioEngine::setCaptureTap(CaptureTap tap)
{
    const std::lock_guard lock(d->tapMutex);
    d->captureTap = std::move(tap);
}

bool AudioEngine::isActive(Handle handle) const
{
    if (handle == 0)
        return false;
    // Atomics only: the capture callback asks this too. A lost capture is
    // still active; it resumes on the next device.
    if (handle == d->captureHandle.load())
        return d->captureActive.load();
    const auto stream = d->findStream(handle);
    return stream && stream->state() == FileStream::State::Playing;
}

bool AudioEngine::stop(Handle handle)
{
    if (handle == 0)
        return false;
    if (handle == d->captureHandle.load()) {
        d->endCapture();
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
    std::shared_ptr<FileStream> stream = FileStream::open(path, flags, d->outputRate.load());
    if (!stream)
        return 0;
    const Handle handle = newHandle();
    {
        const std::lock_guard lock(d->streamsMutex);
        d->streams.emplace(handle, std::move(stream));
    }
    d->feeder.poke();
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
    bool toDevice = false;
    {
        const std::lock_guard lock(d->sdlMutex);
        toDevice = d->outputReady;
    }
    // The first few milliseconds are decoded here, so the first output
    // period already has sound; the decoder thread does the rest.
    found->fillAtLeast(std::size_t(kMixChunkFrames) * 2);
    if (!found->start())
        return false;
    d->feeder.poke();
    if (toDevice) {
        // The device opens on the keeper's thread. While the devices are
        // lost the sound waits for one attempt to bring them back, made now;
        // if that fails the sound ends unheard.
        if (d->devicesLost.load())
            d->recoverNow.store(true);
        d->keeper.poke();
    }
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
    bool toDevice = false;
    {
        const std::lock_guard lock(d->sdlMutex);
        toDevice = d->outputReady;
    }
    // With output to a device the device is the one listener: rendering here
    // too would steal its frames. Silence instead.
    if (toDevice) {
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
        renderSamples(d->renderMix.data(), out, std::size_t(chunk) * 2);
        out += std::size_t(chunk) * 2;
        frames -= chunk;
    }
}

} // namespace audio
