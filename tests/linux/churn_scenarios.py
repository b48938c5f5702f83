"""The Linux notifier on a desktop whose services come and go: the tray
watcher taken over by a new owner, the notification server restarted while a
driver-error box waits, then gone (the notice in the notifier's own window).
Usage: churn_scenarios.py BUILD_DIR [SCENARIO]"""

import os
import signal
import subprocess

import dbus
import harness
from harness import HERE, NOTIFICATIONS, PYTHON, WATCHER, check, main, wait_for

# weston draws into memory and lets its screenshooter in.
harness.Desktop.weston_options = ['--use-pixman', '--debug']
NOTIFIED_BY_NOTIFIER = 'Notification server unavailable: notices shown by the notifier itself'


def owner(name):
    try:
        return str(dbus.SessionBus().get_name_owner(name))
    except dbus.DBusException:  # no owner
        return ''


def take_over(desktop, name, template):
    """A new process takes `name` from its owner (python-dbusmock replaces)."""
    before = owner(name)
    desktop._spawn([PYTHON, '-m', 'dbusmock', '--template', template])
    wait_for(lambda: owner(name) not in ('', before), 'a new owner of ' + name)


def stop_server():
    bus = dbus.SessionBus()
    pid = bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus').GetConnectionUnixProcessID(
        NOTIFICATIONS, dbus_interface='org.freedesktop.DBus')
    os.kill(pid, signal.SIGTERM)
    wait_for(lambda: not owner(NOTIFICATIONS), 'the notification server gone')


def start_server(desktop):
    desktop._spawn([PYTHON, '-m', 'dbusmock', '--template', 'notification_daemon'])
    wait_for(lambda: owner(NOTIFICATIONS), 'a new notification server')


def box_notices(desktop):
    return [n for n in desktop.notifications() if n[3].get('urgency') == 2]


def wayland_screenshot(desktop, name):
    logs = os.environ.get('ORLIVAN_TEST_LOGS')
    if logs:
        os.makedirs(logs, exist_ok=True)
        subprocess.run(['weston-screenshooter'], env=desktop.env, cwd=desktop.root, timeout=20)
        shot = [f for f in os.listdir(desktop.root) if f.startswith('wayland-screenshot')]
        check(len(shot) == 1, 'a screenshot of weston: %r' % shot)
        os.replace(os.path.join(desktop.root, shot[0]), os.path.join(logs, name))


def desktop_churn(new_desktop):
    desktop = new_desktop(display='wayland')
    desktop.start_notifier()
    desktop.item()
    take_over(desktop, WATCHER, HERE + '/status_notifier_watcher.py')
    wait_for(desktop.items, 'the item registered with the watcher\'s new owner')

    # The notifier's notice had id 1 from the first server; after a restart
    # another program has id 1, which the notifier's empty balloon leaves alone.
    check('reply 1' in desktop.send('https-site-blocked', '--detail', 'a.b').stdout, 'a notice')
    stop_server()
    start_server(desktop)
    server = dbus.SessionBus().get_object(NOTIFICATIONS, '/org/freedesktop/Notifications')
    check(server.Notify('other', 0, '', 'Other', 'another program', [], {}, -1,
                        dbus_interface=NOTIFICATIONS) == 1, 'the other program\'s id')
    desktop.send('99')  # unknown: takes the notifier's shown notification down
    # A notice after it: a close sent before would be seen before it.
    check('reply 1' in desktop.send('server-down').stdout, 'a notice on the new server')
    wait_for(lambda: len(desktop.notifications()) == 2, 'the notice on the new server')
    check(desktop.closed_notifications() == [], 'closed %r' % desktop.closed_notifications())

    # The box waits while the server restarts: its notice on the new one too.
    sender = desktop.send_async('driver-error', '--error-code', '-5')
    desktop.texts('Orlivan Driver Error')
    wait_for(lambda: box_notices(desktop), 'the box\'s notice')
    stop_server()
    start_server(desktop)
    shown = wait_for(lambda: box_notices(desktop), 'the box\'s notice on the new server')
    check([n[:3] for n in shown] == [('Orlivan Driver Error',
                                      'Orlivan driver failed! to load with error -5',
                                      'orlivan-notifier-error')], 'notice %r' % shown)
    desktop.press_button('Orlivan Driver Error', 'OK')
    check('reply 1' in sender.communicate(timeout=10)[0], 'the reply after the box')
    closed = wait_for(desktop.closed_notifications, 'the box\'s notice closed')
    check([int(c[0]) for c in closed] == [1], 'closed %r' % closed)

    # No server: the notices in the notifier's own window, one line in the log.
    stop_server()
    check('reply 1' in desktop.send('server-down').stdout, 'the reply without a server')
    labels, _ = desktop.texts('Server Down')
    check(labels == ['Server Down', 'Orlivan Server is down. Try after some time'], repr(labels))
    wayland_screenshot(desktop, 'linux-own-notice-wayland.png')
    check('reply 1' in desktop.send('no-hotspot').stdout, 'a second notice')
    desktop.texts('No Hotspot')
    check(desktop.log().count(NOTIFIED_BY_NOTIFIER) == 1, desktop.log())

    # On X11 at the screen's top right.
    desktop.close()  # its watcher leaves the bus to the next
    desktop = new_desktop(notifications=None)
    desktop.start_notifier()
    check('reply 1' in desktop.send('server-down').stdout, 'the reply on X11')
    window = wait_for(lambda: desktop.windows('Server Down'), 'the own window on X11')[0]
    geometry = dict(line.split('=') for line in subprocess.run(
        ['xdotool', 'getwindowgeometry', '--shell', window], capture_output=True,
        text=True).stdout.split())
    right = int(geometry['X']) + int(geometry['WIDTH'])
    check(1200 < right <= 1280 and int(geometry['Y']) < 80, 'placed at %r' % geometry)
    desktop.screenshot('linux-own-notice-x11.png')


if __name__ == '__main__':
    main([desktop_churn])
