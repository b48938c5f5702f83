"""A StatusNotifierWatcher with a host, for python3 -m dbusmock --template.

It keeps the items that register (the service names they give), says a host
is registered, and announces each item with StatusNotifierItemRegistered, as
a panel's tray does. Tests read the items through the RegisteredStatusNotifierItems
property and talk to them directly.
"""

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
        'IsStatusNotifierHostRegistered': dbus.Boolean(True),
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
