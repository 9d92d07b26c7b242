#pragma once
// SinkGuard's part on libpulse's thread: the connection, the queries, the
// changes and the hand-off of what they learn to the guard's own thread.
// Every call that differs between the playback side (sinks, sink-inputs)
// and the capture side (sources, source-outputs) is chosen here. Private to
// audio/.

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
        DefaultSink,  // or source, on the capture side
        FreshDefault, // the default as a new connection of its own sees it
        Sink,
        Stream, // a stream of this process, new or changed
        StreamGone
    } kind;
    QString name;
    SinkState state;
    // The guard's change count when the sink state was asked for: a state
    // asked for before the guard's latest own change may show the sink as
    // it was before that change; it is shown, never judged.
    quint64 generation = 0;
    quint32 stream = 0; // the stream's index on the server
    // The stream is connected to its device (a session manager connects a
    // new one after it has put its stored mute and volume on it).
    bool connected = true;
};

// Everything libpulse's thread touches. The main loop's lock guards the
// context and the query list; queueMutex guards the hand-off to the owner.
struct SinkGuard::Loop
{
    const SinkGuard::Side side;
    const QByteArray server; // empty: the default one
    Loop(SinkGuard::Side side, const QString &server) : side(side), server(server.toUtf8()) {}
    bool capture() const { return side == SinkGuard::Side::Capture; }

    pa_threaded_mainloop *mainloop = nullptr;
    pa_context *context = nullptr;
    // A short-lived second connection that only asks for the default.
    pa_context *probe = nullptr;
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
        DropProbe();
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

    // Main loop lock held.
    void DropProbe()
    {
        if (!probe)
            return;
        pa_context_set_state_callback(probe, nullptr, nullptr);
        pa_context_disconnect(probe);
        pa_context_unref(probe);
        probe = nullptr;
    }

    // A new connection to the server, its state told to onState; nullptr
    // when it cannot even be started. Main loop lock held.
    pa_context *NewContext(pa_context_notify_cb_t onState)
    {
        pa_context *made = pa_context_new(pa_threaded_mainloop_get_api(mainloop), "Tarvo2");
        if (!made)
            return nullptr;
        pa_context_set_state_callback(made, onState, this);
        if (pa_context_connect(made, server.isEmpty() ? nullptr : server.constData(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            pa_context_set_state_callback(made, nullptr, nullptr);
            pa_context_unref(made);
            return nullptr;
        }
        return made;
    }

    // PipeWire's pulse server keeps a view of the defaults per connection,
    // and a connection's view can miss a change for good (seen with 0.3.65
    // under load: the other clients saw the new default, the guard's own
    // connection kept the old one and never told of a change). A new
    // connection sees the server's current default. Main loop lock held.
    void StartProbe()
    {
        DropProbe();
        probe = NewContext(&Loop::OnProbeState);
    }

    static void OnProbeState(pa_context *probe, void *userdata)
    {
        const pa_context_state_t state = pa_context_get_state(probe);
        if (state == PA_CONTEXT_READY) {
            if (pa_operation *op = pa_context_get_server_info(probe, &Loop::OnProbeInfo, userdata))
                pa_operation_unref(op);
        } else if (!PA_CONTEXT_IS_GOOD(state)) {
            // Dropped with the next probe or the connection: not from inside
            // its own callback.
            pa_context_set_state_callback(probe, nullptr, nullptr);
        }
    }

    static void OnProbeInfo(pa_context *probe, const pa_server_info *info, void *userdata)
    {
        auto *loop = static_cast<Loop *>(userdata);
        const char *name = !info             ? nullptr
                           : loop->capture() ? info->default_source_name
                                             : info->default_sink_name;
        if (name && *name)
            loop->Post({Event::Kind::FreshDefault, QString::fromUtf8(name), {}, 0});
        pa_context_set_state_callback(probe, nullptr, nullptr);
        pa_context_disconnect(probe);
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
        Track(queries, capture() ? pa_context_get_source_info_by_name(
                                       context, name, &Loop::OnSinkInfo<pa_source_info>, this)
                                 : pa_context_get_sink_info_by_name(
                                       context, name, &Loop::OnSinkInfo<pa_sink_info>, this));
    }
    void QuerySink(uint32_t index)
    {
        Track(queries, capture() ? pa_context_get_source_info_by_index(
                                       context, index, &Loop::OnSinkInfo<pa_source_info>, this)
                                 : pa_context_get_sink_info_by_index(
                                       context, index, &Loop::OnSinkInfo<pa_sink_info>, this));
    }

    // One stream, or every stream when index is PA_INVALID_INDEX.
    void QueryStreams(uint32_t index = PA_INVALID_INDEX)
    {
        if (!context)
            return;
        constexpr auto onInput = &Loop::OnStreamInfo<pa_sink_input_info>;
        constexpr auto onOutput = &Loop::OnStreamInfo<pa_source_output_info>;
        const bool all = index == PA_INVALID_INDEX;
        Track(streamQueries,
              capture() ? (all ? pa_context_get_source_output_info_list(context, onOutput, this)
                               : pa_context_get_source_output_info(context, index, onOutput, this))
                        : (all ? pa_context_get_sink_input_info_list(context, onInput, this)
                               : pa_context_get_sink_input_info(context, index, onInput, this)));
    }

    // A reply to come, asked for at the current generation.
    void Track(std::deque<quint64> &list, pa_operation *op)
    {
        if (!op)
            return;
        list.push_back(generation.load());
        pa_operation_unref(op);
    }

    // Changes are sent without waiting for their answer; the queries after
    // them show what the server made of them.
    void SetSink(const char *name, const pa_cvolume &volume, bool muted)
    {
        Unref(capture()
                  ? pa_context_set_source_volume_by_name(context, name, &volume, nullptr, nullptr)
                  : pa_context_set_sink_volume_by_name(context, name, &volume, nullptr, nullptr));
        Unref(capture() ? pa_context_set_source_mute_by_name(context, name, muted, nullptr, nullptr)
                        : pa_context_set_sink_mute_by_name(context, name, muted, nullptr, nullptr));
    }
    void SetStream(uint32_t index, const pa_cvolume &volume, bool muted)
    {
        Unref(capture()
                  ? pa_context_set_source_output_volume(context, index, &volume, nullptr, nullptr)
                  : pa_context_set_sink_input_volume(context, index, &volume, nullptr, nullptr));
        Unref(capture() ? pa_context_set_source_output_mute(context, index, muted, nullptr, nullptr)
                        : pa_context_set_sink_input_mute(context, index, muted, nullptr, nullptr));
    }
    static void Unref(pa_operation *op)
    {
        if (op)
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
            const auto mask = pa_subscription_mask_t(
                PA_SUBSCRIPTION_MASK_SERVER |
                (loop->capture() ? PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT
                                 : PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT));
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
        const auto device =
            loop->capture() ? PA_SUBSCRIPTION_EVENT_SOURCE : PA_SUBSCRIPTION_EVENT_SINK;
        const auto stream = loop->capture() ? PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT
                                            : PA_SUBSCRIPTION_EVENT_SINK_INPUT;
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            loop->QueryServer();
        } else if (facility == stream) {
            if (removed)
                loop->Post({Event::Kind::StreamGone, {}, {}, 0, index});
            else
                loop->QueryStreams(index);
        } else if (facility == device && !removed) {
            // Any of them may be the default one; the owner picks.
            loop->QuerySink(index);
        }
    }

    static void OnServerInfo(pa_context *, const pa_server_info *info, void *userdata)
    {
        auto *loop = static_cast<Loop *>(userdata);
        const char *sink = !info             ? nullptr
                           : loop->capture() ? info->default_source_name
                                             : info->default_sink_name;
        loop->Post({Event::Kind::DefaultSink, QString::fromUtf8(sink ? sink : ""), {}, 0});
        loop->QuerySink(sink);
    }

    // Info: pa_sink_info or pa_source_info.
    template <typename Info>
    static void OnSinkInfo(pa_context *, const Info *info, int eol, void *userdata)
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

    static uint32_t DeviceOf(const pa_sink_input_info *info) { return info->sink; }
    static uint32_t DeviceOf(const pa_source_output_info *info) { return info->source; }

    // Info: pa_sink_input_info or pa_source_output_info.
    template <typename Info>
    static void OnStreamInfo(pa_context *, const Info *info, int eol, void *userdata)
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
        event.connected = DeviceOf(info) != PA_INVALID_INDEX;
        event.state.muted = info->mute != 0;
        for (unsigned c = 0; c < info->volume.channels && c < PA_CHANNELS_MAX; ++c)
            event.state.volume.append(info->volume.values[c]);
        loop->Post(std::move(event));
    }
};
