"""The Linux notifier in the real KDE Plasma 5 on X11 (kded5's watcher,
plasmashell's tray), inside xvfb-run and dbus-run-session with a HOME of its
own; where the tray draws the item is read over AT-SPI, screenshots go to
build/test-logs. Usage: kde_scenarios.py BUILD_DIR [SCENARIO]"""

import os
import shutil
import subprocess
import time

import dbus
import pyatspi
from gi.repository import GLib
from harness import WATCHER, check, has_owner, main, wait_for

ITEM = 'org.kde.StatusNotifierItem'
# What Debian's Plasma needs to draw on Xvfb without a GPU.
KDE_ENV = dict(XDG_CURRENT_DESKTOP='KDE', KDE_FULL_SESSION='true', KDE_SESSION_VERSION='5',
               QT_QPA_PLATFORM='xcb', QT_QUICK_BACKEND='software', LIBGL_ALWAYS_SOFTWARE='1',
               QT_XCB_GL_INTEGRATION='none', QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')

HELP = 'https://content.orlivan.com/content/how-setup-internet-parental-controls-linux'
# What each of the menu's commands, top to bottom, starts or shows.
PICKED = [('settings-tokens', '|'), ('window', 'Update Error'),
          ('opened', HELP), ('opened', 'https://www.orlivan.com/contact'),
          ('window', 'Orlivan Info')]


def start_plasma(desktop):
    """kded5, then plasmashell, in a HOME of the scenario's own; the services
    the bus starts for them get the same folders."""
    home, runtime = desktop.root + '/home', desktop.root + '/kde-runtime'
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)
    folders = dict(HOME=home, XDG_CONFIG_HOME=home + '/.config', XDG_CACHE_HOME=home + '/.cache',
                   XDG_DATA_HOME=home + '/.local/share', XDG_RUNTIME_DIR=runtime, **KDE_ENV)
    dbus.SessionBus().get_object('org.freedesktop.DBus', '/org/freedesktop/DBus') \
        .UpdateActivationEnvironment(folders, dbus_interface='org.freedesktop.DBus')
    desktop.env.update(folders)
    kded = desktop._spawn(['kded5'])
    wait_for(lambda: has_owner(WATCHER), 'kded5\'s StatusNotifierWatcher', 30)
    # The splash screen plasmashell reports to is not started (its stand-in
    # waits half a minute for it after the scenario): the name is taken.
    dbus.SessionBus().request_name('org.kde.KSplash')
    desktop._spawn(['plasmashell', '--no-respawn'])
    wait_for(lambda: watcher_property('IsStatusNotifierHostRegistered'), 'Plasma\'s tray', 60)
    return kded


def watcher_property(name):
    watcher = dbus.SessionBus().get_object(WATCHER, '/StatusNotifierWatcher')
    return watcher.Get(WATCHER, name, dbus_interface='org.freedesktop.DBus.Properties')


def our_item(notifier):
    """The notifier's item as kded5 keeps it ("service/path"), or None."""
    return next((str(i) for i in watcher_property('RegisteredStatusNotifierItems')
                 if str(i).startswith('%s-%d-' % (ITEM, notifier.pid))), None)


def shown_buttons(accessible, depth=0):
    for child in filter(None, accessible):
        if child.getRoleName() == 'push button' and \
                child.getState().contains(pyatspi.STATE_SHOWING):
            yield child
        if depth < 40:
            yield from shown_buttons(child, depth + 1)


def icon_in_tray():
    """The centre of plasmashell's button named as the item's title, once drawn."""
    try:
        for app in filter(None, pyatspi.Registry.getDesktop(0)):
            app.clear_cache()
            for button in shown_buttons(app) if app.name == 'plasmashell' else ():
                box = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                if button.name == 'Orlivan Notifier' and box.width > 0 and box.height > 0:
                    return box.x + box.width // 2, box.y + box.height // 2
    except GLib.Error:  # busy or gone: asked again
        pass
    return None


def plasma_windows():
    return len(subprocess.run(['xdotool', 'search', '--onlyvisible', '--class', 'plasmashell'],
                              capture_output=True, text=True).stdout.split())


def item_in_plasma_tray(new_desktop):
    desktop = new_desktop(watcher=False, notifications=None)
    check(shutil.which('plasmashell'), 'Plasma is not installed (scripts/test.sh installs it)')
    kded = start_plasma(desktop)
    notifier = desktop.start_notifier()
    item = wait_for(lambda: our_item(notifier), 'the item registered with kded5', 20)
    name, _, path = item.partition('/')
    sni = dbus.SessionBus().get_object(name, '/' + path)
    check(sni.Get(ITEM, 'Id', dbus_interface='org.freedesktop.DBus.Properties') ==
          'orlivan-notifier', 'the item\'s Id')
    x, y = wait_for(icon_in_tray, 'the icon drawn in Plasma\'s tray', 60)
    desktop.screenshot('kde-tray.png')

    # Each command picked in Plasma's menu (a right click on the icon).
    panel = plasma_windows()
    for downs, (kind, what) in enumerate(PICKED):
        wait_for(lambda: plasma_windows() == panel, 'the menu to close')
        subprocess.run(['xdotool', 'mousemove', str(x), str(y), 'click', '3'], check=True)
        wait_for(lambda: plasma_windows() > panel, 'Plasma\'s menu')
        if downs == 0:
            desktop.screenshot('kde-tray-menu.png')
        subprocess.run(['xdotool', 'key'] + ['Down'] * (downs + 1) + ['Return'], check=True)
        if kind == 'window':
            desktop.press(what)
        else:
            wait_for(lambda: desktop.recorded(kind)[-1:] == [what], 'the menu\'s %s' % what)

    # A click on the icon: Plasma hands on its token (none on X11), then activates.
    subprocess.run(['xdotool', 'mousemove', str(x), str(y), 'click', '1'], check=True)
    wait_for(lambda: desktop.recorded('settings-tokens') == ['|', '|'], 'the settings program')
    # ... and on Wayland its token, which the settings program gets.
    time.sleep(1)  # past the double-click time
    sni.ProvideXdgActivationToken('plasma-token', dbus_interface=ITEM)
    sni.Activate(0, 0, dbus_interface=ITEM)
    wait_for(lambda: desktop.recorded('settings-tokens')[2:] == ['plasma-token|'],
             'the settings program with Plasma\'s token')

    # The watcher restarts: the new kded5 takes its name over.
    desktop._spawn(['kded5', '--replace'])
    wait_for(lambda: kded.poll() is not None, 'the first kded5 to end', 30)
    wait_for(lambda: has_owner(WATCHER) and our_item(notifier), 'the item registered again', 30)


if __name__ == '__main__':
    main([item_in_plasma_tray])
