#include "video/GstLibrary.h"

#include "files/LateLibrary.h"

const GstLibrary *GstLibrary::Get(QString *problem)
{
    return LoadOnce<GstLibrary>(problem, [](GstLibrary &gst, QString &failure) {
        static QLibrary core(QStringLiteral("libgstreamer-1.0.so.0"));
        static QLibrary video(QStringLiteral("libgstvideo-1.0.so.0"));
        static QLibrary app(QStringLiteral("libgstapp-1.0.so.0"));
        for (QLibrary *library : {&core, &video, &app}) {
            if (!library->load()) {
                failure = QStringLiteral("GStreamer could not be loaded (%1)")
                              .arg(library->errorString());
                return false;
            }
        }
        const bool complete =
            ResolveInto(core, "gst_init_check", gst.initCheck) &&
            ResolveInto(core, "gst_element_factory_make", gst.elementFactoryMake) &&
            ResolveInto(core, "gst_structure_new", gst.structureNew) &&
            ResolveInto(core, "gst_structure_free", gst.structureFree) &&
            ResolveInto(core, "gst_sample_get_caps", gst.sampleGetCaps) &&
            ResolveInto(core, "gst_sample_get_buffer", gst.sampleGetBuffer) &&
            ResolveInto(video, "gst_video_info_from_caps", gst.videoInfoFromCaps) &&
            ResolveInto(core, "gst_buffer_map", gst.bufferMap) &&
            ResolveInto(core, "gst_buffer_unmap", gst.bufferUnmap) &&
            ResolveInto(core, "gst_element_get_bus", gst.elementGetBus) &&
            ResolveInto(core, "gst_bus_pop_filtered", gst.busPopFiltered) &&
            ResolveInto(core, "gst_object_unref", gst.objectUnref) &&
            ResolveInto(core, "gst_mini_object_unref", gst.miniObjectUnref) &&
            ResolveInto(core, "gst_message_parse_error", gst.messageParseError) &&
            ResolveInto(core, "gst_element_set_state", gst.elementSetState) &&
            ResolveInto(app, "gst_app_sink_try_pull_sample", gst.appSinkTryPullSample) &&
            ResolveInto(core, "gst_pipeline_new", gst.pipelineNew) &&
            ResolveInto(core, "gst_caps_new_simple", gst.capsNewSimple) &&
            ResolveInto(core, "gst_bin_add_many", gst.binAddMany) &&
            ResolveInto(core, "gst_element_link_many", gst.elementLinkMany) &&
            ResolveInto(core, "gst_parse_bin_from_description", gst.parseBinFromDescription) &&
            ResolveInto(core, "gst_parse_launch", gst.parseLaunch) &&
            ResolveInto(core, "gst_bin_get_by_name", gst.binGetByName) &&
            ResolveInto(core, "gst_element_get_static_pad", gst.elementGetStaticPad) &&
            ResolveInto(core, "gst_pad_add_probe", gst.padAddProbe) &&
            ResolveInto(core, "gst_pad_get_current_caps", gst.padGetCurrentCaps) &&
            ResolveInto(core, "gst_sample_new", gst.sampleNew) &&
            ResolveInto(core, "gst_bus_set_sync_handler", gst.busSetSyncHandler) &&
            ResolveInto(video, "gst_video_convert_sample", gst.videoConvertSample) &&
            ResolveInto(app, "gst_app_sink_set_callbacks", gst.appSinkSetCallbacks) &&
            ResolveInto(app, "gst_app_sink_pull_sample", gst.appSinkPullSample);
        if (!complete) {
            failure = QStringLiteral("GStreamer lacks a function (%1)").arg(core.errorString());
            return false;
        }
        GError *gerror = nullptr;
        if (!gst.initCheck(nullptr, nullptr, &gerror)) {
            failure = QString::fromUtf8(gerror ? gerror->message : "GStreamer did not start");
            if (gerror)
                g_error_free(gerror);
            return false;
        }
        return true;
    });
}
