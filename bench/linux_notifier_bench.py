"""Figures of the Linux notifier against a minimal Qt 6 tray program built in
the same run: start to StatusNotifierItem registration, memory after start
(private dirty, resident) and threads,
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


def memory_kib(pid):
    """Resident and private dirty memory (what another session adds) in KiB,
    and the number of threads."""
    figures = {'threads': len(os.listdir('/proc/%d/task' % pid))}
    with open('/proc/%d/smaps_rollup' % pid) as f:
        for line in f:
            parts = line.split()
            if parts[0] in ('Rss:', 'Private_Dirty:'):
                figures[parts[0][:-1]] = int(parts[1])
    return figures


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
                memory[name] = memory_kib(process.pid)
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

    # Two raw echoes, each a server process of its own as the notifier is: one
    # on the notifier's own channel code (frame reader and socket server, the
    # channel benchmark's method), one a bare loop of plain reads and writes.
    echoes = {
        'raw echo on the channel code': (
            [os.path.join(build, 'bench', 'channel_round_trip_bench'), '--echo'],
            work + '/channels/echo'),
        'bare echo': ([socket_bench, 'echo'], work + '/echo'),
    }
    echo_processes = [subprocess.Popen(command + [path]) for command, path in echoes.values()]
    for _, path in echoes.values():
        while not os.path.exists(path):
            time.sleep(0.01)

    def round_trip(path, cpus):
        return float(subprocess.run(['taskset', '-c', cpus, socket_bench, 'client', path,
                                     round_trips], capture_output=True, text=True,
                                    check=True).stdout)

    # Measured in alternation, as the machine's load drifts: once with every
    # process free to run on any CPU (wake-ups cross CPUs as the scheduler
    # places them), once with client and server on one CPU (the same wake-ups
    # for all, so the figure shows the work each server does per record).
    all_cpus = ','.join(str(c) for c in sorted(os.sched_getaffinity(0)))
    one_cpu = str(min(os.sched_getaffinity(0)))
    servers = dict({'notifier': channel}, **{name: path for name, (_, path) in echoes.items()})
    trips = {}
    for placement, cpus in (('any CPU', all_cpus), ('one CPU', one_cpu)):
        for pid in [notifier_pid] + [p.pid for p in echo_processes]:
            for task in os.listdir('/proc/%d/task' % pid):
                os.sched_setaffinity(int(task), {int(c) for c in cpus.split(',')})
        runs = {name: [] for name in servers}
        for _ in range(3):
            for name, path in servers.items():
                runs[name].append(round_trip(path, cpus))
        trips[placement] = {name: statistics.median(r) for name, r in runs.items()}
    stop(*running.values(), *echo_processes, watcher)

    a, b = 'orlivan-notifier', 'minimal Qt tray'
    sa, sb = statistics.median(starts[a]), statistics.median(starts[b])
    print('start to StatusNotifierItem registration (median of %d): %.0f ms vs %.0f ms, '
          'ratio %.2f (target <= 1.5)' % (STARTS, sa, sb, sa / sb))
    ma, mb = memory[a], memory[b]
    print('private dirty 1 s after start: %d KiB vs %d KiB, ratio %.2f (target <= 1.0)' %
          (ma['Private_Dirty'], mb['Private_Dirty'], ma['Private_Dirty'] / mb['Private_Dirty']))
    print('resident 1 s after start: %.1f MiB vs %.1f MiB, ratio %.2f (target <= 1.1)' %
          (ma['Rss'] / 1024, mb['Rss'] / 1024, ma['Rss'] / mb['Rss']))
    print('threads 1 s after start: %d vs %d' % (ma['threads'], mb['threads']))
    print('wake-ups while idle for %d s (threads put on a CPU): %d vs %d (target 0)' %
          (idle, wakeups[a], wakeups[b]))
    for placement, figures in trips.items():
        notifier_us = figures['notifier']
        print('acknowledge-only round trip, %s (%s per run, median of 3x5 runs): notifier %.2f us'
              % (placement, round_trips, notifier_us))
        for name in echoes:
            print('    against the %s %.2f us: ratio %.2f (target <= 1.3)' %
                  (name, figures[name], notifier_us / figures[name]))
    subprocess.run(['rm', '-rf', work])


if __name__ == '__main__':
    main()
