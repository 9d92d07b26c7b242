#pragma once
// One decoded file stream of the audio engine: libsndfile reads the file,
// libsamplerate brings it to the output rate at the stream's playback rate,
// and a bounded ring holds the result for the mixer. Decoding (fill) runs on
// the engine's decoder thread or the user-interface thread, never on the
// audio thread; mixing (mixInto) only copies from the ring.

#include "audio/SampleRing.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

struct sf_private_tag;
struct SRC_STATE_tag;
struct mpg123_handle_struct;

namespace audio {

class FileStream
{
public:
    enum class State
    {
        Ready,
        Playing,
        Stopped,
        Ended
    };

    // nullptr when the file cannot be opened or yields no audio frames.
    static std::unique_ptr<FileStream> open(const QString &path, quint32 flags, int outputRate);
    ~FileStream();
    FileStream(const FileStream &) = delete;
    FileStream &operator=(const FileStream &) = delete;

    quint32 flags() const { return m_flags; }
    quint32 defaultRate() const { return m_fileRate; }

    void setAttributes(int rate, int volume, int pan);

    State state() const { return m_state.load(std::memory_order_acquire); }
    bool start();           // Ready or Stopped -> Playing
    void halt();            // Playing or Ready -> Stopped; an ended stream stays ended
    void finish();          // ends the stream where it is (its device went away)
    bool needsData() const; // playing, not decoded to its end, and room in the ring

    // Decoder side: decodes until the ring is full or the file has ended.
    void fill();
    // Decoder side: decodes until at least `frames` frames wait in the ring.
    void fillAtLeast(std::size_t frames);

    // Mixer side: adds up to `frames` frames into acc (interleaved, `channels`
    // wide) at channel `firstChannel`, with the stream's gains. Marks the stream
    // ended once its last frame has been mixed.
    void mixInto(float *acc, int frames, int channels, int firstChannel);

private:
    FileStream() = default;
    static long supplyInput(void *self, float **data);
    long readSource();
    long readFile(float *out, long frames); // interleaved, the file's channels
    bool openMpeg(const QString &path);
    double currentRatio() const;
    void decodeLocked(std::size_t minimumFrames);

    quint32 m_flags = 0;
    quint32 m_fileRate = 0;
    int m_outputRate = 44100;
    int m_fileChannels = 0;

    std::atomic<State> m_state{State::Ready};
    std::atomic<int> m_rate{0};
    std::atomic<float> m_leftGain{1.0f};
    std::atomic<float> m_rightGain{1.0f};
    std::atomic<bool> m_decodedToEnd{false};

    // Decoder state, guarded by m_decodeMutex (never taken by the mixer).
    std::mutex m_decodeMutex;
    sf_private_tag *m_file = nullptr;
    // MPEG audio is decoded by libmpg123 itself: libsndfile stops at its
    // length estimate, which for VBR files without a Xing/Info header can be
    // far short of the real end.
    mpg123_handle_struct *m_mpeg = nullptr;
    SRC_STATE_tag *m_resampler = nullptr;
    std::vector<float> m_readBuffer;  // file frames as read, file's channel count
    std::vector<float> m_inputFrames; // the same as stereo, handed to the resampler
    std::vector<float> m_outputFrames;
    long m_pendingFrames = 0; // frames read while opening, not yet handed on
    int m_repeat = 1;         // input frame repetition for ratios beyond the resampler's range
    bool m_sourceEnded = false;

    SampleRing m_ring{16384};
};

} // namespace audio
