"""The Linux notifier on a desktop whose services come and go: the tray
watcher taken over, the notification server restarted while a driver-error
box waits, then gone (the notice in the notifier's own window).
Usage: churn_scenarios.py BUILD_DIR [SCENARIO]"""

import glob
import os
import subprocess
import time

import dbus
import harness
from harness import HERE, NOTIFICATIONS, PYTHON, WATCHER, check, main, wait_for

harness.Desktop.weston_options = ['--use-pixman', '--debug']  # for weston-screenshooter


def owner(name):
    try:
        return str(dbus.SessionBus().get_name_owner(name))
    except dbus.DBusException:  # no owner
        return ''


def new_owner(desktop, name, template, end_old=False, start=True):
    """Ends `name`'s owner (or lets python-dbusmock take the name over) and
    starts another."""
    old = owner(name)
    if end_old:
        os.kill(dbus.SessionBus().get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
                .GetConnectionUnixProcessID(old, dbus_interface='org.freedesktop.DBus'), 15)
        wait_for(lambda: not owner(name), name + ' gone')
    if start:
        desktop._spawn([PYTHON, '-m', 'dbusmock', '--template', template])
        wait_for(lambda: owner(name) not in ('', old), 'a new owner of ' + name)


def restart_server(desktop, start=True):
    new_owner(desktop, NOTIFICATIONS, 'notification_daemon', end_old=True, start=start)


def box_notices(desktop):
    return [n[:3] for n in desktop.notifications() if n[3].get('urgency') == 2]


def desktop_churn(new_desktop):
    desktop = new_desktop(display='wayland')
    desktop.start_notifier()
    desktop.item()
    new_owner(desktop, WATCHER, HERE + '/status_notifier_watcher.py')
    wait_for(desktop.items, 'the item registered with the watcher\'s new owner')

    # The notifier's notice had id 1 from the first server; after a restart
    # another program has id 1, which the notifier's empty balloon leaves alone.
    check('reply 1' in desktop.send('https-site-blocked', '--detail', 'a.b').stdout, 'a notice')
    restart_server(desktop)
    server = dbus.SessionBus().get_object(NOTIFICATIONS, '/org/freedesktop/Notifications')
    check(server.Notify('other', 0, '', 'Other', 'text', [], {}, -1,
                        dbus_interface=NOTIFICATIONS) == 1, 'the other program\'s id')
    desktop.send('99')  # unknown: takes the notifier's shown notification down
    # A notice after it: a close sent before would be seen before it.
    check('reply 1' in desktop.send('server-down').stdout, 'a notice on the new server')
    wait_for(lambda: len(desktop.notifications()) == 2, 'the notice on the new server')
    check(desktop.closed_notifications() == [], 'closed %r' % desktop.closed_notifications())

    sender = desktop.send_async('driver-error', '--error-code', '-5')
    desktop.texts('Orlivan Driver Error')
    wait_for(lambda: box_notices(desktop), 'the box\'s notice')
    restart_server(desktop)
    check(wait_for(lambda: box_notices(desktop), 'the box\'s notice on the new server') == [
        ('Orlivan Driver Error', 'Orlivan driver failed! to load with error -5',
         'orlivan-notifier-error')], 'the notice again')
    desktop.press_button('Orlivan Driver Error', 'OK')
    check('reply 1' in sender.communicate(timeout=10)[0], 'the reply after the box')
    closed = wait_for(desktop.closed_notifications, 'the box\'s notice closed')
    check([int(c[0]) for c in closed] == [1], 'closed %r' % closed)

    restart_server(desktop, start=False)
    for record, title in (('server-down', 'Server Down'), ('no-hotspot', 'No Hotspot')):
        check('reply 1' in desktop.send(record).stdout, 'the reply without a server')
        labels = desktop.texts(title)[0]
        check(labels[0] == title and len(labels) == 2, 'the own window %r' % labels)
        if title == 'Server Down' and os.environ.get('ORLIVAN_TEST_LOGS'):
            subprocess.run(['weston-screenshooter'], env=desktop.env, cwd=desktop.root, timeout=20)
            for shot in glob.glob(desktop.root + '/wayland-screenshot*'):
                os.replace(shot, os.environ['ORLIVAN_TEST_LOGS'] + '/linux-own-notice-wayland.png')
    check(desktop.log().count('notices shown by the notifier itself') == 1, desktop.log())

    desktop.close()  # its watcher leaves the bus to the next
    desktop = new_desktop(notifications=None)  # X11
    desktop.start_notifier()
    check('reply 1' in desktop.send('server-down').stdout, 'the reply on X11')
    window = wait_for(lambda: desktop.windows('Server Down'), 'the own window on X11')[0]
    shape = dict(line.split('=') for line in subprocess.run(
        ['xdotool', 'getwindowgeometry', '--shell', window], capture_output=True,
        text=True).stdout.split())
    check(1200 < int(shape['X']) + int(shape['WIDTH']) <= 1280 and int(shape['Y']) < 80,
          'top right: %r' % shape)
    desktop.screenshot('linux-own-notice-x11.png')


# Writes role|name|description of each accessible that comes on screen.
LISTENER = '''
import sys, pyatspi
def seen(event):
    if event.detail1 == 1:
        with open(sys.argv[1], 'a') as f:
            f.write('%s|%s|%s\\n' % (event.source.getRoleName(), event.source.name,
                                      event.source.description))
pyatspi.Registry.registerEventListener(seen, 'object:state-changed:showing')
print('ready', flush=True)
pyatspi.Registry.start()
'''


def notices_at_once_stack_as_notifications(new_desktop):
    desktop = new_desktop(notifications=None)
    listener = subprocess.Popen([PYTHON, '-c', LISTENER, desktop.records + '/announced'],
                                env=desktop.env, stdout=subprocess.PIPE, text=True)
    desktop.processes.append(listener)
    check(listener.stdout.readline() == 'ready\n', 'the screen reader\'s listener')
    desktop.start_notifier()
    # Qt's bridge drops what is shown before it is on the accessibility bus.
    wait_for(desktop.accessible_app, 'the notifier on the accessibility bus')
    sent = desktop.send('server-down', 'no-hotspot', 'https-site-blocked', '--detail', 'a.b')
    check(sent.stdout.count('reply 1') == 3, sent.stdout)
    time.sleep(2)
    notices = [('Server Down', 'Orlivan Server is down. Try after some time'),
               ('No Hotspot', 'Orlivan cannot detect any hotspot. Make sure you are connected '
                'to one'), ('HTTPS Site Blocked', 'a.b was blocked by orlivan')]
    tops = []
    for title, _ in notices:
        window = desktop.windows(title)
        check(len(window) == 1, 'the notice "%s" shown' % title)
        kind = desktop.x11('xprop', '-id', window[0], '_NET_WM_WINDOW_TYPE')
        check('= _NET_WM_WINDOW_TYPE_NOTIFICATION' in kind, kind)
        tops.append(int(desktop.x11('xdotool', 'getwindowgeometry', '--shell', window[0])
                        .split('Y=')[1].split()[0]))
    check(tops[2] < tops[1] < tops[0], 'the newest nearest the corner: %r' % tops)

    heard = lambda: [line.split('|') for line in desktop.recorded('announced')
                     if line.startswith('notification|')]
    wait_for(lambda: len(heard()) >= 3, 'the notices announced')
    check(heard() == [['notification', t, b] for t, b in notices], 'announced: %r' % heard())


if __name__ == '__main__':
    main([desktop_churn, notices_at_once_stack_as_notifications])
