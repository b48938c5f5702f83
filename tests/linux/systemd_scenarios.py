"""The package's systemd user unit under a user manager of the scenario's own
(a private mount namespace where /run says systemd runs) with its own session
bus, as at a login. Usage: systemd_scenarios.py BUILD_DIR [SCENARIO]"""

import os
import shutil
import signal
import subprocess
import tempfile
import time

import dbus

from harness import HERE, Skipped, check, has_owner, main, wait_for

UNIT = 'orlivan-notifier.service'


def crash_is_restarted_display_loss_is_not(new_desktop):
    runtime = tempfile.mkdtemp(prefix='orlivan-systemd-')
    units = runtime + '/config/systemd/user'
    os.makedirs(units + '/graphical-session.target.wants')  # enabled as the package does
    shutil.copy(os.path.join(HERE, '..', '..', 'packaging', 'linux', UNIT), units)
    os.symlink('../' + UNIT, units + '/graphical-session.target.wants/' + UNIT)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=runtime + '/config')
    env.pop('DBUS_SESSION_BUS_ADDRESS', None)  # the manager's bus is $XDG_RUNTIME_DIR/bus
    manager = subprocess.Popen(
        ['unshare', '-m', 'sh', '-c', 'mount -t tmpfs tmpfs /run/systemd && '
         'mkdir /run/systemd/system && exec /lib/systemd/systemd --user'],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: manager.poll() is not None or os.path.exists(runtime + '/bus'),
                 'the user manager')
        if manager.poll() is not None:
            raise Skipped('no user manager can run here (unshare needs CAP_SYS_ADMIN)')
        os.environ['DBUS_SESSION_BUS_ADDRESS'] = 'unix:path=%s/bus' % runtime

        def systemctl(*args):
            return subprocess.run(['systemctl', '--user'] + list(args), env=env, check=True,
                                  capture_output=True, text=True, timeout=60).stdout

        def unit(name):
            return systemctl('show', UNIT, '-P', name).strip()

        desktop = new_desktop(display='x11')
        os.makedirs(units + '/' + UNIT + '.d')
        with open(units + '/' + UNIT + '.d/build.conf', 'w') as f:
            f.write('[Service]\nExecStart=\nExecStart=%s\n' % desktop.program)
        systemctl('set-environment', *map('='.join, desktop.env.items()))
        systemctl('daemon-reload')
        systemctl('start', UNIT)  # returns once the notifier owns its application id
        first = int(unit('MainPID'))
        os.kill(first, signal.SIGSEGV)
        crashed = time.monotonic()
        wait_for(lambda: unit('MainPID') not in ('0', str(first)) and 'reply 1' in
                 desktop.send('--connect-wait', '100', 'ack-only').stdout, 'a restart', 10)
        took = time.monotonic() - crashed
        print('serving again %.2f s after SIGSEGV' % took)
        check(took < 3 and unit('NRestarts') == '1', 'restarted in %.2fs' % took)

        # The settings program gets a scope of its own and outlives the unit.
        with open(desktop.install + '/ui/orlivan-ui', 'a') as f:
            f.write('echo $$ > %s/settings-pid\nexec sleep 60\n' % desktop.records)
        dbus.SessionBus().get_object('com.orlivan.Notifier', '/com/orlivan/Notifier').Activate(
            {}, dbus_interface='org.freedesktop.Application')
        settings = int(wait_for(lambda: desktop.recorded('settings-pid'), 'the settings')[0])
        with open('/proc/%d/cgroup' % settings) as f:
            scope = '/app-orlivan-settings-%d.scope\n' % settings
            wait_for(lambda: f.seek(0) == 0 and f.read().endswith(scope), 'its own scope')

        desktop.stop_display()
        wait_for(lambda: unit('ActiveState') != 'active', 'the unit to end')
        time.sleep(2)  # four times the unit's RestartSec
        state = [unit(p) for p in ('ActiveState', 'ExecMainStatus', 'NRestarts')]
        check(state == ['inactive', '2', '1'], 'the display\'s end, not restarted: %r' % state)
        check(not has_owner('com.orlivan.Notifier') and os.path.exists('/proc/%d' % settings),
              'the application id given back, the settings program still running')
        os.kill(settings, signal.SIGTERM)
    finally:
        manager.terminate()
        manager.wait(30)
        shutil.rmtree(runtime, ignore_errors=True)


if __name__ == '__main__':
    main([crash_is_restarted_display_loss_is_not])
