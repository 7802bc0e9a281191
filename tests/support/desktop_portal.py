"""The desktop portal's appearance settings as a process of its own on the session bus, the way
the desktop's portal serves them: ReadOne answers "color-scheme" as a variant holding a uint32,
Read (older portals) wraps that in one variant more, and SettingChanged announces a new value
from the portal's own connection.

Usage: desktop_portal.py SCHEME
Writes "ready" once it owns its name. Each line on stdin is a new scheme (0 no preference,
1 dark, 2 light): it is announced, then "changed SCHEME" is written. It ends with stdin.
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SETTINGS = "org.freedesktop.portal.Settings"
APPEARANCE = "org.freedesktop.appearance"
KEY = "color-scheme"


class Settings(dbus.service.Object):
    def __init__(self, bus, scheme):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.scheme = scheme

    def value(self, namespace, key):
        if (namespace, key) != (APPEARANCE, KEY):
            raise dbus.exceptions.DBusException("no such setting", name="org.freedesktop.portal.Error.NotFound")
        return dbus.UInt32(self.scheme)

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def ReadOne(self, namespace, key):
        return self.value(namespace, key)

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def Read(self, namespace, key):
        return dbus.UInt32(self.value(namespace, key), variant_level=2)

    @dbus.service.signal(SETTINGS, signature="ssv")
    def SettingChanged(self, namespace, key, value):
        pass


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    settings = Settings(bus, int(sys.argv[1]))
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus, do_not_queue=True)
    loop = GLib.MainLoop()

    def command(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        settings.scheme = int(line)
        settings.SettingChanged(APPEARANCE, KEY, dbus.UInt32(settings.scheme))
        print("changed", settings.scheme, flush=True)
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    print("ready", flush=True)
    loop.run()
    del name


if __name__ == "__main__":
    main()
