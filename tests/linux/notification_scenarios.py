"""Records through the Linux notifier: what the notification server is sent,
the replies, the driver-error box, the channel's refusals and the program's
own start and end. Usage: notification_scenarios.py BUILD_DIR"""

import os
import signal
import subprocess
import time

from harness import check, main, wait_for

SUFFIX = '. Please stop the application to help Orlivan work properly'

# One record each: stand-in arguments, then the notification (summary, body,
# icon) or None for no notification, then the stand-in's line for the reply.
RECORDS = [
    (['https-site-blocked', '--detail', 'example.com'],
     ('HTTPS Site Blocked', 'example.com was blocked by orlivan', 'dialog-information'), 'reply 1'),
    (['server-down'], ('Server Down', 'Orlivan Server is down. Try after some time',
                       'dialog-error'), 'reply 1'),
    (['no-hotspot'], ('No Hotspot', 'Orlivan cannot detect any hotspot. Make sure you are '
                      'connected to one', 'dialog-error'), 'reply 1'),
    (['hotspot-detected'], ('Hotspot Detected', 'Orlivan has detected hotspot and is switching '
                            'to Hotspot mode', 'dialog-error'), 'reply 1'),
    (['normal-mode'], ('Normal mode', 'Orlivan is switching to Normal mode from Hotspot mode',
                       'dialog-error'), 'reply 1'),
    (['conflicting-application', '--detail', 'PID - "{sleeper}"'],
     ('Conflicting Application Found',
      'Orlivan is blocked by application with name "sleep"' + SUFFIX, 'dialog-error'),
     'reply 1'),
    (['notifier-error'], ('Notifier Error', 'Error with Notifier Operation', 'dialog-error'),
     'no reply expected'),
    (['ack-only'], None, 'reply 1'),
    (['99'], None, 'no reply expected'),  # unknown: takes the shown notification down
]


def every_record_type(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    sleeper = subprocess.Popen(['sleep', '60'])
    try:
        args = []
        for record, _, _ in RECORDS:
            args += [a.replace('{sleeper}', str(sleeper.pid)) for a in record]
        sent = desktop.send(*args)
    finally:
        sleeper.kill()
        sleeper.wait()
    check(sent.returncode == 0, 'send: ' + sent.stdout + sent.stderr)
    lines = [l for l in sent.stdout.split('\n') if l.startswith('record ')]
    check(len(lines) == len(RECORDS), sent.stdout)
    for line, (_, _, reply) in zip(lines, RECORDS):
        check(reply in line, 'expected %s in %r' % (reply, line))
    expected = [n for _, n, _ in RECORDS if n is not None]
    shown = [(s, b, i) for s, b, i, _, _, _ in desktop.notifications()]
    check(shown == expected, 'notifications %r' % shown)
    for _, _, _, hints, app, timeout in desktop.notifications():
        check(hints.get('desktop-entry') == 'orlivan-notifier' and app == 'Orlivan Notifier' and
              timeout == 10000, 'hints %r app %r timeout %r' % (hints, app, timeout))
    check(len(desktop.closed_notifications()) == 1, 'the unknown record closes the last one')
    log = desktop.log()
    for code in ('1', '4', '7', '8', '9', '10', '-3', '2', '99'):
        check('COrlivanSysTrayDlg::ShowNotification %s\n' % code in log, 'log line ' + code)


def driver_error_box_holds_the_reply(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    sender = desktop.send_async('driver-error', '--error-code', '-5')
    wait_for(lambda: desktop.windows('Orlivan Driver Error'), 'the driver-error box')
    time.sleep(1.5)
    check(sender.poll() is None, 'the reply came before the box was closed')
    desktop.press('Orlivan Driver Error')
    out, _ = sender.communicate(timeout=10)
    check(sender.returncode == 0 and 'reply 1' in out, out)
    check(desktop.notifications() == [], 'no notification for the first driver error')
    # The second of the run is a notification.
    sent = desktop.send('driver-error', '--error-code', '-5')
    check('reply 1' in sent.stdout, sent.stdout)
    check([n[:3] for n in desktop.notifications()] ==
          [('Orlivan Driver Error', 'Orlivan driver failed! to load with error -5',
            'dialog-error')], repr(desktop.notifications()))


def quit_with_a_box_open_gives_no_reply(new_desktop):
    desktop = new_desktop()
    notifier = desktop.start_notifier()
    sender = desktop.send_async('driver-error', '--error-code', '7', '--timeout', '20000')
    wait_for(lambda: desktop.windows('Orlivan Driver Error'), 'the driver-error box')
    notifier.send_signal(signal.SIGTERM)
    check(notifier.wait(10) == 0, 'the notifier ends with its box open')
    out, _ = sender.communicate(timeout=20)
    check(sender.returncode == 4 and 'reply 1' not in out, 'no reply for the closed box: ' + out)
    check(not desktop.windows('Orlivan Driver Error'), 'the box is gone')
    check(not os.path.exists(desktop.channel()), 'the socket is removed')


def another_users_client_is_refused(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    nobody = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
    sent = desktop.send('--connect-wait', '300', 'ack-only', prefix=nobody)
    check(sent.returncode == 2, 'the private folder keeps nobody out: %d %s' %
          (sent.returncode, sent.stderr))
    # Even where the folder lets it in, the notifier drops the connection.
    os.chmod(desktop.root, 0o711)
    os.chmod(desktop.channels, 0o711)
    os.chmod(desktop.channel(), 0o666)
    for _ in range(2):
        sent = desktop.send('--connect-wait', '300', '--timeout', '3000', 'ack-only',
                            prefix=nobody)
        check(sent.returncode in (3, 4) and 'reply' not in sent.stdout.replace('no reply', ''),
              'nobody got an answer: %d %s' % (sent.returncode, sent.stdout))
    log = desktop.log()
    check(log.count('Notification client refused: user 65534 is not the service') == 1, log)
    check('ShowNotification' not in log, 'a refused record was handled')
    sent = desktop.send('ack-only')
    check('reply 1' in sent.stdout, 'the user is still served: ' + sent.stdout)


def without_tray_or_notification_server_records_are_answered(new_desktop):
    desktop = new_desktop(watcher=False, notifications=None)
    desktop.start_notifier()
    started = time.monotonic()
    sent = desktop.send('server-down', 'https-site-blocked', '--detail', 'a.b', 'ack-only')
    check(sent.returncode == 0 and sent.stdout.count('reply 1') == 3, sent.stdout)
    check(time.monotonic() - started < 10, 'the records took too long')
    check(desktop.log().count('ShowNotification') == 3, desktop.log())


def second_instance_says_so_and_ends(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    second = desktop.start_notifier(wait=False)
    desktop.press('orlivan-notifier')
    check(second.wait(10) == 0, 'the second instance ends with code 0')
    sent = desktop.send('ack-only')
    check('reply 1' in sent.stdout, 'the first keeps its channel: ' + sent.stdout)
    # Without a display the message goes to standard error.
    env = dict(desktop.env)
    for name in ('DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM'):
        env.pop(name, None)
    headless = subprocess.run([desktop.notifier.args[0]], env=env, capture_output=True,
                              text=True, timeout=10)
    check(headless.returncode == 0 and 'Another instance of Orlivan Notifier is running or '
          'communication channel busy' in headless.stderr, headless.stderr)


def folder_open_to_others_is_refused(new_desktop):
    desktop = new_desktop()
    os.makedirs(desktop.channels)
    os.chmod(desktop.channels, 0o755)
    env = dict(desktop.env)
    env.pop('DISPLAY', None)
    env.pop('QT_QPA_PLATFORM', None)
    result = subprocess.run([os.path.join(desktop.build, 'src', 'app_qt', 'orlivan-notifier')],
                            env=env, capture_output=True, text=True, timeout=10)
    check(result.returncode == 0 and 'is open to other users' in result.stderr, result.stderr)
    check(not os.path.exists(desktop.channel()), 'no channel in an open folder')


def dunst_shows_a_notification(new_desktop):
    desktop = new_desktop(notifications='dunst')
    desktop.start_notifier()
    sent = desktop.send('https-site-blocked', '--detail', 'example.com')
    check('reply 1' in sent.stdout, sent.stdout)
    history = wait_for(lambda: subprocess.run(['dunstctl', 'history'], capture_output=True,
                                              text=True, env=desktop.env).stdout.count(
                                                  'example.com was blocked by orlivan') or
                       subprocess.run(['dunstctl', 'count', 'displayed'], capture_output=True,
                                      text=True, env=desktop.env).stdout.strip() == '1',
                       'dunst to show the notification')
    check(history, 'dunst shows it')
    logs = os.environ.get('ORLIVAN_TEST_LOGS')
    if logs:
        os.makedirs(logs, exist_ok=True)
        desktop.screenshot(os.path.join(logs, 'linux-dunst-notification.png'))


if __name__ == '__main__':
    main([
        ('every record type: notification and reply', every_record_type),
        ('driver-error box holds the reply until closed', driver_error_box_holds_the_reply),
        ('quit with a box open gives no reply', quit_with_a_box_open_gives_no_reply),
        ('another user\'s client is refused and logged once', another_users_client_is_refused),
        ('no tray and no notification server: still answered',
         without_tray_or_notification_server_records_are_answered),
        ('second instance: message, exit 0', second_instance_says_so_and_ends),
        ('channel folder open to others: refused', folder_open_to_others_is_refused),
        ('dunst shows a notification', dunst_shows_a_notification),
    ])
