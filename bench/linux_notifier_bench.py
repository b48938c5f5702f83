"""Figures of the Linux notifier against a minimal Qt 6 tray program built in
the same run: start to StatusNotifierItem registration, memory after start,
wake-ups while idle, and the acknowledge-only round trip against a raw echo
over the same kind of socket. Prints figures; nothing passes or fails.

Run inside xvfb-run and dbus-run-session (scripts/bench.sh --linux does):
  linux_notifier_bench.py BUILD_DIR [IDLE_SECONDS] [ROUND_TRIPS]
"""

import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
WATCHER_TEMPLATE = os.path.join(HERE, '..', 'tests', 'linux', 'status_notifier_watcher.py')
WATCHER = 'org.kde.StatusNotifierWatcher'
STARTS = 5


def registered_items():
    try:
        watcher = dbus.SessionBus().get_object(WATCHER, '/StatusNotifierWatcher')
        return list(watcher.Get(WATCHER, 'RegisteredStatusNotifierItems',
                                dbus_interface='org.freedesktop.DBus.Properties'))
    except dbus.DBusException:
        return []


def start_watcher():
    process = subprocess.Popen(['/usr/bin/python3', '-m', 'dbusmock', '--template',
                                WATCHER_TEMPLATE], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    while not dbus.SessionBus().name_has_owner(WATCHER):
        time.sleep(0.01)
    return process


def rss_kib(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return 0


def switches(pid):
    """Times the process's threads were put on a CPU (schedstat's third field)."""
    total = 0
    for path in glob.glob('/proc/%d/task/*/schedstat' % pid):
        with open(path) as f:
            total += int(f.read().split()[2])
    return total


def start_to_registration(command, env):
    """Seconds from start to the item's registration, and the running process."""
    watcher = start_watcher()
    started = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    while not registered_items():
        if time.monotonic() - started > 20:
            raise RuntimeError('no registration from ' + command[0])
        time.sleep(0.001)
    return time.monotonic() - started, process, watcher


def stop(*processes):
    for process in processes:
        process.terminate()
        process.wait(10)


def main():
    build = sys.argv[1]
    idle = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    round_trips = sys.argv[3] if len(sys.argv) > 3 else '10000'
    work = tempfile.mkdtemp(prefix='orlivan-bench-')
    env = dict(os.environ, ORLIVAN_CHANNEL_DIR=work + '/channels',
               XDG_STATE_HOME=work + '/state', ORLIVAN_CONFIG=work + '/none.conf',
               QT_QPA_PLATFORM='xcb')
    programs = {
        'orlivan-notifier': [os.path.join(build, 'src', 'app_qt', 'orlivan-notifier')],
        'minimal Qt tray': [os.path.join(build, 'bench', 'minimal_tray')],
    }
    starts = {name: [] for name in programs}
    memory = {}
    for run in range(STARTS):
        for name, command in programs.items():
            seconds, process, watcher = start_to_registration(command, env)
            starts[name].append(seconds * 1000)
            if run == STARTS - 1:
                time.sleep(1)
                memory[name] = rss_kib(process.pid)
            stop(process, watcher)

    # Both idle side by side, registered with one watcher.
    watcher = start_watcher()
    running = {name: subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
               for name, command in programs.items()}
    while len(registered_items()) < len(running):
        time.sleep(0.01)
    time.sleep(2)  # start-up settles
    before = {name: switches(p.pid) for name, p in running.items()}
    time.sleep(idle)
    wakeups = {name: switches(p.pid) - before[name] for name, p in running.items()}

    socket_bench = os.path.join(build, 'bench', 'socket_round_trip')
    channel = work + '/channels/notification'
    notifier_pid = running['orlivan-notifier'].pid

    def round_trip(mode, cpus):
        # The client and the raw echo inherit the affinity from taskset.
        arguments = ['client', channel, round_trips] if mode == 'client' else ['echo', round_trips]
        return float(subprocess.run(['taskset', '-c', cpus, socket_bench] + arguments,
                                    capture_output=True, text=True, check=True).stdout)

    # Measured in alternation, as the machine's load drifts: once with every
    # process free to run on any CPU (wake-ups cross CPUs as the scheduler
    # places them), once with the client and the server on one CPU (the same
    # wake-ups for both, so the figure shows the work each does per record).
    all_cpus = ','.join(str(c) for c in sorted(os.sched_getaffinity(0)))
    one_cpu = str(min(os.sched_getaffinity(0)))
    trips = {}
    for placement, cpus in (('any CPU', all_cpus), ('one CPU', one_cpu)):
        for task in os.listdir('/proc/%d/task' % notifier_pid):
            os.sched_setaffinity(int(task), {int(c) for c in cpus.split(',')})
        notifier_runs, echo_runs = [], []
        for _ in range(3):
            notifier_runs.append(round_trip('client', cpus))
            echo_runs.append(round_trip('echo', cpus))
        trips[placement] = (statistics.median(notifier_runs), statistics.median(echo_runs))
    stop(*running.values(), watcher)

    a, b = 'orlivan-notifier', 'minimal Qt tray'
    sa, sb = statistics.median(starts[a]), statistics.median(starts[b])
    print('start to StatusNotifierItem registration (median of %d): %.0f ms vs %.0f ms, '
          'ratio %.2f (target <= 1.5)' % (STARTS, sa, sb, sa / sb))
    print('RSS 1 s after start: %.1f MB vs %.1f MB, ratio %.2f (target <= 1.2)' %
          (memory[a] / 1024, memory[b] / 1024, memory[a] / memory[b]))
    print('wake-ups while idle for %d s (threads put on a CPU): %d vs %d (target 0)' %
          (idle, wakeups[a], wakeups[b]))
    for placement, (notifier_us, echo_us) in trips.items():
        print('acknowledge-only round trip, %s, %s per run, median of 3x5 runs: notifier %.2f us, '
              'raw echo %.2f us, ratio %.2f (target <= 1.3)' % (placement, round_trips, notifier_us,
                                                                echo_us, notifier_us / echo_us))
    subprocess.run(['rm', '-rf', work])


if __name__ == '__main__':
    main()
