#!/usr/bin/python3
# A Secret Service with one default collection that the test can lock, on the
# session bus named by DBUS_SESSION_BUS_ADDRESS. Enough of the
# org.freedesktop.Secret API for libsecret (plain sessions only). Unlocking
# goes through a prompt that stays "on screen" until the test answers it with
# the Answer method of com.tavlo.FakeSecrets at /control; that interface also
# seeds and reads items and counts prompts.
# Prints READY once it owns org.freedesktop.secrets.
import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SERVICE = "org.freedesktop.Secret.Service"
COLLECTION = "org.freedesktop.Secret.Collection"
ITEM = "org.freedesktop.Secret.Item"
PROMPT = "org.freedesktop.Secret.Prompt"
PROPS = "org.freedesktop.DBus.Properties"
CONTROL = "com.tavlo.FakeSecrets"
ROOT = "/org/freedesktop/secrets"
COLL_PATH = ROOT + "/collection/login"


class NotSupported(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.NotSupported"


class NoSuchObject(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.Secret.Error.NoSuchObject"


class Props(dbus.service.Object):
    def props(self):
        return {}

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.props()[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.props()


class Item(Props):
    def __init__(self, fake, path, attributes, secret, content_type):
        super().__init__(fake.bus, path)
        self.fake, self.path = fake, path
        self.attributes, self.secret, self.content_type = dict(attributes), bytes(secret), str(content_type)

    def props(self):
        return {"Locked": dbus.Boolean(self.fake.locked), "Attributes": dbus.Dictionary(self.attributes, "ss"),
                "Label": "item", "Created": dbus.UInt64(0), "Modified": dbus.UInt64(0)}

    def wire_secret(self, session):
        return (dbus.ObjectPath(session), dbus.ByteArray(b""), dbus.ByteArray(self.secret), self.content_type)

    @dbus.service.method(ITEM, in_signature="o", out_signature="(oayays)")
    def GetSecret(self, session):
        return self.wire_secret(session)

    @dbus.service.method(ITEM, out_signature="o")
    def Delete(self):
        self.fake.remove(self)
        return dbus.ObjectPath("/")


class Prompt(dbus.service.Object):
    def __init__(self, fake, path, on_accept, refused):
        super().__init__(fake.bus, path)
        self.fake, self.on_accept, self.refused = fake, on_accept, refused

    @dbus.service.method(PROMPT, in_signature="s")
    def Prompt(self, window_id):
        self.fake.shown += 1
        self.fake.pending = self

    @dbus.service.method(PROMPT)
    def Dismiss(self):
        self.fake.dismissed_by_client += 1
        self.finish(False)

    def finish(self, accepted):
        self.fake.pending = None
        result = self.on_accept() if accepted else self.refused
        self.Completed(not accepted, result)
        self.remove_from_connection()
        self.fake.prompts.discard(self)

    @dbus.service.signal(PROMPT, signature="bv")
    def Completed(self, dismissed, result):
        pass


class Fake(Props):
    def __init__(self, bus):
        super().__init__(bus, ROOT)
        self.bus = bus
        self.locked = False
        self.items = []
        self.serial = 0
        self.shown = 0
        self.dismissed_by_client = 0
        self.pending = None
        self.prompts = set()  # exported objects need a reference of their own
        self.collection = Collection(self)
        self.control = Control(self)

    def props(self):
        return {"Collections": dbus.Array([dbus.ObjectPath(COLL_PATH)], "o")}

    def next_path(self, kind):
        self.serial += 1
        return "%s/%s/%d" % (ROOT if kind != "item" else COLL_PATH, kind, self.serial)

    def remove(self, item):
        self.items.remove(item)
        item.remove_from_connection()

    def add(self, attributes, secret, content_type, replace=True):
        for old in [i for i in self.items if replace and i.attributes == dict(attributes)]:
            self.remove(old)
        item = Item(self, self.next_path("item"), attributes, secret, content_type)
        self.items.append(item)
        return item

    # `refused` is the result a dismissal reports: libsecret wants the type
    # an acceptance would have.
    def prompt(self, on_accept, refused):
        prompt = Prompt(self, self.next_path("prompt"), on_accept, refused)
        self.prompts.add(prompt)
        return dbus.ObjectPath(prompt.__dbus_object_path__)

    def unlock(self):
        self.locked = False

    @dbus.service.method(SERVICE, in_signature="sv", out_signature="vo")
    def OpenSession(self, algorithm, argument):
        if algorithm != "plain":
            raise NotSupported("only plain")
        return dbus.String("", variant_level=1), dbus.ObjectPath(self.next_path("session"))

    @dbus.service.method(SERVICE, in_signature="a{ss}", out_signature="aoao")
    def SearchItems(self, attributes):
        found = [dbus.ObjectPath(i.path) for i in self.items if dict(attributes).items() <= i.attributes.items()]
        empty = dbus.Array([], "o")
        return (empty, dbus.Array(found, "o")) if self.locked else (dbus.Array(found, "o"), empty)

    @dbus.service.method(SERVICE, in_signature="aoo", out_signature="a{o(oayays)}")
    def GetSecrets(self, paths, session):
        return dbus.Dictionary({dbus.ObjectPath(i.path): i.wire_secret(session) for i in self.items
                                if i.path in paths and not self.locked}, "o(oayays)")

    @dbus.service.method(SERVICE, in_signature="ao", out_signature="aoo")
    def Unlock(self, objects):
        if not self.locked:
            return dbus.Array(objects, "o"), dbus.ObjectPath("/")

        def accepted():
            self.unlock()
            return dbus.Array(objects, "o", variant_level=1)
        return dbus.Array([], "o"), self.prompt(accepted, dbus.Array([], "o", variant_level=1))

    @dbus.service.method(SERVICE, in_signature="s", out_signature="o")
    def ReadAlias(self, name):
        return dbus.ObjectPath(COLL_PATH if name == "default" else "/")


class Collection(Props):
    SUPPORTS_MULTIPLE_OBJECT_PATHS = True

    def __init__(self, fake):
        super().__init__(fake.bus, COLL_PATH)
        self.add_to_connection(fake.bus, ROOT + "/aliases/default")  # where libsecret stores
        self.fake = fake

    def props(self):
        return {"Locked": dbus.Boolean(self.fake.locked), "Label": "Login",
                "Items": dbus.Array([dbus.ObjectPath(i.path) for i in self.fake.items], "o")}

    @dbus.service.method(COLLECTION, in_signature="a{sv}(oayays)b", out_signature="oo")
    def CreateItem(self, properties, secret, replace):
        attributes = properties.get("org.freedesktop.Secret.Item.Attributes", {})
        if not self.fake.locked:
            return dbus.ObjectPath(self.fake.add(attributes, secret[2], secret[3], replace).path), dbus.ObjectPath("/")

        # As gnome-keyring does: a locked collection asks to be unlocked first.
        def accepted():
            self.fake.unlock()
            return dbus.ObjectPath(self.fake.add(attributes, secret[2], secret[3], replace).path, variant_level=1)
        return dbus.ObjectPath("/"), self.fake.prompt(accepted, dbus.ObjectPath("/", variant_level=1))


class Control(dbus.service.Object):
    def __init__(self, fake):
        super().__init__(fake.bus, "/control")
        self.fake = fake

    # Back to an empty, unlocked collection. libsecret keeps talking to the
    # process it met first, so tests reset this one rather than start another.
    @dbus.service.method(CONTROL)
    def Reset(self):
        for item in list(self.fake.items):
            self.fake.remove(item)
        self.fake.locked = False
        self.fake.shown = self.fake.dismissed_by_client = 0
        self.fake.pending = None

    @dbus.service.method(CONTROL, in_signature="b")
    def SetLocked(self, locked):
        self.fake.locked = bool(locked)

    @dbus.service.method(CONTROL, in_signature="ss")
    def Put(self, account, value):
        self.fake.add({"service": "com.tavlo.popup", "account": account}, value.encode(), "text/plain")

    @dbus.service.method(CONTROL, in_signature="s", out_signature="as")
    def Values(self, account):
        return [bytes(i.secret).decode() for i in self.fake.items if i.attributes.get("account") == account]

    # Prompts shown, and how many of them the client itself dismissed.
    @dbus.service.method(CONTROL, out_signature="ii")
    def Prompts(self):
        return self.fake.shown, self.fake.dismissed_by_client

    @dbus.service.method(CONTROL, in_signature="b")
    def Answer(self, accept):
        if self.fake.pending is None:
            raise NoSuchObject("no prompt on screen")
        self.fake.pending.finish(bool(accept))


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    fake = Fake(bus)
    name = dbus.service.BusName("org.freedesktop.secrets", bus, do_not_queue=True)  # owned while referenced
    print("READY", flush=True)
    GLib.MainLoop().run()
    del fake, name


if __name__ == "__main__":
    main()
