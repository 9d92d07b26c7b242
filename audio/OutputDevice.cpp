// The output device: opened while something is to be played, with as many
// channels as the default device has, and the callback that mixes into it.

#include "audio/EngineImpl.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace audio {

namespace {

void toSamples(const float *acc, qint16 *out, std::size_t count)
{
    // Saturate: an overloaded mix clips instead of wrapping around.
    for (std::size_t i = 0; i < count; ++i) {
        const float scaled = std::clamp(acc[i] * 32768.0f, -32768.0f, 32767.0f);
        out[i] = qint16(std::lrintf(scaled));
    }
}

} // namespace

bool AudioEngine::Impl::openOutputLocked()
{
    if (outputDevice != 0)
        return true;
    if (!wakeSdlLocked())
        return false;
    // Ask for as many channels as the default device has, so that the
    // speaker count is the device's own.
    int channels = 2;
    if (Sdl().defaultAudioInfo) {
        SDL_AudioSpec format{};
        if (Sdl().defaultAudioInfo(nullptr, &format, 0) == 0 && format.channels > 0)
            channels = std::min<int>(format.channels, kMaxOutputChannels);
    }
    SDL_AudioSpec want{};
    want.freq = outputFrequency;
    want.format = AUDIO_S16SYS;
    want.channels = Uint8(channels);
    want.samples = kOutputPeriodFrames;
    want.callback = &Impl::outputCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    SDL_AudioDeviceID device =
        Sdl().openAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device != 0 && (have.channels < 1 || have.channels > kMaxOutputChannels)) {
        // A layout the mixer does not know: take stereo and let SDL convert.
        Sdl().closeAudioDevice(device);
        want.channels = 2;
        device = Sdl().openAudioDevice(nullptr, 0, &want, &have, 0);
    }
    if (device == 0)
        return false;
    // The rate is the one asked for (SDL converts), so decoded streams fit
    // every device they meet.
    outputChannels.store(have.channels);
    outputLastCallback.store(nowMs());
    outputIdleSince = nowMs();
    outputDevice = device;
    Sdl().pauseAudioDevice(device, 0);
    return true;
}

void AudioEngine::Impl::closeOutputLocked()
{
    closeProbedOutputLocked();
    if (outputDevice == 0)
        return;
    // Joins SDL's output thread; the callback takes no lock held here.
    Sdl().closeAudioDevice(outputDevice);
    outputDevice = 0;
}

void AudioEngine::Impl::setProbedOutputAsideLocked()
{
    closeProbedOutputLocked();
    // Paused, it plays silence without mixing: the streams are the next
    // device's.
    Sdl().pauseAudioDevice(outputDevice, 1);
    probedOutput = std::exchange(outputDevice, 0);
}

void AudioEngine::Impl::closeProbedOutputLocked()
{
    if (probedOutput != 0)
        Sdl().closeAudioDevice(std::exchange(probedOutput, 0));
}

void AudioEngine::Impl::outputCallback(void *self, Uint8 *data, int bytes)
{
    auto *d = static_cast<Impl *>(self);
    d->outputLastCallback.store(nowMs(), std::memory_order_relaxed);
    const int channels = std::clamp(d->outputChannels.load(), 1, kMaxOutputChannels);
    auto *out = reinterpret_cast<qint16 *>(data);
    int frames = bytes / int(sizeof(qint16)) / channels;
    if (d->outputPaused.load()) {
        // Paused output: streams wait where they are.
        std::fill(out, out + std::size_t(frames) * std::size_t(channels), qint16(0));
        return;
    }
    while (frames > 0) {
        const int chunk = std::min(frames, kMixChunkFrames);
        d->mix(d->deviceMix.data(), chunk, channels);
        const std::size_t samples = std::size_t(chunk) * std::size_t(channels);
        toSamples(d->deviceMix.data(), out, samples);
        out += samples;
        frames -= chunk;
    }
}

void renderSamples(const float *acc, qint16 *out, std::size_t count)
{
    toSamples(acc, out, count);
}

} // namespace audio
