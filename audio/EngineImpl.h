#pragma once
// The audio engine's inside, shared by its source files: the streams and
// their mixer (StreamMixer.cpp), the devices and the thread that opens,
// watches and reopens them (OutputDevice.cpp, CaptureDevice.cpp,
// DeviceKeeper.cpp), and the public methods (AudioEngine.cpp).
//
// Threads: the user-interface thread calls the public methods; the decoder
// thread fills streams; SDL's output and capture threads run the callbacks;
// the keeper thread opens and closes devices and notices lost ones. Every
// SDL call outside the callbacks is made with sdlMutex held, so the keeper
// can restart SDL's audio system without another thread inside it.
// At rest none of these runs: SDL's audio system (and its own threads) is
// shut down a few seconds after the last device closed, and the decoder and
// keeper threads end; the next sound or capture starts them again.

#include "audio/AudioEngine.h"
#include "audio/FileStream.h"
#include "audio/IdleThread.h"
#include "audio/SdlLibrary.h"

#include <QObject>
#include <SDL.h>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace audio {

using Clock = std::chrono::steady_clock;

inline constexpr Uint16 kOutputPeriodFrames = 1024; // about 23 ms at 44100 Hz
inline constexpr int kMixChunkFrames = 1024;
inline constexpr int kMaxOutputChannels = 8;
inline constexpr auto kFeedInterval = std::chrono::milliseconds(20); // decoder, while playing
inline constexpr auto kKeeperTick = std::chrono::milliseconds(1000); // keeper, while busy

Handle newHandle();
bool runtimeSdlAtLeast(int major, int minor, int patch);
// SDL's functions; only once SdlLibrary::Get() gave them (SDL was woken).
inline const SdlLibrary &Sdl()
{
    return *SdlLibrary::Get();
}
// Milliseconds on the steady clock, for stamps shared between threads.
qint64 nowMs();
// Float mix to 16-bit samples, saturating.
void renderSamples(const float *acc, qint16 *out, std::size_t count);

struct AudioEngine::Impl
{
    // --- SDL state, guarded by sdlMutex -------------------------------
    std::mutex sdlMutex;
    bool outputSdl = false;   // initOutput succeeded and freeOutput was not called
    bool captureSdl = false;  // ditto for capture
    bool sdlAwake = false;    // the engine holds its one reference on SDL's audio
    qint64 sdlIdleSince = 0;  // keeper: since when no device is open
    bool standby = false;     // SDL kept started while no device is open
    std::string driver;       // the driver SDL chose at start; recovery asks for it again
    bool outputReady = false; // initOutput succeeded: streams go to a device
    int outputFrequency = 44100;
    SDL_AudioDeviceID outputDevice = 0;
    // The device opened at start only to learn the speaker count, paused:
    // closing waits for SDL's output thread, which first lets two periods
    // drain, so the keeper closes it rather than initOutput's caller.
    SDL_AudioDeviceID probedOutput = 0;
    int captureFrequency = 44100;
    int captureRequestedFrames = 4410;

    // --- output, read by the output callback -----------------------------
    std::atomic<int> outputRate{44100};
    std::atomic<int> outputChannels{0}; // of the open device, or the one queried at start
    std::atomic<bool> outputPaused{false};
    std::atomic<qint64> outputLastCallback{0};
    std::vector<float> deviceMix;          // the output callback's accumulator
    std::vector<float> renderMix;          // renderOutput's accumulator
    qint64 outputIdleSince = 0;            // keeper: when the last stream stopped playing
    std::atomic<bool> outputWanted{false}; // prepareOutput(): open before the stream plays

    // --- capture ---------------------------------------------------------
    QString captureName;
    bool inputOn = true;
    int inputLevel = 100;
    // Read by the capture thread and by callbacks into the engine from it,
    // hence atomics: the callback never takes sdlMutex.
    std::atomic<SDL_AudioDeviceID> captureDevice{0};
    std::atomic<Handle> captureHandle{0};
    std::atomic<bool> captureActive{false}; // wanted and not ended by its callback
    std::atomic<quint32> captureLevelWord{0};
    std::atomic<qint64> captureLastCallback{0};
    CaptureCallback captureCallback;
    // Taken by the capture thread for each block, by setCaptureTap briefly.
    std::mutex tapMutex;
    CaptureTap captureTap;
    std::vector<qint16> captureBlock;
    int captureBlockFrames = 0;
    int captureBlockFill = 0;

    // --- streams -----------------------------------------------------------
    // The map is shared by the user-interface, decoder and audio threads; its
    // lock is only ever held for map access and mixing.
    std::mutex streamsMutex;
    std::map<Handle, std::shared_ptr<FileStream>> streams;

    // --- decoder thread ------------------------------------------------------
    std::vector<std::shared_ptr<FileStream>> hungry; // the decoder's own

    // --- keeper thread -----------------------------------------------------------
    std::atomic<bool> devicesLost{false};
    std::atomic<bool> recoverNow{false}; // a sound waits: try at once, not at the next retry
    qint64 nextRecovery = 0;
    std::mutex listenerMutex;
    QObject *listenerContext = nullptr;
    DeviceListener listener;

    // Ended when idle; poke() starts them again and wakes them.
    IdleThread feeder{"tarvo-decoder", kFeedInterval, [this] { return feedRound(); }};
    IdleThread keeper{"tarvo-keeper", kKeeperTick, [this] { return checkDevices(); }};

    ~Impl();

    // StreamMixer.cpp
    std::shared_ptr<FileStream> findStream(Handle handle);
    void reapEndedStreams();
    void freeAllStreams();
    bool anyStreamPlaying();
    void endPlayingStreams();
    void mix(float *acc, int frames, int channels);
    bool feedRound(); // true while a stream plays

    // OutputDevice.cpp (sdlMutex held)
    bool openOutputLocked();
    void closeOutputLocked();
    void setProbedOutputAsideLocked(); // the open device becomes probedOutput
    void closeProbedOutputLocked();
    static void outputCallback(void *self, Uint8 *data, int bytes);

    // CaptureDevice.cpp
    bool openCaptureLocked(); // sdlMutex held
    void closeCaptureLocked();
    void endCapture(); // takes sdlMutex
    void deliverCaptureBlock();
    static void captureCallbackEntry(void *self, Uint8 *data, int bytes);

    // DeviceKeeper.cpp
    bool wakeSdlLocked(); // starts SDL's audio with the driver chosen first
    void sleepSdlLocked();
    bool checkDevices(); // the keeper's round: true while a device is open or lost
    bool recoverLocked();
    void tell(DeviceEvent event);
};

} // namespace audio
