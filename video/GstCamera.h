#pragma once
// What the camera's users share: which camera to open, and GStreamer's
// samples and messages as Qt values.

#include "video/GstLibrary.h"

#include <QImage>
#include <QList>
#include <QString>

namespace GstCamera {

// The cameras to try, in order: PipeWire's default video source (when a
// PipeWire server runs; it offers V4L2 and libcamera cameras alike), then
// every V4L2 device directly. Each is a new floating element.
QList<GstElement *> MakeSources(const GstLibrary &gst);

// True when a camera may be there, without loading GStreamer: a PipeWire
// server or a V4L2 device; why not in *why.
bool MayHaveCamera(QString *why);

// The picture of an RGB or GRAY8 sample; null when it cannot be read.
QImage ImageOf(const GstLibrary &gst, GstSample *sample);

// The text of an error message, or "The camera stopped" for any other.
QString MessageText(const GstLibrary &gst, GstMessage *message);

// An error or the end of the stream waiting on the pipeline's bus, as text.
QString BusFailure(const GstLibrary &gst, GstElement *pipeline);

} // namespace GstCamera
