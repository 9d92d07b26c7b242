// The capture device: the default one, opened in about 100 ms blocks, and the
// callback that gathers the driver's pieces into blocks for the owner.

#include "audio/EngineImpl.h"

#include <algorithm>
#include <cstring>

namespace audio {

bool AudioEngine::Impl::openCaptureLocked()
{
    if (captureDevice.load() != 0)
        return true;
    if (!wakeSdlLocked())
        return false;
    SDL_AudioSpec want{};
    want.freq = captureFrequency;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = Uint16(captureRequestedFrames);
    want.callback = &Impl::captureCallbackEntry;
    want.userdata = this;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = Sdl().openAudioDevice(nullptr, 1, &want, &have, 0);
    if (device == 0)
        return false;

    // Use the period the driver granted when it is near 100 ms; otherwise
    // gather its pieces into 100 ms blocks.
    const int frequency = captureFrequency;
    const bool grantedFits = have.samples >= frequency / 20 && have.samples <= frequency / 5;
    captureBlockFrames = grantedFits ? int(have.samples) : captureRequestedFrames;
    captureBlock.assign(std::size_t(captureBlockFrames) * 2, 0);
    captureBlockFill = 0;
    captureLastCallback.store(nowMs());
    captureDevice.store(device);
    Sdl().pauseAudioDevice(device, 0);
    return true;
}

void AudioEngine::Impl::closeCaptureLocked()
{
    const SDL_AudioDeviceID device = captureDevice.load();
    if (device == 0)
        return;
    // Joins the capture thread; its callback never takes sdlMutex.
    Sdl().closeAudioDevice(device);
    captureDevice.store(0);
}

void AudioEngine::Impl::endCapture()
{
    captureActive.store(false);
    {
        const std::lock_guard lock(sdlMutex);
        closeCaptureLocked();
    }
    captureCallback = nullptr;
}

void AudioEngine::Impl::captureCallbackEntry(void *self, Uint8 *data, int bytes)
{
    auto *d = static_cast<Impl *>(self);
    d->captureLastCallback.store(nowMs(), std::memory_order_relaxed);
    if (!d->captureActive.load())
        return;
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
    const std::lock_guard lock(tapMutex);
    if (captureTap) {
        try {
            captureTap(samples, captureBlockFrames, captureFrequency);
        } catch (...) {
        }
    }
}

} // namespace audio
