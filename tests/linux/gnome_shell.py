"""A real GNOME Shell session, headless, for the GNOME scenarios.

Started once for the whole group, as root and without systemd: a private
system bus (the shell's login manager needs one), a private session bus whose
service folder holds only GNOME's services (no other notification server can
take the name) and the notifier's own, a fresh HOME, XDG folders and 0700
runtime folder, and `gnome-shell --headless --wayland --virtual-monitor`.
A test-only extension puts the shell in unsafe mode, so that
org.gnome.Shell.Eval and the Screenshot API answer; the AppIndicator
extension is enabled or not by `start(appindicator=...)`. The notifier's
desktop entry and icons are installed under $XDG_DATA_HOME and the program
is on PATH, as GLib needs to match notifications and activations to the app.
X11 clients reach Xwayland on the display the shell's log names.
"""

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import dbus
import dbus.bus

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
UNSAFE_EXTENSION = 'orlivan-test-unsafe-mode@orlivan.com'
APPINDICATOR_EXTENSION = 'ubuntu-appindicators@ubuntu.com'
# GNOME's own session services; nothing else is started by the session bus.
GNOME_SERVICES = ['org.gnome.Shell.*', 'org.gnome.Screenshot', 'ca.desrt.dconf', 'org.a11y.Bus']
BUS_CONFIG = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>%s</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>%s
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
'''


class ShellError(Exception):
    pass


def packaged_entry():
    """The notifier's desktop entry in packaging/linux (not the autostart one)."""
    entries = [p for p in glob.glob(os.path.join(TOP, 'packaging', 'linux', '*.desktop'))
               if 'autostart' not in os.path.basename(p)]
    if len(entries) != 1:
        raise ShellError('expected one desktop entry in packaging/linux: %r' % entries)
    return entries[0]


class GnomeShell:
    def __init__(self, build):
        build = os.path.abspath(build)
        self.build = build
        self.root = tempfile.mkdtemp(prefix='orlivan-gnome-')
        self.processes = []
        self._bus = None
        self.log_path = self.root + '/gnome-shell.log'
        self.app_id = os.path.basename(packaged_entry())
        runtime = self.root + '/runtime'
        os.makedirs(runtime, mode=0o700)
        os.chmod(runtime, 0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'XAUTHORITY', 'SESSION_MANAGER',
                                 'DBUS_SESSION_BUS_ADDRESS', 'DBUS_SYSTEM_BUS_ADDRESS',
                                 'LANGUAGE', 'LC_ALL', 'LC_MESSAGES')}
        # English, as the shell's texts the tests look for are.
        self.env.update(LANG='C.UTF-8', HOME=self.root + '/home', XDG_RUNTIME_DIR=runtime,
                        XDG_DATA_HOME=self.root + '/data', XDG_CONFIG_HOME=self.root + '/config',
                        XDG_CACHE_HOME=self.root + '/cache', XDG_CURRENT_DESKTOP='GNOME',
                        XDG_SESSION_TYPE='wayland',
                        PATH=os.path.join(build, 'src', 'app_qt') + ':' + os.environ['PATH'])
        for folder in ('home', 'data', 'config', 'cache', 'services'):
            os.makedirs(os.path.join(self.root, folder), exist_ok=True)

    # ---- start and end ---------------------------------------------------

    def start(self, appindicator):
        if not shutil.which('gnome-shell'):
            raise ShellError('gnome-shell is not installed (scripts/setup.sh installs it)')
        self._install_entry()
        self._start_buses()
        self._install_unsafe_extension()
        extensions = [UNSAFE_EXTENSION] + ([APPINDICATOR_EXTENSION] if appindicator else [])
        subprocess.run(['gsettings', 'set', 'org.gnome.shell', 'enabled-extensions',
                        json.dumps(extensions).replace('"', "'")], env=self.env, check=True)
        # Xwayland puts its socket in /tmp/.X11-unix and wants the folder's
        # usual mode (world-writable and sticky), as an X server makes it.
        os.makedirs('/tmp/.X11-unix', exist_ok=True)
        if os.stat('/tmp/.X11-unix').st_mode & 0o1777 != 0o1777:
            os.chmod('/tmp/.X11-unix', 0o1777)
        with open(self.log_path, 'w') as log:
            self.shell = subprocess.Popen(
                ['gnome-shell', '--headless', '--wayland', '--virtual-monitor', '1280x800'],
                env=self.env, stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(self.shell)
        self._wait(lambda: self._eval_quiet('global.context.unsafe_mode') == 'true',
                   'the shell in unsafe mode', 60)
        display = self._wait(lambda: re.search(r'Using public X11 display (:\d+)', self.log()),
                             'the Xwayland display').group(1)
        auth = self._wait(lambda: glob.glob(self.env['XDG_RUNTIME_DIR'] +
                                            '/.mutter-Xwaylandauth.*'), 'the Xwayland cookie')
        self.x11 = {'DISPLAY': display, 'XAUTHORITY': auth[0]}
        self.wayland = {'WAYLAND_DISPLAY': 'wayland-0'}
        # The shell starts in the overview; the desktop is shown once that is over.
        self._wait(lambda: self.eval('Main.layoutManager._startingUp') == 'false', 'the start')
        self._wait(lambda: self.eval('Main.overview.hide(); Main.overview.visible') == 'false',
                   'the overview to close')
        if os.geteuid() == 0:
            # A root session gets the shell's "privileged user" notice a moment
            # after the start; it is cleared with the rest of the tray.
            self._wait(lambda: self.eval(
                "Main.messageTray.getSources().some(s => s.notifications.some("
                "n => n.title === 'Logged in as a privileged user'))") == 'true',
                'the privileged user notice')
            self.clear_tray()
        if appindicator:
            self._wait(lambda: self._eval_quiet(
                "Main.extensionManager.lookup('%s')?.state === 1" % APPINDICATOR_EXTENSION)
                == 'true', 'the AppIndicator extension', 30)

    def _install_entry(self):
        """The desktop entry, its icons and D-Bus service files, as the package
        installs them, under this session's data folder."""
        apps = self.root + '/data/applications'
        os.makedirs(apps)
        shutil.copy(packaged_entry(), apps)
        # Each rendered <icon>-<size>.png as <icon>.png in its size's folder.
        for png in glob.glob(os.path.join(self.build, 'src', 'app_qt', 'icons', '*.png')):
            icon, size = re.search(r'([^/]+)-(\d+)\.png$', png).groups()
            folder = '%s/data/icons/hicolor/%sx%s/apps' % (self.root, size, size)
            os.makedirs(folder, exist_ok=True)
            shutil.copy(png, '%s/%s.png' % (folder, icon))
        for pattern in GNOME_SERVICES:
            for service in glob.glob('/usr/share/dbus-1/services/%s.service' % pattern):
                shutil.copy(service, self.root + '/services')
        # A D-Bus activatable entry's service, started from the build.
        program = os.path.join(self.build, 'src', 'app_qt', 'orlivan-notifier')
        for service in glob.glob(os.path.join(TOP, 'packaging', 'linux', '*.service')):
            with open(service) as f:
                text = re.sub(r'^Exec=\S+', 'Exec=' + program, f.read(), flags=re.M)
            with open(os.path.join(self.root, 'services', os.path.basename(service)), 'w') as f:
                f.write(text)

    def _start_buses(self):
        for kind, services in (('system', ''),
                               ('session', '<servicedir>%s/services</servicedir>' % self.root)):
            socket = '%s/%s_bus_socket' % (self.root, kind)
            with open('%s/%s.conf' % (self.root, kind), 'w') as conf:
                conf.write(BUS_CONFIG % (kind, socket, services))
            # Started with the session's environment: the services it starts inherit it.
            self.processes.append(subprocess.Popen(
                ['dbus-daemon', '--nofork', '--config-file=%s/%s.conf' % (self.root, kind)],
                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            self._wait(lambda: os.path.exists(socket), 'the %s bus' % kind)
            self.env['DBUS_%s_BUS_ADDRESS' % kind.upper()] = 'unix:path=' + socket

    def _install_unsafe_extension(self):
        folder = '%s/data/gnome-shell/extensions/%s' % (self.root, UNSAFE_EXTENSION)
        os.makedirs(folder)
        with open(folder + '/metadata.json', 'w') as f:
            json.dump({'uuid': UNSAFE_EXTENSION, 'name': 'Unsafe mode for tests',
                       'description': 'Lets the tests call Eval and Screenshot',
                       'shell-version': ['43']}, f)
        with open(folder + '/extension.js', 'w') as f:
            f.write('function init() {\n'
                    '    return {enable() { global.context.unsafe_mode = true; }, disable() {}};\n'
                    '}\n')

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    def log(self):
        with open(self.log_path, errors='replace') as f:
            return f.read()

    def _wait(self, probe, what, timeout=20.0):
        end = time.monotonic() + timeout
        while not (value := probe()):
            if time.monotonic() > end:
                raise ShellError('timed out waiting for %s; shell log:\n%s' %
                                 (what, self.log()[-3000:]))
            if self.processes and any(p.poll() is not None for p in self.processes):
                raise ShellError('a session process ended; shell log:\n' + self.log()[-3000:])
            time.sleep(0.1)
        return value

    # ---- the shell's side ------------------------------------------------

    def _eval_quiet(self, script):
        try:
            return self.eval(script)
        except ShellError:
            return None

    def eval(self, script):
        """Runs JavaScript in the shell; its result as JSON text (the shell
        encodes it)."""
        try:
            shell = self.bus().get_object('org.gnome.Shell', '/org/gnome/Shell')
            ok, result = shell.Eval(script, dbus_interface='org.gnome.Shell', timeout=20)
        except dbus.DBusException as error:
            raise ShellError('Eval failed: %s' % error)
        if not ok:
            raise ShellError('Eval failed: %s' % result)
        return str(result)

    def bus(self):
        if self._bus is None:
            self._bus = dbus.bus.BusConnection(self.env['DBUS_SESSION_BUS_ADDRESS'])
        return self._bus

    def eval_json(self, script):
        """The script's result as Python (None for undefined)."""
        text = self.eval(script)
        return json.loads(text) if text else None

    def screenshot(self, name):
        logs = os.environ.get('ORLIVAN_TEST_LOGS')
        if logs:
            os.makedirs(logs, exist_ok=True)
            screenshot = self.bus().get_object('org.gnome.Shell.Screenshot',
                                               '/org/gnome/Shell/Screenshot')
            screenshot.Screenshot(False, False, os.path.join(logs, name),
                                  dbus_interface='org.gnome.Shell.Screenshot', timeout=20)

    def clear_tray(self):
        """Removes every notice from the message tray (the shell's own notices
        of a root session among them)."""
        self.eval('Main.messageTray.getSources().forEach(s => s.destroy()); true')

    def notices(self):
        """(app id or null, title, body, urgency) of each notice in the tray
        but the shell's own (a root session gets them at any time)."""
        return self.eval_json(
            "Main.messageTray.getSources().filter(s => s.title !== 'System Information')"
            '.flatMap(s => s.notifications.map('
            'n => [s.app ? s.app.get_id() : null, n.title, n.bannerBodyText, n.urgency]))')


def main():
    """`gnome_shell.py BUILD_DIR -- COMMAND...`: runs COMMAND in a headless
    GNOME Shell session with the AppIndicator extension (the Linux demo);
    its exit code is COMMAND's."""
    build, separator, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    if separator != '--' or not command:
        sys.exit(__doc__ + '\nusage: gnome_shell.py BUILD_DIR -- COMMAND...')
    shell = GnomeShell(build)
    try:
        shell.start(appindicator=True)
        env = dict(shell.env, **shell.x11, **shell.wayland)
        sys.exit(subprocess.run(command, env=env).returncode)
    except ShellError as error:
        sys.exit('GNOME Shell: %s' % error)
    finally:
        shell.stop()


if __name__ == '__main__':
    main()
