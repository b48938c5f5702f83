"""The Linux notifier on a desktop of real components, for the scenario files.

Runs inside xvfb-run and dbus-run-session (see CMakeLists.txt here). Each
Desktop is one scenario's world: a fresh folder with the channel folder, the
state folder (the log), a configuration naming an install folder whose
settings program records its starts, an xdg-open on PATH that records what it
is asked to open; the notification server (python-dbusmock's
notification_daemon template, or dunst), the StatusNotifierWatcher template
of this folder, and orlivan-notifier itself. The stand-in plays the service.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = '/usr/bin/python3'  # Debian's, which has dbus and dbusmock
WATCHER = 'org.kde.StatusNotifierWatcher'
NOTIFICATIONS = 'org.freedesktop.Notifications'
MENU_LABELS = ['Settings', 'Check Update', 'Online Help', 'Report Problem', 'About']


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(probe, what, timeout=10.0):
    """Polls `probe` until it returns something true; that value, or a Failure."""
    end = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure('timed out waiting for ' + what)
        time.sleep(0.05)


def bus():
    return dbus.SessionBus()


def has_owner(name):
    return bool(bus().name_has_owner(name))


class Desktop:
    def __init__(self, build, watcher=True, notifications='mock'):
        self.build = build
        self.root = tempfile.mkdtemp(prefix='orlivan-linux-')
        self.channels = os.path.join(self.root, 'channels')
        self.install = os.path.join(self.root, 'install')
        self.records = os.path.join(self.root, 'records')
        os.makedirs(os.path.join(self.install, 'ui'))
        os.makedirs(self.records)
        bin_dir = os.path.join(self.root, 'bin')
        os.makedirs(bin_dir)
        self._script(os.path.join(self.install, 'ui', 'orlivan-ui'),
                     'pwd >> %s/settings-started\n' % self.records)
        self._script(os.path.join(bin_dir, 'xdg-open'),
                     'echo "$1" >> %s/opened\n' % self.records)
        with open(os.path.join(self.root, 'notifier.conf'), 'w') as conf:
            conf.write('# written by the test\nInstallPath=%s/\n' % self.install)
        self.env = dict(os.environ)
        self.env.update({
            'ORLIVAN_CHANNEL_DIR': self.channels,
            'ORLIVAN_CONFIG': os.path.join(self.root, 'notifier.conf'),
            'XDG_STATE_HOME': os.path.join(self.root, 'state'),
            'PATH': bin_dir + ':' + os.environ['PATH'],
            'QT_QPA_PLATFORM': 'xcb',
        })
        for name in ('DEFAULT_BROWSER', 'BROWSER', 'XDG_CURRENT_DESKTOP'):
            self.env.pop(name, None)
        self.processes = []
        self.notifier = None
        self.watcher = self.start_watcher() if watcher else None
        self.server = None
        if notifications == 'mock':
            self.server = self._spawn([PYTHON, '-m', 'dbusmock', '--template',
                                       'notification_daemon'])
            wait_for(lambda: has_owner(NOTIFICATIONS), 'the notification server')
        elif notifications == 'dunst':
            self.server = self._spawn(['dunst'])
            wait_for(lambda: has_owner(NOTIFICATIONS), 'dunst')

    def _script(self, path, body):
        with open(path, 'w') as f:
            f.write('#!/bin/sh\n' + body)
        os.chmod(path, 0o755)

    def _spawn(self, command, **kwargs):
        process = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    # ---- components ----------------------------------------------------

    def start_watcher(self):
        process = self._spawn([PYTHON, '-m', 'dbusmock', '--template',
                               os.path.join(HERE, 'status_notifier_watcher.py')])
        wait_for(lambda: has_owner(WATCHER), 'the StatusNotifierWatcher')
        return process

    def stop_process(self, process):
        process.terminate()
        process.wait(10)

    def start_notifier(self, wait=True):
        self.notifier = subprocess.Popen(
            [os.path.join(self.build, 'src', 'app_qt', 'orlivan-notifier')], env=self.env,
            cwd=self.root,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if wait:
            wait_for(lambda: os.path.exists(self.channel()), 'the notification channel')
        return self.notifier

    def channel(self):
        return os.path.join(self.channels, 'notification')

    def close(self):
        for process in [self.notifier] + self.processes:
            if process is not None and process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- the stand-in ----------------------------------------------------

    def tool(self):
        return os.path.join(self.build, 'tools', 'orlivan-service')

    def send(self, *args, prefix=(), timeout=60):
        """orlivan-service send ARGS; the finished process."""
        return subprocess.run(list(prefix) + [self.tool(), 'send', '--channel', self.channel()] +
                              list(args), env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def send_async(self, *args):
        return subprocess.Popen([self.tool(), 'send', '--channel', self.channel()] + list(args),
                                env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True)

    def serve(self, *args):
        log = os.path.join(self.root, 'serve.log')
        process = self._spawn([self.tool(), 'serve', '--log', log] + list(args))
        wait_for(lambda: os.path.exists(os.path.join(self.channels, 'command')),
                 'the command channel')
        return log

    # ---- what the user sees --------------------------------------------------

    def notifications(self):
        """The Notify calls the mock server received: (summary, body, icon, hints)."""
        mock = bus().get_object(NOTIFICATIONS, '/org/freedesktop/Notifications')
        calls = mock.GetMethodCalls('Notify', dbus_interface='org.freedesktop.DBus.Mock')
        return [(str(a[3]), str(a[4]), str(a[2]), dict(a[6]), str(a[0]), int(a[7]))
                for _, a in calls]

    def closed_notifications(self):
        mock = bus().get_object(NOTIFICATIONS, '/org/freedesktop/Notifications')
        return mock.GetMethodCalls('CloseNotification',
                                   dbus_interface='org.freedesktop.DBus.Mock')

    def items(self):
        watcher = bus().get_object(WATCHER, '/StatusNotifierWatcher')
        return [str(i) for i in watcher.Get(WATCHER, 'RegisteredStatusNotifierItems',
                                            dbus_interface='org.freedesktop.DBus.Properties')]

    def item(self):
        """The notifier's StatusNotifierItem proxy (the last one registered)."""
        name = wait_for(self.items, 'a registered tray item')[-1]
        return bus().get_object(name, '/StatusNotifierItem')

    def item_property(self, name):
        return self.item().Get('org.kde.StatusNotifierItem', name,
                               dbus_interface='org.freedesktop.DBus.Properties')

    def menu(self):
        item = self.item()
        path = self.item_property('Menu')
        return bus().get_object(item.bus_name, path)

    def menu_entries(self):
        """Label to id of the tray menu's entries, in order."""
        _, layout = self.menu().GetLayout(0, -1, [], dbus_interface='com.canonical.dbusmenu')
        entries = []
        for child in layout[2]:
            entries.append((str(child[1].get('label', '')).replace('&', ''), int(child[0])))
        return entries

    def click_menu(self, label):
        ids = dict(self.menu_entries())
        self.menu().Event(ids[label], 'clicked', dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                          dbus_interface='com.canonical.dbusmenu')

    def windows(self, title):
        found = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^%s$' % title],
                               capture_output=True, text=True)
        return found.stdout.split()

    def press(self, title, key='Return'):
        """Waits for the window `title`, then presses `key` in it, as the user would."""
        window = wait_for(lambda: self.windows(title), 'the window "%s"' % title)[0]
        subprocess.run(['xdotool', 'windowfocus', '--sync', window], check=False, timeout=10)
        subprocess.run(['xdotool', 'key', key], check=True, timeout=10)
        wait_for(lambda: not self.windows(title), 'the window "%s" to close' % title)

    def screenshot(self, path):
        subprocess.run(['import', '-window', 'root', path], check=False, timeout=20)

    def log(self):
        path = os.path.join(self.root, 'state', 'orlivan', 'OrlivanSysTray.log')
        try:
            with open(path) as f:
                return f.read()
        except OSError:
            return ''

    def recorded(self, name):
        try:
            with open(os.path.join(self.records, name)) as f:
                return f.read().split('\n')[:-1]
        except OSError:
            return []


def run(scenarios, build):
    """Runs each (name, function(desktop_factory)) and prints one line each."""
    failed = 0
    for name, scenario in scenarios:
        desktops = []

        def factory(**kwargs):
            desktop = Desktop(build, **kwargs)
            desktops.append(desktop)
            return desktop

        started = time.monotonic()
        try:
            scenario(factory)
            print('ok   %s (%.1f s)' % (name, time.monotonic() - started), flush=True)
        except Exception as error:  # a scenario's failure is reported, the next runs
            failed += 1
            print('FAIL %s: %s: %s' % (name, type(error).__name__, error), flush=True)
            for desktop in desktops:
                print('     log: ' + desktop.log().replace('\n', '\n          '))
        finally:
            for desktop in desktops:
                desktop.close()
    print('%d passed, %d failed' % (len(scenarios) - failed, failed))
    return 1 if failed else 0


def main(scenarios):
    """`--list` prints the scenarios' function names; `BUILD_DIR [NAME]` runs
    them all, or the one of that name."""
    if sys.argv[1:] == ['--list']:
        print(';'.join(function.__name__ for _, function in scenarios))
        return
    build = sys.argv[1]
    if len(sys.argv) > 2:
        scenarios = [s for s in scenarios if s[1].__name__ == sys.argv[2]]
        if not scenarios:
            sys.exit('no scenario ' + sys.argv[2])
    sys.exit(run(scenarios, build))
