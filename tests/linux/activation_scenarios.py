"""The Linux notifier as the desktop's application com.orlivan.Notifier:
org.freedesktop.Application called on the running notifier (as the overview,
a banner click or a desktop action do) and its desktop entry's Exec line run
while it runs, the focus tokens handed on, the notifier started by D-Bus
activation through the packaged service file, and the driver-error box kept
in sight on Wayland by a critical notification.
Usage: activation_scenarios.py BUILD_DIR [SCENARIO]"""

import os
import subprocess
import time

import dbus
from harness import HERE, Failure, check, has_owner, main, wait_for

APP_ID = 'com.orlivan.Notifier'
APP_PATH = '/com/orlivan/Notifier'
APPLICATION = 'org.freedesktop.Application'
SERVICE_FILE = os.path.join(HERE, '..', '..', 'packaging', 'linux', APP_ID + '.service')
NO_DATA = dbus.Dictionary({}, signature='sv')
NO_PARAMETER = dbus.Array([], signature='v')


def application(bus):
    return dbus.Interface(bus.get_object(APP_ID, APP_PATH), APPLICATION)


def owner_pid(bus):
    return int(bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
               .GetConnectionUnixProcessID(APP_ID, dbus_interface='org.freedesktop.DBus'))


def running_notifier_answers_activation(new_desktop):
    desktop = new_desktop()
    notifier = desktop.start_notifier()
    bus = dbus.SessionBus()
    wait_for(lambda: has_owner(APP_ID), 'the bus name')  # taken once the channel is served
    check(owner_pid(bus) == notifier.pid, 'the running notifier owns ' + APP_ID)
    app = application(bus)
    # A banner click or the overview: what a double click on the icon does,
    # the desktop's focus token handed on to the program started.
    app.Activate(dbus.Dictionary({'activation-token': 'token-1'}, signature='sv'))
    wait_for(lambda: desktop.recorded('settings-started') == [desktop.root], 'the settings program')
    check(desktop.recorded('settings-tokens') == ['token-1|'], 'the token handed on')
    app.Open(dbus.Array(['file:///tmp'], signature='s'), NO_DATA)
    wait_for(lambda: len(desktop.recorded('settings-started')) == 2, 'Open as Activate')
    # The desktop actions, by name; the call returns while About is open.
    app.ActivateAction('about', NO_PARAMETER, NO_DATA)
    texts = desktop.texts('Orlivan Info')
    check(texts[1] == ['OK'] and texts[0][-1].startswith('Orlivan Notifier\n'), repr(texts))
    app.ActivateAction('report-problem', NO_PARAMETER, NO_DATA)
    wait_for(lambda: desktop.recorded('opened') == ['https://www.orlivan.com/contact'],
             'the contact page while About is open')
    desktop.press('Orlivan Info')
    try:
        app.ActivateAction('About', NO_PARAMETER, NO_DATA)
        raise Failure('an unknown action was accepted')
    except dbus.DBusException as error:
        check(error.get_dbus_name() == 'org.freedesktop.DBus.Error.InvalidArgs', str(error))
    # The desktop entry's Exec line, as a launcher that ignores DBusActivatable
    # runs it, with its tokens: the running notifier is activated.
    launched = subprocess.run([desktop.program, '--activate'], cwd=desktop.root, timeout=30,
                              env=dict(desktop.env, XDG_ACTIVATION_TOKEN='token-2',
                                       DESKTOP_STARTUP_ID='launcher-1_TIME5'))
    check(launched.returncode == 0, 'the Exec line ends with %r' % launched.returncode)
    wait_for(lambda: desktop.recorded('settings-tokens')[-1:] == ['token-2|launcher-1_TIME5'],
             'the settings program with the launcher\'s tokens')
    check(desktop.notifier_pids() == [notifier.pid], 'no second notifier')
    check(not desktop.windows('orlivan-notifier'), 'no box of a second notifier')
    check(notifier.poll() is None, 'the notifier runs on')


BUS_CONFIG = '''<busconfig><type>session</type><listen>unix:tmpdir=%s</listen>
<servicedir>%s</servicedir><policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>'''


def dbus_activation_starts_the_notifier(new_desktop):
    desktop = new_desktop(watcher=False, notifications=None)
    # A session bus of its own whose only service is the package's, pointed
    # at the build's program; the bus starts it with the bus's environment.
    services = desktop.root + '/services'
    os.makedirs(services)
    with open(SERVICE_FILE) as packaged, open(services + '/' + APP_ID + '.service', 'w') as f:
        f.write(packaged.read().replace('/usr/bin/orlivan-notifier', desktop.program))
    with open(desktop.root + '/bus.conf', 'w') as f:
        f.write(BUS_CONFIG % (desktop.root, services))
    daemon = subprocess.Popen(['dbus-daemon', '--nofork', '--print-address=1',
                               '--config-file=' + desktop.root + '/bus.conf'],
                              env=desktop.env, cwd=desktop.root, stdout=subprocess.PIPE, text=True)
    desktop.processes.append(daemon)
    bus = dbus.bus.BusConnection(daemon.stdout.readline().strip())
    check(desktop.notifier_pids() == [], 'no notifier before the call')
    # The call starts the notifier, which answers it once it runs.
    application(bus).Activate(NO_DATA)
    wait_for(lambda: desktop.recorded('settings-started'), 'the settings program')
    pid = owner_pid(bus)
    try:
        check(desktop.notifier_pids() == [pid], 'one notifier, started by the bus')
        check('reply 1' in desktop.send('ack-only').stdout, 'the started notifier serves')
        application(bus).ActivateAction('settings', NO_PARAMETER, NO_DATA)
        wait_for(lambda: len(desktop.recorded('settings-started')) == 2, 'the settings action')
        check(desktop.notifier_pids() == [pid], 'the same notifier answers again')
    finally:
        os.kill(pid, 15)
    wait_for(lambda: not desktop.notifier_pids(), 'the notifier to end')
    check(not os.path.exists(desktop.channel()), 'the socket is removed')


def wayland_driver_error_box_has_a_critical_notice(new_desktop):
    desktop = new_desktop(display='wayland')
    desktop.start_notifier()
    sender = desktop.send_async('driver-error', '--error-code', '-5')
    text = 'Orlivan driver failed! to load with error -5'
    check(desktop.texts('Orlivan Driver Error') == ([text], ['OK']), 'the box')
    shown = wait_for(desktop.notifications, 'the notice beside the box')
    check(len(shown) == 1 and
          shown[0][:3] == ('Orlivan Driver Error', text, 'orlivan-notifier-error') and
          shown[0][3].get('urgency') == 2 and shown[0][5] == 0, 'a critical notice: %r' % shown)
    time.sleep(1)
    check(sender.poll() is None and not desktop.closed_notifications(),
          'the reply and the notice wait for the box')
    desktop.press_button('Orlivan Driver Error', 'OK')
    check('reply 1' in sender.communicate(timeout=10)[0], 'the reply after the box')
    closed = wait_for(desktop.closed_notifications, 'the notice closed')
    check([int(c[0]) for c in closed] == [1], 'the notice closed with the box: %r' % closed)


if __name__ == '__main__':
    main([running_notifier_answers_activation, dbus_activation_starts_the_notifier,
          wayland_driver_error_box_has_a_critical_notice])
