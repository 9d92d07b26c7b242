#include "evidence/GstLibrary.h"

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
            ResolveInto(core, "gst_element_link_many", gst.elementLinkMany);
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
