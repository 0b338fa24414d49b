#!/usr/bin/python3
"""The desktop notification service of the tests, run under dbus-run-session (a bus of its own).

Usage: dbus-run-session -- notification_service.py LIFETIME_SECONDS
Owns org.freedesktop.Notifications, prints "ADDRESS <bus address>" once it serves, then
"NOTIFY <json>" (app, icon, summary, body) for every Notify call. Ends on SIGTERM, at the end
of its input or when the lifetime has passed, so that nothing outlives a crashed test.
"""
import json
import os
import signal
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"


class Notifications(dbus.service.Object):
    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        call = {"app": app, "icon": icon, "summary": summary, "body": body}
        print("NOTIFY " + json.dumps(call), flush=True)
        return 1

    @dbus.service.method(INTERFACE, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("quorvex-tests", "Quorvex", "1", "1.2")


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName(INTERFACE, bus)
service = Notifications(bus, "/org/freedesktop/Notifications")
loop = GLib.MainLoop()
GLib.timeout_add_seconds(int(sys.argv[1]), loop.quit)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, lambda *_: loop.quit())
print("ADDRESS " + os.environ["DBUS_SESSION_BUS_ADDRESS"], flush=True)
loop.run()
