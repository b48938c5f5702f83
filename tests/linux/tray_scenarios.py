"""The Linux notifier's tray icon as a StatusNotifierWatcher sees it: the
item's properties and menu over D-Bus, activation, a watcher that appears late
or restarts, a host that registers after its watcher, X11's XEmbed icon only
while no host exists, the same on Wayland, the icon drawn by a real panel's tray, and
the icon and socket gone at the end, by a signal, by the session's logout or
by the display going away.
Usage: tray_scenarios.py BUILD_DIR [SCENARIO]"""

import contextlib
import os
import signal
import subprocess
import threading
import time

import dbus
from harness import (MENU_LABELS, PROPERTIES, WATCHER, Failure, Skipped, check, has_owner, main,
                     wait_for)


def item_shows_tip_icon_and_menu(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    check(str(desktop.item_property('ToolTip')[2]) == 'Orlivan Filter Notifier', 'tool tip')
    pixmaps = desktop.item_property('IconPixmap')
    check(pixmaps and all(w == h and len(data) == 4 * w * h for w, h, data in pixmaps),
          'icon pixmaps')
    check([label for label, _ in desktop.menu_entries()] == MENU_LABELS,
          'menu %r' % desktop.menu_entries())


def activation_and_settings_start_the_settings_program(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    desktop.item().Activate(0, 0, dbus_interface='org.kde.StatusNotifierItem')
    started = wait_for(lambda: desktop.recorded('settings-started'), 'the settings program')
    check(started == [desktop.root], 'started in the notifier\'s folder: %r' % started)
    desktop.click_menu('Settings')
    wait_for(lambda: len(desktop.recorded('settings-started')) == 2, 'a second start')


def item_names_its_installed_icon_and_asks_for_attention(new_desktop):
    # The build's icons installed as the package installs them, found through
    # the desktop's data folders.
    desktop = new_desktop()
    root = desktop.root + '/installed'
    subprocess.run(['cmake', '--install', desktop.build, '--component', 'notifier',
                    '--prefix', '/usr'], env=dict(os.environ, DESTDIR=root), check=True,
                   capture_output=True, timeout=120)
    desktop.env.update(XDG_DATA_DIRS=root + '/usr/share')
    desktop.start_notifier()
    names = {n: str(desktop.item_property(n)) for n in ('IconName', 'AttentionIconName',
                                                         'IconThemePath', 'Status')}
    check(names['IconThemePath'] == root + '/usr/share/icons' and names['Status'] == 'Active',
          'item %r' % names)
    for icon in (names['IconName'], names['AttentionIconName']):
        for form in ('scalable/apps/%s.svg', 'symbolic/apps/%s-symbolic.svg'):
            path = '%s/hicolor/%s' % (names['IconThemePath'], form % icon)
            check(icon and os.path.isfile(path), 'no icon %r in the theme' % path)
    # While the driver-error box waits for the person, and no longer.
    sender = desktop.send_async('driver-error', '--error-code', '7')
    wait_for(lambda: desktop.item_property('Status') == 'NeedsAttention', 'NeedsAttention')
    desktop.press('Orlivan Driver Error')
    check('reply 1' in sender.communicate(timeout=10)[0], 'the reply after the box')
    wait_for(lambda: desktop.item_property('Status') == 'Active', 'Active again')


def watcher_appearing_late_and_restarting_gets_the_icon(new_desktop):
    desktop = new_desktop(watcher=False)
    desktop.start_notifier()
    watcher = desktop.start_watcher()
    wait_for(desktop.items, 'the icon on a watcher that started late')
    watcher.terminate()
    watcher.wait(10)
    desktop.start_watcher()
    wait_for(desktop.items, 'the icon on the restarted watcher')
    check(str(desktop.item_property('ToolTip')[2]) == 'Orlivan Filter Notifier', 'tip')


def host_registering_after_its_watcher_gets_the_item(new_desktop):
    # As a desktop whose watcher starts before its host (on Wayland, where no
    # other icon stands in).
    desktop = new_desktop(display='wayland', watcher=False)
    desktop.start_watcher(host_delay=0.5)
    watcher = dbus.SessionBus().get_object(WATCHER, '/StatusNotifierWatcher')
    check(not watcher.Get(WATCHER, 'IsStatusNotifierHostRegistered',
                          dbus_interface=PROPERTIES), 'no host yet')
    desktop.start_notifier()
    wait_for(lambda: watcher.Get(WATCHER, 'IsStatusNotifierHostRegistered',
                                 dbus_interface=PROPERTIES), 'the host')
    shape = {name: desktop.item_property(name) for name in (
        'Category', 'Id', 'Title', 'Status', 'IconName', 'ItemIsMenu')}
    check(shape == {'Category': 'ApplicationStatus', 'Id': 'orlivan-notifier',
                    'Title': 'Orlivan Notifier', 'Status': 'Active', 'IconName': '',
                    'ItemIsMenu': False}, 'item %r' % shape)
    menu = desktop.menu()
    check(menu.Get('com.canonical.dbusmenu', 'Version', dbus_interface=PROPERTIES) == 3,
          'dbusmenu version')
    _, root = menu.GetLayout(0, -1, [], dbus_interface='com.canonical.dbusmenu')
    check(root[1] == {'children-display': 'submenu'} and
          [dict(c[1]) for c in root[2]] == [{'label': '_' + label, 'enabled': True,
                                             'visible': True} for label in MENU_LABELS],
          'layout %r' % (root,))
    # A host may send its events in groups; an unknown id is named back.
    event = (dbus.Int32(0, variant_level=1), dbus.UInt32(0))
    errors = menu.EventGroup([(dict(desktop.menu_entries())['Report Problem'], 'clicked') + event,
                              (42, 'clicked') + event], dbus_interface='com.canonical.dbusmenu')
    check(errors == [42], 'EventGroup errors %r' % errors)
    wait_for(lambda: desktop.recorded('opened') == ['https://www.orlivan.com/contact'],
             'the contact page')


def xembed_windows(notifier):
    return subprocess.run(['xdotool', 'search', '--onlyvisible', '--pid', str(notifier.pid)],
                          capture_output=True, text=True).stdout.split()


def xembed_icon_until_a_watcher_appears_late(new_desktop):
    # X11 with a legacy tray and no watcher: the XEmbed icon after the grace;
    # a watcher 10 s after the start takes it over (the item's menu as a
    # popup), and when the watcher is gone for good the XEmbed icon comes back.
    desktop = new_desktop(watcher=False)
    program = os.path.join(desktop.build, 'tests', 'linux', 'orlivan-test-xembed-tray')
    tray = subprocess.Popen([program], env=desktop.env, stdout=subprocess.PIPE, text=True)
    desktop.processes.append(tray)
    check(tray.stdout.readline().strip() == 'ready', 'the XEmbed tray')
    started = time.monotonic()
    notifier = desktop.start_notifier()
    check(tray.stdout.readline().startswith('docked '), 'the icon docked in the XEmbed tray')
    wait_for(lambda: xembed_windows(notifier), 'the XEmbed icon shown')
    check(time.monotonic() - started < 10, 'the watcher comes after the XEmbed icon')
    desktop.screenshot('tray-xembed.png')
    time.sleep(10 - (time.monotonic() - started))
    watcher = desktop.start_watcher()
    check(str(desktop.item_property('Title')) == 'Orlivan Notifier', 'the item registered')
    wait_for(lambda: not xembed_windows(notifier), 'the XEmbed icon gone')
    # An X11 host that draws no menu asks the item for its own.
    desktop.item().ContextMenu(40, 40, dbus_interface='org.kde.StatusNotifierItem')
    wait_for(lambda: xembed_windows(notifier), 'the menu')
    subprocess.run(['xdotool', 'key', 'Escape'], check=True, timeout=10)
    wait_for(lambda: not xembed_windows(notifier), 'the menu closed')
    watcher.terminate()
    watcher.wait(10)
    wait_for(lambda: xembed_windows(notifier), 'the XEmbed icon back', timeout=15)


def end_with_sigterm(desktop, notifier):
    name = desktop.item().bus_name
    notifier.send_signal(signal.SIGTERM)
    check(notifier.wait(10) == 0, 'the notifier ends with code 0')
    check(not os.path.exists(desktop.channel()), 'the socket is removed')
    check(not has_owner(name), 'the item is gone from the bus')


def sigterm_removes_icon_and_socket(new_desktop):
    desktop = new_desktop()
    end_with_sigterm(desktop, desktop.start_notifier())


def session_logout_ends_cleanly(new_desktop):
    desktop = new_desktop()
    program = os.path.join(desktop.build, 'tests', 'linux', 'orlivan-test-session-manager')
    if not os.path.exists(program):
        raise Skipped('the test session manager was not built (no libSM)')
    manager = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    desktop.processes.append(manager)
    said = []
    threading.Thread(target=lambda: [said.append(line.strip()) for line in manager.stdout],
                     daemon=True).start()
    address = wait_for(lambda: said, 'the session manager\'s address')[0]
    check(address.startswith('SESSION_MANAGER=local/'), address)
    desktop.env.update(SESSION_MANAGER=address.split('=', 1)[1],
                       ICEAUTHORITY=desktop.root + '/iceauthority')
    notifier = desktop.start_notifier()
    wait_for(lambda: len(said) > 1, 'the notifier to join the session')
    check(said[1].startswith('registered '), said[1])
    name = desktop.item().bus_name
    check('reply 1' in desktop.send('ack-only').stdout, 'a record answered')
    sender = desktop.send_async('driver-error', '--error-code', '7', '--timeout', '20000')
    wait_for(lambda: desktop.windows('Orlivan Driver Error'), 'the driver-error box')
    manager.stdin.write('logout\n')
    manager.stdin.flush()
    wait_for(lambda: notifier.poll() is not None, 'the notifier to end')
    check(notifier.returncode == 0, 'the notifier ends with code 0')
    with contextlib.suppress(Failure):  # the check below tells what came instead
        wait_for(lambda: len(said) >= 7, 'the session closed')
    # Saved without asking the user, and not to be started again by the
    # session: the desktop's autostart entry starts it at the next login.
    check(said[2:] == ['save-yourself', 'restart-hint 3', 'save-yourself-done success', 'die',
                       'closed'], 'the session manager saw %r' % said)
    out = sender.communicate(timeout=20)[0]
    check(sender.returncode == 4 and 'reply 1' not in out, 'no reply for the box: ' + out)
    check(not os.path.exists(desktop.channel()), 'the socket is removed')
    log = desktop.log()  # the worker's wait for a next record may be cut short after it
    check('ShowNotification 6\n' in log and log.endswith('\n'), 'the log\'s end: %r' % log)
    wait_for(lambda: not desktop.items() and not has_owner(name), 'the item gone')


def wayland_icon_notification_and_menu(new_desktop):
    # xdotool can't press a box on Wayland: the boxes are tested on X11.
    desktop = new_desktop(display='wayland')
    notifier = desktop.start_notifier()
    check(str(desktop.item_property('ToolTip')[2]) == 'Orlivan Filter Notifier', 'tool tip')
    check([label for label, _ in desktop.menu_entries()] == MENU_LABELS, 'menu')
    sent = desktop.send('https-site-blocked', '--detail', 'example.com')
    check('reply 1' in sent.stdout, sent.stdout + sent.stderr)
    check([n[:3] for n in desktop.notifications()] == [
        ('HTTPS Site Blocked', 'example.com was blocked by orlivan',
         'orlivan-notifier-information')],
        'notifications %r' % desktop.notifications())
    desktop.click_menu('Report Problem')
    wait_for(lambda: desktop.recorded('opened') == ['https://www.orlivan.com/contact'],
             'the contact page')
    end_with_sigterm(desktop, notifier)


def icon_drawn_in_panel(width=1280, height=40):
    """Whether the top strip of the screen, where the panel is, shows the
    icon's teal (the panel itself is grey)."""
    strip = subprocess.run(['import', '-window', 'root', '-crop', '%dx%d+0+0' % (width, height),
                            '-depth', '8', 'rgb:-'], capture_output=True, timeout=20).stdout
    return any(g > r + 60 and b > r + 60 for r, g, b in zip(*[iter(strip)] * 3))


def panel_tray_hosts_the_item(new_desktop):
    # xfce4-panel's tray: a real StatusNotifierItem host (and XEmbed tray).
    desktop = new_desktop(watcher='xfce4-panel')
    bus = dbus.SessionBus()
    owner = bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus') \
        .GetConnectionUnixProcessID(WATCHER, dbus_interface='org.freedesktop.DBus')
    with open('/proc/%d/cmdline' % owner) as cmdline:
        check('libsystray.so' in cmdline.read(), 'the watcher is the panel\'s tray plugin')
    check(bus.get_object(WATCHER, '/StatusNotifierWatcher').Get(
        WATCHER, 'IsStatusNotifierHostRegistered', dbus_interface=PROPERTIES), 'a host')
    notifier = desktop.start_notifier()
    check(str(desktop.item_property('ToolTip')[2]) == 'Orlivan Filter Notifier', 'tool tip')
    check([label for label, _ in desktop.menu_entries()] == MENU_LABELS, 'menu')
    wait_for(icon_drawn_in_panel, 'the icon drawn by the panel')
    desktop.screenshot('tray-xfce4-panel.png')
    # On the StatusNotifierItem path Qt shows no window of its own to embed.
    embedded = subprocess.run(['xdotool', 'search', '--onlyvisible', '--pid', str(notifier.pid)],
                              capture_output=True, text=True).stdout
    check(not embedded, 'an XEmbed icon window: ' + embedded)
    desktop.click_menu('Report Problem')
    wait_for(lambda: desktop.recorded('opened') == ['https://www.orlivan.com/contact'],
             'the contact page')
    end_with_sigterm(desktop, notifier)
    wait_for(lambda: not icon_drawn_in_panel(), 'the icon gone from the panel')


def display_gone_ends_cleanly(new_desktop):
    for display in ('x11', 'wayland'):
        desktop = new_desktop(display=display)
        notifier = desktop.start_notifier()
        name = desktop.item().bus_name
        check('reply 1' in desktop.send('server-down').stdout, display + ': a record served')
        desktop.stop_display()
        wait_for(lambda: notifier.poll() is not None, display + ': the notifier to end')
        check(notifier.returncode == 2, display + ': the display\'s exit code, not a failure\'s')
        check(not os.path.exists(desktop.channel()), display + ': the socket is removed')
        check(desktop.log().endswith('ShowNotification 4\n'), display + ': the log\'s end')
        wait_for(lambda: not desktop.items() and not has_owner(name), display + ': the item gone')
        desktop.start_display()  # the next session
        desktop.start_notifier()
        check('reply 1' in desktop.send('ack-only').stdout, display + ': the next start serves')
        desktop.close()  # its watcher and notification server leave the bus to the next


if __name__ == '__main__':
    main([item_shows_tip_icon_and_menu, activation_and_settings_start_the_settings_program,
          item_names_its_installed_icon_and_asks_for_attention,
          watcher_appearing_late_and_restarting_gets_the_icon,
          host_registering_after_its_watcher_gets_the_item,
          xembed_icon_until_a_watcher_appears_late, sigterm_removes_icon_and_socket,
          session_logout_ends_cleanly, wayland_icon_notification_and_menu,
          display_gone_ends_cleanly, panel_tray_hosts_the_item])
