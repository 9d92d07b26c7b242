#pragma once
// GStreamer, loaded the first time the camera is used instead of with the
// program: linked in, it and what it pulls in (its base, video and app
// libraries, orc, libdw, libunwind...) cost every start time in the dynamic
// loader, for a feature that is off unless asked for. GLib and GObject stay
// linked: the rest of the program loads them anyway.

#include <QString>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

struct GstLibrary
{
    decltype(&gst_init_check) initCheck = nullptr;
    decltype(&gst_element_factory_make) elementFactoryMake = nullptr;
    decltype(&gst_structure_new) structureNew = nullptr;
    decltype(&gst_structure_free) structureFree = nullptr;
    decltype(&gst_sample_get_caps) sampleGetCaps = nullptr;
    decltype(&gst_sample_get_buffer) sampleGetBuffer = nullptr;
    decltype(&gst_video_info_from_caps) videoInfoFromCaps = nullptr;
    decltype(&gst_buffer_map) bufferMap = nullptr;
    decltype(&gst_buffer_unmap) bufferUnmap = nullptr;
    decltype(&gst_element_get_bus) elementGetBus = nullptr;
    decltype(&gst_bus_pop_filtered) busPopFiltered = nullptr;
    decltype(&gst_object_unref) objectUnref = nullptr;
    decltype(&gst_mini_object_unref) miniObjectUnref = nullptr; // caps, samples, messages
    decltype(&gst_message_parse_error) messageParseError = nullptr;
    decltype(&gst_element_set_state) elementSetState = nullptr;
    decltype(&gst_app_sink_try_pull_sample) appSinkTryPullSample = nullptr;
    decltype(&gst_pipeline_new) pipelineNew = nullptr;
    decltype(&gst_caps_new_simple) capsNewSimple = nullptr;
    decltype(&gst_bin_add_many) binAddMany = nullptr;
    decltype(&gst_element_link_many) elementLinkMany = nullptr;
    decltype(&gst_parse_bin_from_description) parseBinFromDescription = nullptr;
    decltype(&gst_parse_launch) parseLaunch = nullptr;
    decltype(&gst_bin_get_by_name) binGetByName = nullptr;
    decltype(&gst_element_get_static_pad) elementGetStaticPad = nullptr;
    decltype(&gst_pad_add_probe) padAddProbe = nullptr;
    decltype(&gst_pad_get_current_caps) padGetCurrentCaps = nullptr;
    decltype(&gst_sample_new) sampleNew = nullptr;
    decltype(&gst_bus_set_sync_handler) busSetSyncHandler = nullptr;
    decltype(&gst_video_convert_sample) videoConvertSample = nullptr;
    decltype(&gst_app_sink_set_callbacks) appSinkSetCallbacks = nullptr;
    decltype(&gst_app_sink_pull_sample) appSinkPullSample = nullptr;

    // Loads GStreamer's libraries and starts GStreamer once, from any
    // thread; nullptr when that fails, with the reason in *problem.
    static const GstLibrary *Get(QString *problem);
};
