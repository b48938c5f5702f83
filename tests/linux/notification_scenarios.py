"""Records through the Linux notifier: what the notification server is sent,
the replies, the driver-error box, the channel's refusals, the program's own
start and end. Usage: notification_scenarios.py BUILD_DIR [SCENARIO]"""

import contextlib
import os
import signal
import subprocess
import time

import dbus

from harness import NOTIFICATIONS, PYTHON, check, main, second_user, wait_for

ERROR, INFO = 'orlivan-notifier-error', 'orlivan-notifier-information'
# Stand-in arguments, the notification (summary, body, icon) or None, the reply.
RECORDS = [
    (['https-site-blocked', '--detail', 'example.com'],
     ('HTTPS Site Blocked', 'example.com was blocked by orlivan', INFO), 'reply 1'),
    (['server-down'], ('Server Down', 'Orlivan Server is down. Try after some time', ERROR),
     'reply 1'),
    (['no-hotspot'], ('No Hotspot', 'Orlivan cannot detect any hotspot. Make sure you are '
                      'connected to one', ERROR), 'reply 1'),
    (['hotspot-detected'], ('Hotspot Detected', 'Orlivan has detected hotspot and is switching '
                            'to Hotspot mode', ERROR), 'reply 1'),
    (['normal-mode'], ('Normal mode', 'Orlivan is switching to Normal mode from Hotspot mode',
                       ERROR), 'reply 1'),
    (['conflicting-application', '--detail', 'PID - "{sleeper}"'],
     ('Conflicting Application Found', 'Orlivan is blocked by application with name "sleep". '
      'Please stop the application to help Orlivan work properly', ERROR), 'reply 1'),
    (['notifier-error'], ('Notifier Error', 'Error with Notifier Operation', ERROR),
     'no reply expected'),
    (['ack-only'], None, 'reply 1'),
    (['99'], None, 'no reply expected'),  # unknown: takes the shown notification down
]


def every_record_type(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    sleeper = subprocess.Popen(['sleep', '60'])
    sent = desktop.send(*[a.replace('{sleeper}', str(sleeper.pid))
                          for record, _, _ in RECORDS for a in record])
    sleeper.kill()
    lines = [line for line in sent.stdout.splitlines() if line.startswith('record ')]
    check(len(lines) == len(RECORDS), sent.stdout + sent.stderr)
    for line, (_, _, reply) in zip(lines, RECORDS):
        check(reply in line, 'expected %s in %r' % (reply, line))
    shown = desktop.notifications()
    check([n[:3] for n in shown] == [n for _, n, _ in RECORDS if n], 'notifications %r' % shown)
    check(all(n[3].get('desktop-entry') == 'com.orlivan.Notifier' and n[3].get('urgency') == 1
              and n[4] == 'Orlivan Notifier' and n[5] == 10000 and n[6] == 'orlivan-notifier'
              for n in shown), 'hints, app name, time-out, app icon: %r' % shown)
    check(len(desktop.closed_notifications()) == 1, 'the unknown record closes the last one')
    for code in ('1', '4', '7', '8', '9', '10', '-3', '2', '99'):
        check('ShowNotification %s\n' % code in desktop.log(), 'log line ' + code)


def notice_replaces_the_shown_one_of_its_kind(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    sites = lambda *names: [a for n in names for a in ('https-site-blocked', '--detail', n)]
    desktop.send(*sites('a.com', 'b.com', 'c.com'), 'server-down', *sites('d.com'))
    # Closed by the server (dismissed): the next of its kind is a new one. The
    # failed call is answered by the notifier's interface thread after the signal.
    bus = dbus.SessionBus()
    bus.get_object(NOTIFICATIONS, '/org/freedesktop/Notifications').CloseNotification(
        dbus.Int32(1), dbus_interface=NOTIFICATIONS)
    with contextlib.suppress(dbus.DBusException):
        bus.get_object('com.orlivan.Notifier', '/com/orlivan/Notifier').ActivateAction(
            'none', [], {}, dbus_interface='org.freedesktop.Application')
    desktop.send(*sites('e.com'))
    calls = [(str(a[4]).split(' ')[0], int(a[1])) for a in desktop._mock_calls('Notify')]
    check(calls == [('a.com', 0), ('b.com', 1), ('c.com', 1), ('Orlivan', 0), ('d.com', 1),
                    ('e.com', 0)], 'Notify (body, replaces_id): %r' % calls)


def driver_error_box_holds_the_reply(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    sender = desktop.send_async('driver-error', '--error-code', '-5')
    texts = desktop.texts('Orlivan Driver Error')
    check(texts == (['Orlivan driver failed! to load with error -5'], ['OK']), repr(texts))
    described = desktop.accessible_window('Orlivan Driver Error').description
    check(described == texts[0][0], 'the box described as %r' % described)
    desktop.click_menu('About')  # a dialog opened while the box waits
    desktop.texts('Orlivan Info')
    time.sleep(1.5)
    check(sender.poll() is None, 'the reply came before the box was closed')
    desktop.press('Orlivan Driver Error')
    check('reply 1' in sender.communicate(timeout=10)[0], 'the reply after the box')
    check(desktop.windows('Orlivan Info'), 'About stays open')
    check(desktop.notifications() == [], 'no notification for the first driver error')
    check('reply 1' in desktop.send('driver-error', '--error-code', '-5').stdout, 'second')
    check([n[:3] for n in desktop.notifications()] == [
        ('Orlivan Driver Error', 'Orlivan driver failed! to load with error -5', ERROR)],
        'the second of the run is a notification: %r' % desktop.notifications())


def stray_key_never_answers_the_driver_box(new_desktop):
    """Under a window manager with focus rules: the box appears on top while the
    person types elsewhere, and only a click answers it."""
    desktop = new_desktop()
    desktop.start_window_manager()
    typing = desktop.start_typing_window()
    desktop.start_notifier()
    sender = desktop.send_async('driver-error', '--error-code', '-5')
    wait_for(lambda: desktop.windows('Orlivan Driver Error'), 'the box')
    desktop.x11('xdotool', 'key', 'Return')
    wait_for(lambda: 'Return' in desktop.recorded('keys'), 'the key in the window typed in')
    time.sleep(3)
    check(sender.poll() is None and desktop.windows('Orlivan Driver Error'), 'a stray key answered')
    check(desktop.x11('xdotool', 'getactivewindow').strip() == typing, 'the box took the focus')
    desktop.click_button('Orlivan Driver Error', 'OK')
    check('reply 1' in sender.communicate(timeout=10)[0], 'the reply after the click')


def quit_with_a_box_open_gives_no_reply(new_desktop):
    desktop = new_desktop()
    notifier = desktop.start_notifier()
    sender = desktop.send_async('driver-error', '--error-code', '7', '--timeout', '20000')
    wait_for(lambda: desktop.windows('Orlivan Driver Error'), 'the driver-error box')
    notifier.send_signal(signal.SIGTERM)
    check(notifier.wait(10) == 0, 'the notifier ends with its box open')
    out = sender.communicate(timeout=20)[0]
    check(sender.returncode == 4 and 'reply 1' not in out, 'no reply for the closed box: ' + out)
    check(not os.path.exists(desktop.channel()), 'the socket is removed')


def another_users_client_is_refused(new_desktop):
    uid, gid = second_user()
    desktop = new_desktop()
    desktop.start_notifier()
    other = ['setpriv', '--reuid=%d' % uid, '--regid=%d' % gid, '--clear-groups']
    sent = desktop.send('--connect-wait', '300', 'ack-only', prefix=other)
    check(sent.returncode == 2, 'the private folder keeps the other user out: ' + sent.stderr)
    # Where the folders let it in, the notifier itself drops the connection.
    for path, mode in ((desktop.root, 0o711), (desktop.channels, 0o711),
                       (desktop.channel(), 0o666)):
        os.chmod(path, mode)
    for _ in range(2):
        sent = desktop.send('--connect-wait', '300', '--timeout', '3000', 'ack-only',
                            prefix=other)
        check(sent.returncode in (3, 4), 'the other user got an answer: ' + sent.stdout)
    log = desktop.log()
    check(log.count('Notification client refused: user %d is not the service' % uid) == 1, log)
    check('ShowNotification' not in log, 'a refused record was handled')
    check('reply 1' in desktop.send('ack-only').stdout, 'the user is still served')


def no_tray_and_no_notification_server_still_answers(new_desktop):
    desktop = new_desktop(watcher=False, notifications=None)
    desktop.start_notifier()
    started = time.monotonic()
    sent = desktop.send('server-down', 'https-site-blocked', '--detail', 'a.b', 'ack-only')
    check(sent.stdout.count('reply 1') == 3 and time.monotonic() - started < 10, sent.stdout)
    check(desktop.log().count('ShowNotification') == 3, desktop.log())


BUSY = 'Another instance of Orlivan Notifier is running or communication channel busy'


def second_instance_says_so_and_ends(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    second = desktop.start_notifier(wait=False)
    texts = desktop.texts('orlivan-notifier')
    check(texts == ([BUSY], ['OK']), 'the second instance shows %r' % (texts,))
    desktop.press('orlivan-notifier')
    check(second.wait(10) == 0, 'the second instance ends with code 0')
    check('reply 1' in desktop.send('ack-only').stdout, 'the first keeps its channel')
    # Without a display the message goes to standard error.
    env = {k: v for k, v in desktop.env.items() if k not in ('DISPLAY', 'QT_QPA_PLATFORM')}
    headless = subprocess.run([desktop.program], env=env, capture_output=True, text=True,
                              timeout=10)
    check(headless.returncode == 0 and BUSY in headless.stderr, headless.stderr)
    # Started by the bus for an activation, it ends without a box to press.
    activated = subprocess.run([desktop.program], env=dict(desktop.env, DBUS_STARTER_BUS_TYPE='session'),
                               capture_output=True, text=True, timeout=10)
    check(activated.returncode == 0 and BUSY in activated.stderr, activated.stderr)


def dunst_shows_a_notification(new_desktop):
    desktop = new_desktop(notifications='dunst')
    desktop.start_notifier()
    check('reply 1' in desktop.send('https-site-blocked', '--detail', 'example.com').stdout,
          'reply')
    wait_for(lambda: subprocess.run(['dunstctl', 'count', 'displayed'], capture_output=True,
                                    text=True, env=desktop.env).stdout.strip() == '1',
             'dunst to show the notification')
    desktop.screenshot('linux-dunst-notification.png')


def service_library_example_notifies_logged_on_users(new_desktop):
    """The service library's Linux example (docs/service-library.md), built as
    a service team builds it: logind (a mock on a system bus of the test's own)
    lists this user, and the example tells the user's notifier that
    example.com was blocked."""
    desktop = new_desktop()
    desktop.start_notifier()
    bus = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                           stdout=subprocess.PIPE, text=True)
    desktop.processes.append(bus)
    env = dict(desktop.env, DBUS_SYSTEM_BUS_ADDRESS=bus.stdout.readline().strip())
    desktop.processes.append(subprocess.Popen(
        [PYTHON, '-m', 'dbusmock', '--system', '--template', 'logind'], env=env,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    system = dbus.bus.BusConnection(env['DBUS_SYSTEM_BUS_ADDRESS'])
    wait_for(lambda: system.name_has_owner('org.freedesktop.login1'), 'logind')
    system.get_object('org.freedesktop.login1', '/org/freedesktop/login1').AddUser(
        os.getuid(), 'tester', True, dbus_interface='org.freedesktop.DBus.Mock')
    run = subprocess.run([os.path.join(desktop.build, 'servicelib', 'notify_users_example')],
                         env=env, capture_output=True, text=True, timeout=30)
    check(run.returncode == 0, 'the example: %d %s%s' % (run.returncode, run.stdout, run.stderr))
    shown = desktop.notifications()
    check([n[:3] for n in shown] == [RECORDS[0][1]], 'notifications %r' % shown)


if __name__ == '__main__':
    main([every_record_type, notice_replaces_the_shown_one_of_its_kind,
          driver_error_box_holds_the_reply, stray_key_never_answers_the_driver_box,
          quit_with_a_box_open_gives_no_reply, another_users_client_is_refused,
          no_tray_and_no_notification_server_still_answers, second_instance_says_so_and_ends,
          dunst_shows_a_notification, service_library_example_notifies_logged_on_users])
