"""The .deb as a desktop would receive it: built with cpack, unpacked into a
clean root with dpkg-deb, every file where the desktop looks for it, both
desktop entries accepted by desktop-file-validate, Depends from dpkg-shlibdeps,
and the unpacked programs start. Usage: package_test.py BUILD_DIR"""

import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from harness import check

SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
ENTRIES = ['usr/share/applications/orlivan-notifier.desktop',
           'etc/xdg/autostart/orlivan-notifier.desktop']


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def check_package(build, out):
    run('cpack', '--config', build + '/CPackConfig.cmake', '-B', out, check=True)
    arch = run('dpkg', '--print-architecture').stdout.strip()
    debs = glob.glob(out + '/orlivan-notifier_*_%s.deb' % arch)
    check(len(debs) == 1, 'one package for %s: %r' % (arch, os.listdir(out)))
    root = out + '/root'
    run('dpkg-deb', '-x', debs[0], root, check=True)
    icons = ['usr/share/icons/hicolor/%dx%d/apps/orlivan-notifier.png' % (s, s) for s in SIZES]
    for path in ['usr/bin/orlivan-notifier', 'usr/bin/orlivan-service',
                 'usr/share/doc/orlivan-notifier/copyright'] + ENTRIES + icons:
        check(os.path.isfile(os.path.join(root, path)), 'missing ' + path)
    for size, path in zip(SIZES, icons):
        with open(os.path.join(root, path), 'rb') as png:
            head = png.read(24)
        check(head[:8] == b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', head[16:]) == (size, size),
              path)
    for entry in ENTRIES:
        result = run('desktop-file-validate', os.path.join(root, entry))
        check(result.returncode == 0 and not result.stdout.strip(), entry + result.stdout)
        with open(os.path.join(root, entry)) as f:
            check('Exec=orlivan-notifier\n' in f.read(), entry + ' starts orlivan-notifier')
    depends = run('dpkg-deb', '-f', debs[0], 'Depends').stdout
    for package in ('libqt6widgets6', 'libqt6dbus6', 'libc6', 'libstdc++6'):
        check(package in depends, 'Depends lacks %s: %s' % (package, depends))
    check(ENTRIES[1] in run('dpkg-deb', '-I', debs[0], 'conffiles').stdout, 'conffiles')
    # The unpacked programs run with the libraries the Depends name.
    check('SEND' in run(root + '/usr/bin/orlivan-service', '--help').stdout, 'the stand-in')
    headless = run(root + '/usr/bin/orlivan-notifier', timeout=20,
                   env={'PATH': os.environ['PATH'], 'ORLIVAN_CHANNEL_DIR': out + '/ch'})
    check(headless.returncode == 1 and 'needs a graphical session' in headless.stderr,
          'orlivan-notifier without a display: ' + headless.stderr)


if __name__ == '__main__':
    work = tempfile.mkdtemp(prefix='orlivan-deb-')
    try:
        check_package(sys.argv[1], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
