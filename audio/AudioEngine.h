#pragma once
// The program's audio engine: one output device, the default capture device,
// and file streams mixed in the output callback. Built on SDL2 (devices),
// libsndfile (decoding) and libsamplerate (rate changes).
//
// Handles are unsigned 32-bit numbers, 0 meaning failure or none. They are
// never reused within one process, so a stale handle never reaches a newer
// stream; stopping, freeing or querying a stale or zero handle is harmless
// and reports "not active".
//
// All methods are called from the user-interface thread; the capture
// callback runs on SDL's capture thread and must not touch any QObject.
//
// The output device is open only while something plays (and a few seconds
// after): play() opens it on the engine's own thread, never on the caller's.
// A device that goes away (sound server restarted, device removed) is
// reopened on the default device by that thread, retrying until it
// succeeds; a capture goes on with the same handle and callback, a sound
// that was playing ends. The owner hears of it through setDeviceListener.

#include <QObject>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace audio {

using Handle = quint32;

// Stream flags: the speaker pair a stream plays on, and free-when-ended.
namespace StreamFlag {
inline constexpr quint32 Front = 0x01000000;
inline constexpr quint32 Rear = 0x02000000;
inline constexpr quint32 CenterLfe = 0x03000000;
inline constexpr quint32 Rear2 = 0x04000000;
inline constexpr quint32 SpeakerMask = 0x0F000000;
inline constexpr quint32 FreeWhenEnded = 0x00040000;
} // namespace StreamFlag

// Capture input settings word: off bit, type in the top byte, level 0..100
// in the low 16 bits; and the words that switch an input.
namespace InputFlag {
inline constexpr quint32 Off = 0x00010000;
inline constexpr quint32 On = 0x00020000;
inline constexpr quint32 Level = 0x00040000;
inline constexpr quint32 TypeMask = 0xFF000000;
inline constexpr quint32 TypeMicrophone = 0x03000000;
inline constexpr quint32 Invalid = 0xFFFFFFFF;
} // namespace InputFlag

// Called on the capture thread once per block (about 100 ms) of 16-bit
// stereo samples. levelWord holds the block's left peak in the low 16 bits
// and its right peak in the high 16 bits (raw peaks 0..32768). Return false
// to end the capture. Stopping or freeing the capture waits for a running
// callback, so the callback must never wait for a lock that the caller of
// stop() or freeCapture() may hold.
using CaptureCallback =
    std::function<bool(Handle handle, const qint16 *samples, int frames, quint32 levelWord)>;

// Sees every block of whatever capture runs, on the capture thread, after
// its callback: 16-bit stereo samples at the capture's frequency. It must
// not touch a QObject; it may take a lock of its own briefly.
using CaptureTap = std::function<void(const qint16 *samples, int frames, int frequency)>;

enum class DeviceEvent
{
    Lost,    // the output or the capture device went away
    Restored // every device in use works again
};
using DeviceListener = std::function<void(DeviceEvent)>;

class AudioEngine
{
public:
    AudioEngine();
    ~AudioEngine();
    AudioEngine(const AudioEngine &) = delete;
    AudioEngine &operator=(const AudioEngine &) = delete;

    // The engine's interface version: 2 when the SDL library found at run
    // time is recent enough for this program, 0 otherwise.
    static quint32 interfaceVersion();
    // Frees what the audio system keeps for the calling thread; a thread of
    // the caller's own that used the engine calls it before it ends.
    static void releaseThreadState();

    // false when the audio system cannot capture at all; a machine without a
    // capture device initialises fine and lists no capture input.
    bool initCapture();
    bool initOutput(int frequency = 44100);
    void freeCapture();
    void freeOutput();
    bool stopOutput();  // pause all output
    bool startOutput(); // resume it
    // Channels of the output device (queried at initOutput), 0 without output.
    int speakerCount() const;
    bool outputOpen() const; // the output device is open right now
    // A sound is about to play: the device opens now on the engine's thread
    // (and closes after the idle period if none comes), so the sound does
    // not wait for it.
    void prepareOutput();
    // While on (the alarm is armed), SDL's audio stays started with no
    // device open, so that a sound only waits for the device to open; off,
    // SDL shuts down a few seconds after the last device closes.
    void setStandby(bool standby);
    bool soundSystemStarted() const; // SDL's audio is started right now

    // The listener runs on context's thread (queued); context must outlive
    // the engine or be replaced first. Lost and Restored alternate.
    void setDeviceListener(QObject *context, DeviceListener listener);
    bool devicesLost() const; // between Lost and Restored

    // Capture inputs: reduced to the one default capture device (index 0).
    QString captureInputName(int index) const;        // empty past the last input
    quint32 captureInputSetting(int index) const;     // InputFlag::Invalid for no such input
    bool setCaptureInput(int index, quint32 setting); // false for no such input

    Handle startCapture(int frequency, CaptureCallback callback); // 0 on failure
    quint32 captureLevel(Handle capture) const;                   // level word of the last block
    bool captureRunning() const; // some capture is wanted and has not ended
    // One tap (nullptr for none); replacing it waits for a running call.
    void setCaptureTap(CaptureTap tap);

    bool isActive(Handle handle) const; // playing or recording
    bool stop(Handle handle);           // a stream stops; a capture ends

    // File streams (WAV, MP3, ... through libsndfile). 0 for anything that
    // cannot be decoded; never a message.
    Handle createFileStream(const QString &path, quint32 flags);
    quint32 defaultRate(Handle stream) const; // the file's own sample rate, 0 if unknown
    // rate 100..100000 Hz, volume 0..100, pan -100 (left) .. +100 (right)
    bool setAttributes(Handle stream, int rate, int volume, int pan);
    // While the devices are lost the stream waits for one attempt to bring
    // them back and ends unheard if it fails.
    bool play(Handle stream);
    bool freeStream(Handle stream);

    // Mixes the next frames of output into out (interleaved stereo), exactly
    // as the device callback does. For tests and benchmarks without a device.
    void renderOutput(qint16 *out, int frames);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace audio
