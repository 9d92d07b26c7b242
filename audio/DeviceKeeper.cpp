// The keeper thread: opens the output device when a stream plays and closes
// it a few seconds after the last one, ends captures that their callback
// ended, and notices lost devices (a device SDL reports stopped, or one whose
// callback no longer runs: a sound server that went away) and brings them
// back, retrying until the sound system answers again.

#include "audio/EngineImpl.h"

#include <QMetaObject>

namespace audio {

namespace {

constexpr qint64 kSilentMs = 4000;    // a running device calls back at least every 100 ms
constexpr qint64 kRetryMs = 1500;     // between two attempts to get the devices back
constexpr qint64 kIdleCloseMs = 3000; // the output stays open this long after a sound

} // namespace

bool AudioEngine::Impl::wakeSdlLocked()
{
    if (sdlAwake)
        return true;
    if (!SdlLibrary::Get())
        return false;
    // Without this SDL installs its own SIGINT/SIGTERM handlers and the
    // program no longer ends on them.
    Sdl().setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (Sdl().initSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    const char *current = Sdl().currentAudioDriver();
    if (driver.empty()) {
        driver = current ? current : "";
    } else if (!current || driver != current) {
        // Another driver answered (the sound server is away): the one chosen
        // at start is wanted, so the server is retried rather than replaced.
        if (Sdl().audioInit(driver.c_str()) != 0) {
            Sdl().quitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
    }
    sdlAwake = true;
    sdlIdleSince = nowMs();
    return true;
}

void AudioEngine::Impl::sleepSdlLocked()
{
    if (!sdlAwake)
        return;
    closeProbedOutputLocked();
    // Ends SDL's audio threads (the sound server's hot-plug watch among them)
    // once no other part of the process holds the subsystem.
    Sdl().quitSubSystem(SDL_INIT_AUDIO);
    sdlAwake = false;
}

// Nothing open, nothing lost and SDL shut down: the keeper's thread ends;
// the next play() or capture starts it again.
bool AudioEngine::Impl::checkDevices()
{
    const std::lock_guard lock(sdlMutex);
    closeProbedOutputLocked();
    const auto busy = [this] {
        return outputDevice != 0 || captureDevice.load() != 0 || devicesLost.load() || sdlAwake;
    };
    const qint64 now = nowMs();
    if (devicesLost.load()) {
        if (now < nextRecovery && !recoverNow.exchange(false))
            return true;
        if (recoverLocked()) {
            devicesLost.store(false);
            tell(DeviceEvent::Restored);
        } else {
            // A sound that waited for this attempt is over: the alarm's
            // queue goes on instead of waiting for the device.
            endPlayingStreams();
            nextRecovery = nowMs() + kRetryMs;
        }
        return true;
    }

    bool lost = false;
    if (outputDevice != 0 && (Sdl().audioDeviceStatus(outputDevice) == SDL_AUDIO_STOPPED ||
                              now - outputLastCallback.load() > kSilentMs))
        lost = true;
    const SDL_AudioDeviceID capture = captureDevice.load();
    if (capture != 0) {
        if (!captureActive.load())
            closeCaptureLocked(); // its callback ended it
        else if (Sdl().audioDeviceStatus(capture) == SDL_AUDIO_STOPPED ||
                 now - captureLastCallback.load() > kSilentMs)
            lost = true;
    }
    if (!lost && outputReady) {
        if (outputWanted.exchange(false) || anyStreamPlaying()) {
            if (outputDevice == 0 && !openOutputLocked())
                lost = true;
            outputIdleSince = now;
        } else if (outputDevice != 0 && now - outputIdleSince > kIdleCloseMs) {
            closeOutputLocked();
        }
    }
    if (!lost) {
        if (outputDevice != 0 || captureDevice.load() != 0)
            sdlIdleSince = now;
        else if (standby && !sdlAwake && (outputSdl || captureSdl))
            wakeSdlLocked(); // failing, the next sound's open tries again
        else if (sdlAwake && !standby && now - sdlIdleSince > kIdleCloseMs)
            sleepSdlLocked();
        return busy();
    }

    // What played on the lost device is not resumed on the next one.
    endPlayingStreams();
    devicesLost.store(true);
    tell(DeviceEvent::Lost);
    if (recoverLocked()) {
        devicesLost.store(false);
        tell(DeviceEvent::Restored);
    } else {
        nextRecovery = nowMs() + kRetryMs;
    }
    return true;
}

bool AudioEngine::Impl::recoverLocked()
{
    closeOutputLocked();
    closeCaptureLocked();
    if (!outputSdl && !captureSdl)
        return true; // the engine was shut down meanwhile: nothing to bring back
    // SDL's backends keep one connection to the sound server for all devices:
    // after the server restarted only a new start of SDL's audio reaches the
    // new one. The driver chosen at start is asked for again, so a server
    // that is still away is retried rather than replaced by another driver.
    if (sdlAwake) {
        if (Sdl().audioInit(driver.empty() ? nullptr : driver.c_str()) != 0)
            return false;
    } else if (!wakeSdlLocked()) {
        return false;
    }
    if (captureActive.load() && !openCaptureLocked())
        return false;
    // The output is opened too: "restored" means a sound can be heard. It
    // closes again when idle.
    if (outputReady && !openOutputLocked())
        return false;
    return true;
}

void AudioEngine::Impl::tell(DeviceEvent event)
{
    const std::lock_guard lock(listenerMutex);
    if (!listenerContext || !listener)
        return;
    DeviceListener call = listener;
    QMetaObject::invokeMethod(
        listenerContext, [call, event] { call(event); }, Qt::QueuedConnection);
}

} // namespace audio
