#pragma once
// Single-producer, single-consumer ring of interleaved stereo float frames.
// The decoder side writes, the mixer side reads; neither ever waits for the
// other, so the audio callback never blocks on a decoder.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace audio {

class SampleRing
{
public:
    // capacityFrames is rounded up to a power of two.
    explicit SampleRing(std::size_t capacityFrames)
    {
        std::size_t capacity = 1;
        while (capacity < capacityFrames)
            capacity <<= 1;
        m_mask = capacity - 1;
        m_samples.resize(capacity * 2);
    }

    std::size_t capacity() const { return m_mask + 1; }

    // Producer side.
    std::size_t writable() const
    {
        return capacity() -
               (m_written.load(std::memory_order_relaxed) - m_read.load(std::memory_order_acquire));
    }

    std::size_t write(const float *frames, std::size_t count)
    {
        const std::size_t written = m_written.load(std::memory_order_relaxed);
        count = std::min(count, writable());
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t slot = ((written + i) & m_mask) * 2;
            m_samples[slot] = frames[2 * i];
            m_samples[slot + 1] = frames[2 * i + 1];
        }
        m_written.store(written + count, std::memory_order_release);
        return count;
    }

    // Consumer side.
    std::size_t readable() const
    {
        return m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_relaxed);
    }

    // The frame at offset i (0 = oldest unread) of the readable frames.
    const float *peek(std::size_t i) const
    {
        return &m_samples[((m_read.load(std::memory_order_relaxed) + i) & m_mask) * 2];
    }

    void consume(std::size_t count)
    {
        m_read.store(m_read.load(std::memory_order_relaxed) + count, std::memory_order_release);
    }

private:
    std::vector<float> m_samples;
    std::size_t m_mask = 0;
    // Both counters only grow; their difference is the fill level.
    alignas(64) std::atomic<std::size_t> m_written{0};
    alignas(64) std::atomic<std::size_t> m_read{0};
};

} // namespace audio
