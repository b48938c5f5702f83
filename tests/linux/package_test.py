"""The .deb as a desktop would receive it: built with cpack, unpacked into a
clean root with dpkg-deb, every file where the desktop looks for it, both
desktop entries accepted by desktop-file-validate, the D-Bus service that
starts the notifier, Depends from dpkg-shlibdeps,
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
# The product's icon, and for the notifications the same with each kind's emblem.
ICONS = ['orlivan-notifier'] + ['orlivan-notifier-' + kind
                                for kind in ('information', 'warning', 'error')]
ENTRIES = ['usr/share/applications/com.orlivan.Notifier.desktop',
           'etc/xdg/autostart/orlivan-notifier.desktop']
SERVICE = 'usr/share/dbus-1/services/com.orlivan.Notifier.service'


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def check_package(build, out):
    run('cpack', '--config', build + '/CPackConfig.cmake', '-B', out, check=True)
    arch = run('dpkg', '--print-architecture').stdout.strip()
    debs = glob.glob(out + '/orlivan-notifier_*_%s.deb' % arch)
    check(len(debs) == 1, 'one package for %s: %r' % (arch, os.listdir(out)))
    root = out + '/root'
    run('dpkg-deb', '-x', debs[0], root, check=True)
    icons = ['usr/share/icons/hicolor/%dx%d/apps/%s.png' % (s, s, name)
             for name in ICONS for s in SIZES]
    for path in ['usr/bin/orlivan-notifier', 'usr/bin/orlivan-service',
                 'usr/share/doc/orlivan-notifier/copyright', SERVICE] + ENTRIES + icons:
        check(os.path.isfile(os.path.join(root, path)), 'missing ' + path)
    for size, path in zip(SIZES * len(ICONS), icons):
        with open(os.path.join(root, path), 'rb') as png:
            head = png.read(24)
        check(head[:8] == b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', head[16:]) == (size, size),
              path)
    for entry in ENTRIES:
        result = run('desktop-file-validate', os.path.join(root, entry))
        check(result.returncode == 0 and not result.stdout.strip(), entry + result.stdout)
        with open(os.path.join(root, entry)) as f:
            text = f.read()
        check('Exec=orlivan-notifier\nTryExec=orlivan-notifier\n' in text,
              entry + ' starts orlivan-notifier')
    with open(os.path.join(root, SERVICE)) as f:
        check(f.read().splitlines()[1:] == ['Name=com.orlivan.Notifier',
                                            'Exec=/usr/bin/orlivan-notifier'], SERVICE)
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
