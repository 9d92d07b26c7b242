#!/usr/bin/env python3
"""A test camera on PipeWire whose picture changes on command: each line
read from stdin names a videotestsrc pattern, shown from the next frame on.
Prints "ready" once the camera runs. The PipeWire to offer it on comes from
the environment (PIPEWIRE_RUNTIME_DIR).

usage: pattern_camera.py [first pattern]"""

import sys
import threading

import gi

gi.require_version("Gst", "1.0")
from gi.repository import GLib, Gst  # noqa: E402


def main():
    Gst.init(None)
    pipeline = Gst.parse_launch(
        "videotestsrc name=source is-live=true pattern=%s ! "
        "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1 ! "
        "pipewiresink mode=provide stream-properties=\"props,media.class=Video/Source,"
        "node.description=Pattern-camera,node.pause-on-idle=false\""
        % (sys.argv[1] if len(sys.argv) > 1 else "smpte"))
    source = pipeline.get_by_name("source")
    loop = GLib.MainLoop()

    def on_message(_bus, message):
        if message.type == Gst.MessageType.ERROR:
            print("camera error: %s" % message.parse_error()[0].message, file=sys.stderr)
            loop.quit()

    bus = pipeline.get_bus()
    bus.add_signal_watch()
    bus.connect("message", on_message)

    def read_commands():
        for line in sys.stdin:
            pattern = line.strip()
            if pattern:
                # Set from this thread: the source reads it for its next frame.
                source.set_property("pattern", pattern)
        GLib.idle_add(loop.quit)

    pipeline.set_state(Gst.State.PLAYING)
    if pipeline.get_state(10 * Gst.SECOND)[0] != Gst.StateChangeReturn.FAILURE:
        print("ready", flush=True)
    threading.Thread(target=read_commands, daemon=True).start()
    loop.run()
    pipeline.set_state(Gst.State.NULL)


if __name__ == "__main__":
    main()
