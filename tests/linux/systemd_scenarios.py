"""The notifier as the systemd user unit the package ships, under a user
manager of the scenario's own (in a mount namespace of its own, where /run
says the machine runs systemd) with its own session bus, as at a login: a
crash is restarted, the display's loss is not.
Usage: systemd_scenarios.py BUILD_DIR [SCENARIO]"""

import os
import shutil
import signal
import subprocess
import tempfile
import time

import dbus

from harness import HERE, Skipped, check, has_owner, main, wait_for

UNIT = 'orlivan-notifier.service'


class UserManager:
    """systemd --user with the package's unit; its bus becomes this process's
    session bus (make it before the scenario's desktop)."""

    def __init__(self):
        if shutil.which('unshare') is None or not os.path.isdir('/run/systemd'):
            raise Skipped('no unshare or /run/systemd')
        self.runtime = tempfile.mkdtemp(prefix='orlivan-systemd-')
        self.units = self.runtime + '/config/systemd/user'
        os.makedirs(self.units + '/' + UNIT + '.d')
        shutil.copy(os.path.join(HERE, '..', '..', 'packaging', 'linux', UNIT), self.units)
        # Enabled as the package enables it (which also keeps the ended unit's
        # state to be read).
        os.makedirs(self.units + '/graphical-session.target.wants')
        os.symlink('../' + UNIT, self.units + '/graphical-session.target.wants/' + UNIT)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime,
                        XDG_CONFIG_HOME=self.runtime + '/config')
        self.env.pop('DBUS_SESSION_BUS_ADDRESS', None)
        self.process = subprocess.Popen(
            ['unshare', '-m', '--propagation', 'private', 'sh', '-c',
             'mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system && '
             'exec /lib/systemd/systemd --user'], env=self.env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        wait_for(lambda: self.process.poll() is not None or
                 os.path.exists(self.runtime + '/bus'), 'the user manager and its bus')
        if self.process.poll() is not None:
            raise Skipped('no user manager can run here (unshare needs CAP_SYS_ADMIN)')
        os.environ['DBUS_SESSION_BUS_ADDRESS'] = 'unix:path=%s/bus' % self.runtime

    def run_unit(self, desktop):
        """The unit runs this build's notifier in `desktop`'s environment (as a
        session hands its environment to the manager)."""
        with open(self.units + '/' + UNIT + '.d/build.conf', 'w') as f:
            f.write('[Service]\nExecStart=\nExecStart=%s\nWorkingDirectory=%s\n'
                    % (desktop.program, desktop.root))
        names = [k for k in desktop.env if k not in ('XDG_RUNTIME_DIR', 'DBUS_SESSION_BUS_ADDRESS')
                 and '\n' not in desktop.env[k]]
        self.systemctl('set-environment', *['%s=%s' % (k, desktop.env[k]) for k in names])
        self.systemctl('daemon-reload')
        self.systemctl('start', UNIT)

    def systemctl(self, *args):
        done = subprocess.run(['systemctl', '--user'] + list(args), env=self.env,
                              capture_output=True, text=True, timeout=60)
        check(done.returncode == 0, 'systemctl %s: %s' % (args[0], done.stderr))
        return done.stdout

    def unit(self, *properties):
        shown = self.systemctl('show', UNIT, '-p', ','.join(properties))
        return dict(line.split('=', 1) for line in shown.splitlines() if '=' in line)

    def close(self):
        self.process.terminate()
        self.process.wait(30)
        shutil.rmtree(self.runtime, ignore_errors=True)


def crash_is_restarted_display_loss_is_not(new_desktop):
    manager = UserManager()
    try:
        desktop = new_desktop(display='x11')
        manager.run_unit(desktop)
        check(has_owner('com.orlivan.Notifier'), 'active once it owns the application id')
        check('reply 1' in desktop.send('ack-only').stdout, 'the unit serves')
        first = int(manager.unit('MainPID')['MainPID'])
        os.kill(first, signal.SIGSEGV)
        crashed = time.monotonic()

        def serving_again():
            state = manager.unit('MainPID', 'ActiveState', 'NRestarts')
            return (state['ActiveState'] == 'active' and int(state['MainPID']) not in (0, first)
                    and 'reply 1' in desktop.send('--connect-wait', '100', 'ack-only').stdout
                    and state)
        state = wait_for(serving_again, 'the crashed notifier restarted', 10)
        took = time.monotonic() - crashed
        print('serving again %.2f s after SIGSEGV' % took)
        check(took < 3 and state['NRestarts'] == '1', 'restarted in %.2f s: %r' % (took, state))

        # The settings program started gets a scope of its own and outlives the unit.
        with open(desktop.install + '/ui/orlivan-ui', 'a') as f:
            f.write('echo $$ > %s/settings-pid\nexec sleep 60\n' % desktop.records)
        dbus.SessionBus().get_object('com.orlivan.Notifier', '/com/orlivan/Notifier').Activate(
            {}, dbus_interface='org.freedesktop.Application')
        settings = int(wait_for(lambda: desktop.recorded('settings-pid'), 'the settings')[0])

        def cgroup():
            with open('/proc/%d/cgroup' % settings) as f:
                return [line for line in f.read().splitlines() if line.startswith('0::')][0]
        wait_for(lambda: cgroup().endswith('/app-orlivan-settings-%d.scope' % settings),
                 'the settings program in its own scope (%s)' % cgroup())

        desktop.stop_display()
        ended = wait_for(lambda: (s := manager.unit('ActiveState', 'ExecMainStatus'))
                         ['ActiveState'] in ('inactive', 'failed') and s, 'the unit to end')
        check(ended['ExecMainStatus'] == '2', 'the display\'s own exit code: %r' % ended)
        time.sleep(2)  # four times the unit's RestartSec
        state = manager.unit('ActiveState', 'NRestarts')
        check(state == {'ActiveState': 'inactive', 'NRestarts': '1'},
              'not restarted after the display went away: %r' % state)
        check(not has_owner('com.orlivan.Notifier'), 'the application id is free')
        check(os.path.exists('/proc/%d' % settings), 'the settings program ended with the unit')
        os.kill(settings, signal.SIGTERM)
    finally:
        manager.close()


if __name__ == '__main__':
    main([crash_is_restarted_display_loss_is_not])
