#!/usr/bin/env python3
"""A minimal org.kde.StatusNotifierWatcher for tests, on the session bus (or
the bus at --address). Prints "ready" once it owns the name, then one line
"registered SERVICE SENDER" per item that registers. A line "host" on stdin
registers a tray host (for --mode nohost), "unhost" lets the last one go.

Modes: normal; nohost (no tray host until "host"); silent (never answers a
registration); error (refuses it); garbage (answers with values of the wrong
types).
"""
import argparse
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = 'org.kde.StatusNotifierWatcher'
PATH = '/StatusNotifierWatcher'
PROPS = 'org.freedesktop.DBus.Properties'


class Watcher(dbus.service.Object):
    def __init__(self, bus, mode):
        super().__init__(bus, PATH)
        self.mode = mode
        self.items = []
        self.host = mode != 'nohost'

    @dbus.service.method(NAME, in_signature='s', out_signature='', sender_keyword='sender',
                         async_callbacks=('reply', 'fail'))
    def RegisterStatusNotifierItem(self, service, sender=None, reply=None, fail=None):
        print(f'registered {service} {sender}', flush=True)
        if self.mode == 'silent':
            return
        if self.mode == 'error':
            fail(dbus.exceptions.DBusException('not today', name='org.example.Watcher.Refused'))
            return
        self.items.append(service if service.startswith(':') or '.' in service else sender + service)
        self.StatusNotifierItemRegistered(service)
        reply()

    @dbus.service.method(NAME, in_signature='s', out_signature='')
    def RegisterStatusNotifierHost(self, service):
        self.host = True
        self.StatusNotifierHostRegistered()

    @dbus.service.signal(NAME, signature='s')
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(NAME, signature='')
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.signal(NAME, signature='')
    def StatusNotifierHostUnregistered(self):
        pass

    def properties(self):
        if self.mode == 'garbage':
            return {'RegisteredStatusNotifierItems': dbus.Int32(7),
                    'IsStatusNotifierHostRegistered': dbus.String('maybe'),
                    'ProtocolVersion': dbus.String('zero')}
        return {'RegisteredStatusNotifierItems': dbus.Array(self.items, signature='s'),
                'IsStatusNotifierHostRegistered': dbus.Boolean(self.host),
                'ProtocolVersion': dbus.Int32(0)}

    @dbus.service.method(PROPS, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method(PROPS, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.properties()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--mode', default='normal', choices=['normal', 'nohost', 'silent', 'error', 'garbage'])
    parser.add_argument('--address')
    args = parser.parse_args()
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.address) if args.address else dbus.SessionBus()
    watcher = Watcher(bus, args.mode)
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)

    def command(source, _condition):
        line = source.readline()
        if not line:
            loop.quit()
            return False
        if line.strip() == 'host':
            watcher.RegisterStatusNotifierHost(':host')
        elif line.strip() == 'unhost':
            watcher.host = False
            watcher.StatusNotifierHostUnregistered()
        return True

    loop = GLib.MainLoop()
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    print('ready', flush=True)
    loop.run()
    del name


if __name__ == '__main__':
    main()
