"""A StatusNotifierWatcher with a host, for python3 -m dbusmock --template.

It keeps the items that register (the service names they give), says a host
is registered (with the parameter host_delay, in seconds, only after that
long, when it announces it with StatusNotifierHostRegistered, as a panel
whose host starts after its watcher does), and announces each item with StatusNotifierItemRegistered, as
a panel's tray does; an item whose owner leaves the bus is dropped and
announced with StatusNotifierItemUnregistered. Tests read the items through
the RegisteredStatusNotifierItems property and talk to them directly.
"""

import dbus
from gi.repository import GLib

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    host_delay = parameters.get('host_delay')
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
        'IsStatusNotifierHostRegistered': dbus.Boolean(not host_delay),
        'ProtocolVersion': dbus.Int32(0),
    }, signature='sv'))
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '',
         'items = list(self.Get("%s", "RegisteredStatusNotifierItems"))\n'
         'items.append(args[0])\n'
         'self.Set("%s", "RegisteredStatusNotifierItems", dbus.Array(items, signature="s"))\n'
         'self.EmitSignal("%s", "StatusNotifierItemRegistered", "s", [args[0]])\n'
         % (MAIN_IFACE, MAIN_IFACE, MAIN_IFACE)),
        ('RegisterStatusNotifierHost', 's', '',
         'self.EmitSignal("%s", "StatusNotifierHostRegistered", "", [])\n' % MAIN_IFACE),
    ])

    def owner_changed(name, old_owner, new_owner):
        if new_owner:
            return
        items = [str(i) for i in mock.Get(MAIN_IFACE, 'RegisteredStatusNotifierItems')]
        for item in [i for i in items if i == name or i.startswith(name + '/')]:
            items.remove(item)
            mock.EmitSignal(MAIN_IFACE, 'StatusNotifierItemUnregistered', 's', [item])
        mock.Set(MAIN_IFACE, 'RegisteredStatusNotifierItems', dbus.Array(items, signature='s'))

    mock.connection.add_signal_receiver(owner_changed, 'NameOwnerChanged',
                                        'org.freedesktop.DBus', 'org.freedesktop.DBus',
                                        '/org/freedesktop/DBus')

    def host_registered():
        mock.Set(MAIN_IFACE, 'IsStatusNotifierHostRegistered', dbus.Boolean(True))
        mock.EmitSignal(MAIN_IFACE, 'StatusNotifierHostRegistered', '', [])
        return False

    if host_delay:
        GLib.timeout_add(int(host_delay * 1000), host_registered)
