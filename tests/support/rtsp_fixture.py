#!/usr/bin/python3
"""Loopback RTSP server for the recording tests (GStreamer's RTSP server through python3-gi).

Usage: rtsp_fixture.py LIFETIME_SECONDS [--auth USER:PASSWORD] [--end-after SECONDS]
                       [--silent-after SECONDS]
Binds 127.0.0.1 on a free port, prints "PORT <n>" and serves until killed or until the
lifetime has passed, so that nothing outlives a crashed test.
  /live    a live H.264 test picture (160x120, 25 fps, a key frame every second) with an
           Opus tone
With --auth every request needs that Basic login (401 otherwise). With --end-after the
server exits that long after its stream first started, closing its connections, as a camera
that goes away; with --silent-after it then drops its sessions but keeps the connections
open, sending nothing more, as a camera that hangs. Both count from the stream's start, not
the server's, so that a slow start on a loaded machine does not eat the recording.
"""
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

PIPELINE = (
    "( videotestsrc is-live=true pattern=ball ! video/x-raw,width=160,height=120,framerate=25/1 "
    "! x264enc tune=zerolatency key-int-max=25 speed-preset=ultrafast ! rtph264pay name=pay0 pt=96 "
    "audiotestsrc is-live=true ! audio/x-raw,rate=48000,channels=1 ! opusenc ! rtpopuspay name=pay1 pt=97 )"
)


def main():
    args = sys.argv[1:]
    lifetime = int(args[0])
    auth = None
    end_after = None
    silent_after = None
    if "--auth" in args:
        auth = args[args.index("--auth") + 1]
    if "--end-after" in args:
        end_after = int(args[args.index("--end-after") + 1])
    if "--silent-after" in args:
        silent_after = int(args[args.index("--silent-after") + 1])
    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(PIPELINE)
    factory.set_shared(True)
    if auth is not None:
        user, password = auth.split(":", 1)
        authority = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, "user")
        authority.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
        server.set_auth(authority)
        permissions = GstRtspServer.RTSPPermissions()
        permissions.add_role_from_structure(Gst.Structure.new_from_string(
            "user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true"))
        factory.set_permissions(permissions)
    server.get_mount_points().add_factory("/live", factory)
    server.attach(None)
    print("PORT %d" % server.get_bound_port(), flush=True)
    loop = GLib.MainLoop()
    GLib.timeout_add_seconds(lifetime, loop.quit)

    def on_stream_start(seconds, action):
        def configure(_factory, media):
            media.connect("prepared", lambda _media: GLib.timeout_add_seconds(seconds, action))
        factory.connect("media-configure", configure)

    if end_after is not None:
        on_stream_start(end_after, loop.quit)
    if silent_after is not None:
        def drop_sessions():
            pool = server.get_session_pool()
            pool.filter(lambda pool, session, data=None: GstRtspServer.RTSPFilterResult.REMOVE, None)
            return True
        on_stream_start(silent_after, drop_sessions)
    loop.run()


if __name__ == "__main__":
    main()
