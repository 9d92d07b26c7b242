#pragma once
// SinkGuard's side on libpulse's thread: the connection, the queries and the
// hand-off of what they learn to the guard's own thread. Private to audio/.

#include "audio/SinkGuard.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <atomic>
#include <deque>
#include <pulse/pulseaudio.h>
#include <utility>

struct SinkGuard::Event
{
    enum class Kind
    {
        Ready,
        Lost,
        DefaultSink,
        Sink,
        Stream, // a playback stream of this process, new or changed
        StreamGone
    } kind;
    QString name;
    SinkState state;
    // The guard's change count when the sink state was asked for: a state
    // asked for before the guard's latest own change may show the sink as
    // it was before that change; it is shown, never judged.
    quint64 generation = 0;
    quint32 stream = 0; // the stream's index on the server
};

// Everything libpulse's thread touches. The main loop's lock guards the
// context and the query list; queueMutex guards the hand-off to the owner.
struct SinkGuard::Loop
{
    pa_threaded_mainloop *mainloop = nullptr;
    pa_context *context = nullptr;
    // Bumped (under the main loop's lock) with every change the guard makes.
    std::atomic<quint64> generation{0};
    // The generation at which each sink query still unanswered was sent;
    // replies on one connection come in the order of the requests.
    std::deque<quint64> queries;
    std::deque<quint64> streamQueries; // the same for the streams

    QMutex queueMutex;
    std::deque<Event> events;
    SinkGuard *receiver = nullptr;
    bool wakePending = false;

    ~Loop()
    {
        if (!mainloop)
            return;
        pa_threaded_mainloop_lock(mainloop);
        DropContext();
        pa_threaded_mainloop_unlock(mainloop);
        pa_threaded_mainloop_stop(mainloop);
        pa_threaded_mainloop_free(mainloop);
    }

    // Main loop lock held.
    void DropContext()
    {
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
        queries.clear();
        streamQueries.clear();
    }

    void Post(Event event)
    {
        QMutexLocker lock(&queueMutex);
        if (!receiver)
            return;
        events.push_back(std::move(event));
        if (wakePending)
            return;
        wakePending = true;
        QMetaObject::invokeMethod(receiver, "DrainEvents", Qt::QueuedConnection);
    }

    // False when the state cannot be given to the server.
    static bool FillVolume(const SinkGuard::SinkState &state, pa_cvolume &volume)
    {
        if (state.volume.isEmpty() || state.volume.size() > PA_CHANNELS_MAX)
            return false;
        pa_cvolume_init(&volume);
        volume.channels = uint8_t(state.volume.size());
        for (int c = 0; c < state.volume.size(); ++c)
            volume.values[c] = std::min<quint32>(state.volume.at(c), PA_VOLUME_MAX);
        return true;
    }

    // Main loop lock held (libpulse's callbacks run with it).
    void QuerySink(const char *name)
    {
        if (!context || !name || !*name)
            return;
        pa_operation *op = pa_context_get_sink_info_by_name(context, name, &Loop::OnSinkInfo, this);
        if (!op)
            return;
        queries.push_back(generation.load());
        pa_operation_unref(op);
    }

    // One stream, or every stream when index is PA_INVALID_INDEX.
    void QueryStreams(uint32_t index = PA_INVALID_INDEX)
    {
        if (!context)
            return;
        pa_operation *op =
            index == PA_INVALID_INDEX
                ? pa_context_get_sink_input_info_list(context, &Loop::OnStreamInfo, this)
                : pa_context_get_sink_input_info(context, index, &Loop::OnStreamInfo, this);
        if (!op)
            return;
        streamQueries.push_back(generation.load());
        pa_operation_unref(op);
    }

    void QueryServer()
    {
        if (pa_operation *op = pa_context_get_server_info(context, &Loop::OnServerInfo, this))
            pa_operation_unref(op);
    }

    static void OnContextState(pa_context *context, void *userdata)
    {
        auto *loop = static_cast<Loop *>(userdata);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            pa_context_set_subscribe_callback(context, &Loop::OnSubscription, loop);
            const auto mask =
                pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER |
                                       PA_SUBSCRIPTION_MASK_SINK_INPUT);
            if (pa_operation *op = pa_context_subscribe(context, mask, nullptr, nullptr))
                pa_operation_unref(op);
            loop->Post({Event::Kind::Ready, {}, {}, 0});
            loop->QueryServer();
            loop->QueryStreams();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            loop->Post({Event::Kind::Lost, {}, {}, 0});
            break;
        default:
            break;
        }
    }

    static void OnSubscription(pa_context *, pa_subscription_event_type_t type, uint32_t index,
                               void *userdata)
    {
        auto *loop = static_cast<Loop *>(userdata);
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const bool removed =
            (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            loop->QueryServer();
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            if (removed)
                loop->Post({Event::Kind::StreamGone, {}, {}, 0, index});
            else
                loop->QueryStreams(index);
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK &&
                   (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_REMOVE) {
            // Any sink may be the default one; the owner picks.
            pa_operation *op =
                pa_context_get_sink_info_by_index(loop->context, index, &Loop::OnSinkInfo, loop);
            if (op) {
                loop->queries.push_back(loop->generation.load());
                pa_operation_unref(op);
            }
        }
    }

    static void OnServerInfo(pa_context *, const pa_server_info *info, void *userdata)
    {
        auto *loop = static_cast<Loop *>(userdata);
        const char *sink = info ? info->default_sink_name : nullptr;
        loop->Post({Event::Kind::DefaultSink, QString::fromUtf8(sink ? sink : ""), {}, 0});
        loop->QuerySink(sink);
    }

    static void OnSinkInfo(pa_context *, const pa_sink_info *info, int eol, void *userdata)
    {
        auto *loop = static_cast<Loop *>(userdata);
        if (loop->queries.empty())
            return;
        if (eol != 0) {
            loop->queries.pop_front();
            return;
        }
        if (!info || !info->name)
            return;
        Event event{Event::Kind::Sink, QString::fromUtf8(info->name), {}, loop->queries.front()};
        event.state.muted = info->mute != 0;
        for (unsigned c = 0; c < info->volume.channels && c < PA_CHANNELS_MAX; ++c)
            event.state.volume.append(info->volume.values[c]);
        loop->Post(std::move(event));
    }

    static void OnStreamInfo(pa_context *, const pa_sink_input_info *info, int eol, void *userdata)
    {
        auto *loop = static_cast<Loop *>(userdata);
        if (loop->streamQueries.empty())
            return;
        if (eol != 0) {
            loop->streamQueries.pop_front();
            return;
        }
        // Only this process's own streams: the server names the process of
        // the client that made each one.
        const char *pid =
            info ? pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID) : nullptr;
        if (!pid || QByteArray(pid) != QByteArray::number(QCoreApplication::applicationPid()))
            return;
        Event event{Event::Kind::Stream, {}, {}, loop->streamQueries.front(), info->index};
        event.state.muted = info->mute != 0;
        for (unsigned c = 0; c < info->volume.channels && c < PA_CHANNELS_MAX; ++c)
            event.state.volume.append(info->volume.values[c]);
        loop->Post(std::move(event));
    }
};
