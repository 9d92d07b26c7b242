// The engine's streams: lookup, reaping, the decoder thread and the mix.

#include "audio/EngineImpl.h"

#include <algorithm>

namespace audio {

namespace {

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

} // namespace

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

bool AudioEngine::Impl::anyStreamPlaying()
{
    const std::lock_guard lock(streamsMutex);
    return std::any_of(streams.begin(), streams.end(), [](const auto &entry) {
        return entry.second->state() == FileStream::State::Playing;
    });
}

void AudioEngine::Impl::endPlayingStreams()
{
    const std::lock_guard lock(streamsMutex);
    for (const auto &[handle, stream] : streams)
        if (stream->state() == FileStream::State::Playing)
            stream->finish();
}

void AudioEngine::Impl::mix(float *acc, int frames, int channels)
{
    std::fill(acc, acc + std::size_t(frames) * std::size_t(channels), 0.0f);
    const std::lock_guard lock(streamsMutex);
    for (const auto &[handle, stream] : streams)
        stream->mixInto(acc, frames, channels, firstChannelFor(stream->flags(), channels));
}

// Idle without playing streams, the thread ends; play() starts it again.
bool AudioEngine::Impl::feedRound()
{
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
    return anyUnfinished;
}

} // namespace audio
