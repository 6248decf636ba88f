#!/usr/bin/python3
"""A client of the input guard on the system bus, driven line by line on stdin:
  canlock            -> "canlock yes|no WHY"
  lock HOLD TIMEOUT  -> "locked" (the lease is kept) or "error NAME"
  close              -> "closed" (the lease's end is closed; the process stays on the bus)
The guard's signals are printed as they come: "progress F", "released REASON",
"refused NAME...". It starts with "ready PID" and exits when stdin closes."""

import os
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

NAME = "com.orbinlabs.OrbinWash.InputGuard"
PATH = "/com/orbinlabs/OrbinWash/InputGuard"
INTERFACE = "com.orbinlabs.OrbinWash.InputGuard1"
# Generous: the first call starts the guard, and polkit, on an emulated machine.
CALL_SECONDS = 60


def say(*words):
    print(*words, flush=True)


class Client:
    def __init__(self, bus):
        self.bus = bus
        self.lease = None
        for member, show in (("Progress", lambda fraction: say("progress", float(fraction))),
                             ("Released", lambda reason: say("released", reason)),
                             ("DevicesRefused", lambda names: say("refused", *names))):
            bus.add_signal_receiver(show, member, INTERFACE, None, PATH)

    def call(self, method, signature="", arguments=()):
        return self.bus.call_blocking(NAME, PATH, INTERFACE, method, signature, arguments,
                                      timeout=CALL_SECONDS)

    def command(self, words):
        try:
            if words == ["canlock"]:
                allowed, why = self.call("CanLock")
                say("canlock", "yes" if allowed else "no", why)
            elif len(words) == 3 and words[0] == "lock":
                options = {"hold-seconds": dbus.UInt32(int(words[1])),
                           "timeout-seconds": dbus.UInt32(int(words[2]))}
                self.lease = self.call("Lock", "a{sv}", [options]).take()
                say("locked")
            elif words == ["close"]:
                os.close(self.lease)
                self.lease = None
                say("closed")
            else:
                say("error", "unknown command", *words)
        except dbus.DBusException as error:
            say("error", error.get_dbus_name())


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    client = Client(dbus.SystemBus())
    loop = GLib.MainLoop()

    pending = b""

    def on_input(fd, condition):
        nonlocal pending
        chunk = os.read(fd, 4096)
        *lines, pending = (pending + chunk).split(b"\n")
        for line in lines:
            client.command(line.decode().split())
        if not chunk:
            loop.quit()
        return bool(chunk)

    GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_input)
    say("ready", os.getpid())
    loop.run()


if __name__ == "__main__":
    main()
