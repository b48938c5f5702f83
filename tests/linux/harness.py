"""The Linux notifier on a desktop of real components, for the scenario files.

Runs inside xvfb-run and dbus-run-session (CMakeLists.txt here). A Desktop is
one scenario's world: a fresh folder with the channel folder, the log, a
configuration naming an install folder whose settings program records its
starts, an xdg-open on PATH that records what it opens; the notification
server (python-dbusmock's notification_daemon, or dunst), our
StatusNotifierWatcher template (or xfce4-panel's tray, a real host),
orlivan-notifier, and the stand-in. The
notifier runs on xvfb-run's display, or on a display of the scenario's own
that it can take away: an Xvfb, or weston's headless Wayland compositor. Qt's
widgets are exported on the accessibility bus (AT-SPI, started by the session
bus on first use), where the texts of boxes and dialogs are read as a screen
reader reads them.
"""

import contextlib
import glob
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

import dbus
import pyatspi
from gi.repository import GLib

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = '/usr/bin/python3'  # Debian's, with dbus and dbusmock
WATCHER = 'org.kde.StatusNotifierWatcher'
NOTIFICATIONS = 'org.freedesktop.Notifications'
PROPERTIES = 'org.freedesktop.DBus.Properties'
MENU_LABELS = ['Settings', 'Check Update', 'Online Help', 'Report Problem', 'About']


class Failure(Exception):
    pass


class Skipped(Exception):
    pass


def second_user():
    """(uid, gid) of nobody, as whom a cross-user scenario acts. Needs root:
    skipped without it, a failure under CI (CI=true), where it must run."""
    if os.geteuid() != 0:
        if os.environ.get('CI') == 'true':
            raise Failure('security scenario not run under CI: not root')
        raise Skipped('needs root to act as a second user')
    entry = pwd.getpwnam('nobody')
    return entry.pw_uid, entry.pw_gid


def shown(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def descendants(accessible):
    """Every accessible below `accessible`, depth first in the widgets' order."""
    for child in filter(None, accessible):
        yield child
        yield from descendants(child)


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(probe, what, timeout=10.0):
    """Polls `probe` until it gives something true, and returns that."""
    end = time.monotonic() + timeout
    while not (value := probe()):
        if time.monotonic() > end:
            raise Failure('timed out waiting for ' + what)
        time.sleep(0.05)
    return value


def has_owner(name):
    return bool(dbus.SessionBus().name_has_owner(name))


class Desktop:
    weston_options = []  # more of weston's options, for a scenario that needs them

    def __init__(self, build, watcher=True, notifications='mock', display=None):
        self.build = build
        self.root = tempfile.mkdtemp(prefix='orlivan-linux-')
        self.channels = self.root + '/channels'
        self.install = self.root + '/install'
        self.records = self.root + '/records'
        for folder in (self.install + '/ui', self.records, self.root + '/bin'):
            os.makedirs(folder)
        self._script(self.install + '/ui/orlivan-ui', 'pwd >> %s/settings-started' % self.records)
        # ... and the focus tokens it was given, "XDG_ACTIVATION_TOKEN|DESKTOP_STARTUP_ID".
        with open(self.install + '/ui/orlivan-ui', 'a') as f:
            f.write('echo "$XDG_ACTIVATION_TOKEN|$DESKTOP_STARTUP_ID" >> %s/settings-tokens\n'
                    % self.records)
        self._script(self.root + '/bin/xdg-open', 'echo "$1" >> %s/opened' % self.records)
        with open(self.root + '/notifier.conf', 'w') as conf:
            conf.write('# written by the test\nInstallPath=%s/\n' % self.install)
        self.program = os.path.join(build, 'src', 'app_qt', 'orlivan-notifier')
        # Run from a desktop, the notifier stays out of that desktop's session.
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ('DEFAULT_BROWSER', 'BROWSER', 'XDG_CURRENT_DESKTOP',
                                 'SESSION_MANAGER', 'LANGUAGE', 'LC_ALL', 'LC_MESSAGES',
                                 'ORLIVAN_LANG')}
        # English whatever the caller's locale; a scenario may set another.
        self.env.update(LANG='C.UTF-8')
        self.env.update(ORLIVAN_CHANNEL_DIR=self.channels, QT_QPA_PLATFORM='xcb',
                        ORLIVAN_CONFIG=self.root + '/notifier.conf',
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1',
                        XDG_STATE_HOME=self.root + '/state',
                        PATH=self.root + '/bin:' + os.environ['PATH'])
        # Under the sanitizer builds (presets native, native-tsan) the
        # programs write their reports here; a scenario that leaves one fails.
        for name in ('ASAN_OPTIONS', 'UBSAN_OPTIONS', 'TSAN_OPTIONS'):
            self.env[name] = ':'.join(filter(None, [os.environ.get(name),
                                                    'log_path=%s/sanitizer' % self.root]))
        self.env['LSAN_OPTIONS'] = ':'.join(filter(None, [os.environ.get('LSAN_OPTIONS'),
                                                         'suppressions=%s/lsan.supp' % HERE,
                                                         'print_suppressions=0']))
        self.env['TSAN_OPTIONS'] += ':suppressions=%s/tsan.supp' % HERE
        self.sanitizer_reports = []
        self.processes = []
        self.notifier = None
        self.display = display  # None: xvfb-run's; 'x11' or 'wayland': the scenario's own
        self.display_server = None
        if display:
            self.start_display()
        if watcher == 'xfce4-panel':
            self.start_panel()
        elif watcher:
            self.start_watcher()
        if notifications:
            self._spawn(['dunst'] if notifications == 'dunst' else
                        [PYTHON, '-m', 'dbusmock', '--template', 'notification_daemon'])
            wait_for(lambda: has_owner(NOTIFICATIONS), 'the notification server')

    def _script(self, path, line):
        with open(path, 'w') as f:
            f.write('#!/bin/sh\n%s\n' % line)
        os.chmod(path, 0o755)

    def _spawn(self, command, **env):
        process = subprocess.Popen(command, env=dict(self.env, **env), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def start_display(self):
        """Starts the scenario's own display server; the notifier gets only it."""
        if self.display == 'wayland':
            runtime = self.root + '/runtime'
            os.makedirs(runtime, mode=0o700, exist_ok=True)
            self.env.pop('DISPLAY', None)
            self.env.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY='orlivan-wayland',
                            QT_QPA_PLATFORM='wayland')
            self.display_server = self._spawn(
                ['weston', '--backend=headless-backend.so', '--socket=orlivan-wayland',
                 '--idle-time=0', '--no-config', '--log=%s/weston.log' % self.root] +
                self.weston_options)
            wait_for(lambda: os.path.exists(runtime + '/orlivan-wayland'), 'weston')
            return
        # Xvfb picks a free display and writes its number to the pipe.
        read, write = os.pipe()
        self.display_server = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write), '-screen', '0', '1280x800x24', '-nolisten', 'tcp'],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(self.display_server)
        os.close(write)
        with os.fdopen(read) as number:
            self.env['DISPLAY'] = ':' + wait_for(number.readline, 'the Xvfb display').strip()
        self.env.pop('XAUTHORITY', None)

    def stop_display(self):
        """The display server goes away, as at the end of a session."""
        self.display_server.terminate()
        self.display_server.wait(10)

    def start_watcher(self, host_delay=None):
        """Our watcher; with `host_delay` its host registers that many seconds
        after it."""
        parameters = ['-p', '{"host_delay": %s}' % host_delay] if host_delay else []
        process = self._spawn([PYTHON, '-m', 'dbusmock', '--template',
                               HERE + '/status_notifier_watcher.py'] + parameters)
        wait_for(lambda: has_owner(WATCHER), 'the StatusNotifierWatcher')
        return process

    def start_panel(self):
        """xfce4-panel with only its tray, which owns the watcher's name, hosts
        the items and draws their icons. Its settings daemon, started by the
        bus, reads xfce4-panel.xml here from a private XDG_CONFIG_HOME."""
        config = self.root + '/config'
        os.makedirs(config + '/xfce4/xfconf/xfce-perchannel-xml')
        shutil.copy(HERE + '/xfce4-panel.xml', config + '/xfce4/xfconf/xfce-perchannel-xml')
        dbus.SessionBus().get_object('org.freedesktop.DBus', '/org/freedesktop/DBus') \
            .UpdateActivationEnvironment({'XDG_CONFIG_HOME': config},
                                         dbus_interface='org.freedesktop.DBus')
        self._spawn(['xfce4-panel', '--disable-wm-check'], XDG_CONFIG_HOME=config)
        wait_for(lambda: has_owner(WATCHER), 'the panel\'s StatusNotifierWatcher', 30)

    def start_window_manager(self):
        """mutter as the X11 window manager, with its focus rules."""
        self._spawn(['mutter', '--x11', '--replace', '--sm-disable'])
        wait_for(lambda: '_NET_SUPPORTING_WM_CHECK(WINDOW)' in self.x11(
            'xprop', '-root', '_NET_SUPPORTING_WM_CHECK'), 'mutter', 30)

    def start_typing_window(self):
        """A window of another program, focused, that records the keys typed
        into it in records/keys."""
        script = self.root + '/typing.tcl'
        with open(script, 'w') as f:
            f.write('wm title . Typing\nentry .e\npack .e\nfocus .e\n'
                    'bind .e <Key> {set f [open %s/keys a]; puts $f %%K; close $f}\n'
                    % self.records)
        self._spawn(['wish', script])
        window = wait_for(lambda: self.windows('Typing'), 'the typing window')[0]
        self.x11('xdotool', 'windowactivate', '--sync', window)
        return window

    def x11(self, *command):
        return subprocess.run(command, env=self.env, capture_output=True, text=True,
                              timeout=20).stdout

    def start_notifier(self, wait=True, env=None):
        self.notifier = subprocess.Popen([self.program], env=env or self.env, cwd=self.root,
                                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if wait:
            wait_for(lambda: os.path.exists(self.channel()), 'the notification channel')
        return self.notifier

    def channel(self):
        return self.channels + '/notification'

    def close(self):
        # The notifier ends as at logout, so that what a sanitizer checks at
        # the end (leaks) is checked too.
        if self.notifier is not None and self.notifier.poll() is None:
            self.notifier.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.notifier.wait(10)
        for process in [self.notifier] + self.processes:
            if process is not None and process.poll() is None:
                process.kill()
                process.wait()
        for report in sorted(glob.glob(self.root + '/sanitizer.*')):
            with open(report, errors='replace') as f:
                self.sanitizer_reports.append(f.read())
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- the stand-in ----------------------------------------------------

    def _tool(self, job, args):
        return [os.path.join(self.build, 'tools', 'orlivan-service-standin'), job] + list(args)

    def send(self, *args, prefix=()):
        """orlivan-service-standin send ARGS to this notifier; the finished process."""
        return subprocess.run(list(prefix) + self._tool('send', ['--channel', self.channel()] +
                                                        list(args)),
                              env=self.env, capture_output=True, text=True, timeout=60)

    def send_async(self, *args):
        return subprocess.Popen(self._tool('send', ['--channel', self.channel()] + list(args)),
                                env=self.env, stdout=subprocess.PIPE, text=True)

    def serve(self, *args):
        """orlivan-service-standin serve ARGS on the command channel; its log file."""
        log = self.root + '/serve.log'
        self._spawn(self._tool('serve', ['--log', log] + list(args)))
        wait_for(lambda: os.path.exists(self.channels + '/command'), 'the command channel')
        return log

    # ---- what the user sees --------------------------------------------------

    def _mock_calls(self, method):
        mock = dbus.SessionBus().get_object(NOTIFICATIONS, '/org/freedesktop/Notifications')
        return [args for _, args in
                mock.GetMethodCalls(method, dbus_interface='org.freedesktop.DBus.Mock')]

    def notifications(self):
        """Notify calls: (summary, body, the kind's icon (the image-path hint),
        hints, app name, time-out, app icon)."""
        return [(str(a[3]), str(a[4]), str(a[6].get('image-path', '')), dict(a[6]), str(a[0]),
                 int(a[7]), str(a[2])) for a in self._mock_calls('Notify')]

    def closed_notifications(self):
        return self._mock_calls('CloseNotification')

    def items(self):
        watcher = dbus.SessionBus().get_object(WATCHER, '/StatusNotifierWatcher')
        return list(watcher.Get(WATCHER, 'RegisteredStatusNotifierItems',
                                dbus_interface=PROPERTIES))

    def item(self):
        # Our watcher keeps the service name the item gives; a panel's keeps
        # "service/path".
        name, _, path = str(wait_for(self.items, 'a registered tray item')[-1]).partition('/')
        return dbus.SessionBus().get_object(name, '/' + (path or 'StatusNotifierItem'))

    def item_property(self, name):
        return self.item().Get('org.kde.StatusNotifierItem', name, dbus_interface=PROPERTIES)

    def menu(self):
        return dbus.SessionBus().get_object(self.item().bus_name, self.item_property('Menu'))

    def menu_entries(self):
        """(label, id) of the tray menu's entries, in order; the labels as the
        menu shows them, without the "_" that marks an access key."""
        _, layout = self.menu().GetLayout(0, -1, [], dbus_interface='com.canonical.dbusmenu')
        return [(re.sub('_(.)', r'\1', str(c[1].get('label', ''))), int(c[0]))
                for c in layout[2]]

    def click_menu(self, label):
        # Qt answers the event before it runs the entry's command (which may
        # open a box that waits for the user).
        self.menu().Event(dict(self.menu_entries())[label], 'clicked',
                          dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                          dbus_interface='com.canonical.dbusmenu')

    def notifier_pids(self):
        """The processes running this build's notifier, however they were started."""
        found = []
        for pid in filter(str.isdigit, os.listdir('/proc')):
            with contextlib.suppress(OSError):
                if os.readlink('/proc/%s/exe' % pid) == os.path.realpath(self.program):
                    found.append(int(pid))
        return found

    def windows(self, title):
        return subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^%s$' % title],
                              capture_output=True, text=True).stdout.split()

    @staticmethod
    def accessible_app():
        """orlivan-notifier on the accessibility bus, or None."""
        desktop = pyatspi.Registry.getDesktop(0)
        desktop.clear_cache()
        with contextlib.suppress(GLib.Error):  # an application busy or gone: asked again
            return next((a for a in filter(None, desktop) if a.name == 'orlivan-notifier'), None)

    def accessible_window(self, title):
        """Waits for orlivan-notifier's window `title` on the accessibility bus."""
        def window():
            desktop = pyatspi.Registry.getDesktop(0)
            desktop.clear_cache()
            try:
                for app in filter(None, desktop):
                    app.clear_cache()  # a dialog shown again is the same accessible
                    if app.name == 'orlivan-notifier':
                        for w in filter(None, app):
                            if w.name == title and shown(w) and w.childCount:
                                return w
            except GLib.Error:  # an application busy or gone: asked again
                pass
            return None

        return wait_for(window, 'the window "%s" on the accessibility bus' % title)

    def texts(self, title):
        """Waits for orlivan-notifier's window `title` on the accessibility bus;
        (its shown labels' texts, its buttons' names), in the widgets' order."""
        found = {'label': [], 'push button': []}
        for child in descendants(self.accessible_window(title)):
            if shown(child) and child.getRoleName() in found and child.name:
                found[child.getRoleName()].append(child.name)
        return found['label'], found['push button']

    def press_button(self, title, name):
        """Presses the button `name` of the window `title` over the accessibility
        bus, as a screen reader does (where xdotool can't reach: Wayland)."""
        next(c for c in descendants(self.accessible_window(title))
             if c.getRoleName() == 'push button' and c.name == name).queryAction().doAction(0)

    def click_button(self, title, name):
        """Clicks the button `name` of the window `title` with the pointer."""
        button = next(c for c in descendants(self.accessible_window(title))
                      if c.getRoleName() == 'push button' and c.name == name)
        box = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.x11('xdotool', 'mousemove', '--sync', str(box.x + box.width // 2),
                 str(box.y + box.height // 2), 'click', '1')

    def press(self, title, key='Return'):
        """Waits for the window `title` and presses `key` in it, as the user would."""
        window = wait_for(lambda: self.windows(title), 'the window "%s"' % title)[0]
        subprocess.run(['xdotool', 'windowfocus', '--sync', window], timeout=10)
        subprocess.run(['xdotool', 'key', key], check=True, timeout=10)
        wait_for(lambda: not self.windows(title), 'the window "%s" to close' % title)

    def screenshot(self, name):
        logs = os.environ.get('ORLIVAN_TEST_LOGS')
        if logs:
            os.makedirs(logs, exist_ok=True)
            subprocess.run(['import', '-window', 'root', os.path.join(logs, name)], timeout=20)

    def log(self):
        try:
            with open(self.root + '/state/orlivan/OrlivanSysTray.log') as f:
                return f.read()
        except OSError:
            return ''

    def recorded(self, name):
        try:
            with open(os.path.join(self.records, name)) as f:
                return f.read().splitlines()
        except OSError:
            return []


def main(scenarios):
    """`--list` prints the scenarios' names; `BUILD_DIR [NAME]` runs them (or one)."""
    if sys.argv[1:] == ['--list']:
        print(';'.join(function.__name__ for function in scenarios))
        return
    build = sys.argv[1]
    chosen = [s for s in scenarios if len(sys.argv) < 3 or s.__name__ == sys.argv[2]]
    failed = skipped = 0
    for scenario in chosen:
        desktops = []

        def new_desktop(**kwargs):
            desktops.append(Desktop(build, **kwargs))
            return desktops[-1]

        outcome = 'ok   ' + scenario.__name__
        try:
            scenario(new_desktop)
        except Skipped as reason:
            skipped += 1
            outcome = 'skip %s: %s' % (scenario.__name__, reason)
        except Exception as error:  # reported; the next scenario runs
            failed += 1
            outcome = 'FAIL %s: %s: %s' % (scenario.__name__, type(error).__name__, error)
            for desktop in desktops:
                outcome += '\n     log: ' + desktop.log().replace('\n', '\n          ')
        finally:
            for desktop in desktops:
                desktop.close()
        reports = [r for desktop in desktops for r in desktop.sanitizer_reports]
        if reports:
            failed += not outcome.startswith('FAIL')
            outcome = 'FAIL %s: sanitizer reports (the scenario: %s)\n%s' % (
                scenario.__name__, outcome.split('\n')[0], '\n'.join(reports))
        print(outcome, flush=True)
    # 77: ctest's "skipped" (SKIP_RETURN_CODE in CMakeLists.txt).
    sys.exit(1 if failed or not chosen else 77 if skipped == len(chosen) else 0)
