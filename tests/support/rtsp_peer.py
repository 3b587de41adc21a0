#!/usr/bin/python3
"""An RTSP camera for tests, on GStreamer's RTSP server: a test picture as H.264 or
H.265 at rtsp://127.0.0.1:PORT/stream. Prints the port on stdout once it listens.

--auth asks for digest authentication; the accepted "user:password" comes from the
environment variable STREVO_PEER_CREDENTIALS (never the command line).
--silent accepts connections and never answers: a camera that hangs.
H.265 leaves its parameter sets in the SDP only (as many cameras do); x264enc
repeats them in band.
"""
import argparse
import os
import socket
import sys
import time


def silent():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = listener.accept()
        held.append(conn)  # kept open, never read or answered


def serve(args):
    import gi

    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtsp", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtsp, GstRtspServer

    Gst.init(None)
    width, height = (int(v) for v in args.size.split("x"))
    raw = (
        f"videotestsrc is-live=true pattern=ball ! "
        f"video/x-raw,width={width},height={height},framerate={args.fps}/1"
    )
    if args.codec == "h265":
        encode = (
            f"x265enc tune=zerolatency speed-preset=ultrafast key-int-max={args.fps} ! "
            "video/x-h265,stream-format=byte-stream ! rtph265pay name=pay0 pt=96 config-interval=0"
        )
    else:
        encode = (
            f"x264enc tune=zerolatency speed-preset=ultrafast key-int-max={args.fps} threads=1 ! "
            "video/x-h264,stream-format=avc ! rtph264pay name=pay0 pt=96 config-interval=0"
        )
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(f"( {raw} ! {encode} )")
    # Unicast only: nothing here may multicast.
    factory.set_protocols(GstRtsp.RTSPLowerTrans.TCP | GstRtsp.RTSPLowerTrans.UDP)

    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    if args.auth:
        user, _, password = os.environ.get("STREVO_PEER_CREDENTIALS", "").partition(":")
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "viewer")
        auth.add_digest(user, password, token)
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        server.set_auth(auth)
        permissions = GstRtspServer.RTSPPermissions()
        permissions.add_permission_for_role("viewer", "media.factory.access", True)
        permissions.add_permission_for_role("viewer", "media.factory.construct", True)
        factory.set_permissions(permissions)
    server.get_mount_points().add_factory("/stream", factory)
    if server.attach(None) == 0:
        sys.exit("rtsp_peer: cannot listen")
    print(server.get_bound_port(), flush=True)
    GLib.MainLoop().run()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--codec", choices=["h264", "h265"], default="h264")
    parser.add_argument("--size", default="320x240")
    parser.add_argument("--fps", type=int, default=15)
    parser.add_argument("--auth", action="store_true")
    parser.add_argument("--silent", action="store_true")
    args = parser.parse_args()
    if args.silent:
        silent()
    else:
        serve(args)


if __name__ == "__main__":
    main()
