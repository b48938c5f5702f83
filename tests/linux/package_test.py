"""The .deb as a desktop would receive it: built with cpack, unpacked into a
clean root with dpkg-deb, every file where the desktop looks for it, both
desktop entries accepted by desktop-file-validate, Depends from
dpkg-shlibdeps, and the unpacked programs start. Usage: package_test.py BUILD_DIR"""

import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from harness import check


def main():
    build = sys.argv[1]
    out = tempfile.mkdtemp(prefix='orlivan-deb-')
    try:
        subprocess.run(['cpack', '--config', os.path.join(build, 'CPackConfig.cmake'), '-B', out],
                       check=True, capture_output=True)
        debs = glob.glob(os.path.join(out, 'orlivan-notifier_*_*.deb'))
        check(len(debs) == 1, 'one package: %r' % debs)
        deb = debs[0]
        arch = subprocess.run(['dpkg', '--print-architecture'], capture_output=True,
                              text=True).stdout.strip()
        check(deb.endswith('_%s.deb' % arch), deb)
        root = os.path.join(out, 'root')
        subprocess.run(['dpkg-deb', '-x', deb, root], check=True)

        expected = ['usr/bin/orlivan-notifier', 'usr/bin/orlivan-service',
                    'usr/share/applications/orlivan-notifier.desktop',
                    'etc/xdg/autostart/orlivan-notifier.desktop',
                    'usr/share/doc/orlivan-notifier/copyright',
                    'usr/share/doc/orlivan-notifier/protocol.md']
        sizes = [16, 22, 24, 32, 48, 64, 128, 256]
        expected += ['usr/share/icons/hicolor/%dx%d/apps/orlivan-notifier.png' % (s, s)
                     for s in sizes]
        for path in expected:
            check(os.path.isfile(os.path.join(root, path)), 'missing ' + path)
        for size in sizes:
            with open(os.path.join(root, 'usr/share/icons/hicolor/%dx%d/apps/'
                                   'orlivan-notifier.png' % (size, size)), 'rb') as png:
                head = png.read(24)
            check(head[:8] == b'\x89PNG\r\n\x1a\n' and
                  struct.unpack('>II', head[16:24]) == (size, size), 'icon %d' % size)

        for entry in ('usr/share/applications/orlivan-notifier.desktop',
                      'etc/xdg/autostart/orlivan-notifier.desktop'):
            result = subprocess.run(['desktop-file-validate', os.path.join(root, entry)],
                                    capture_output=True, text=True)
            check(result.returncode == 0 and not result.stdout.strip(),
                  entry + ': ' + result.stdout)
            with open(os.path.join(root, entry)) as f:
                check('Exec=orlivan-notifier\n' in f.read(), entry + ' starts orlivan-notifier')

        fields = subprocess.run(['dpkg-deb', '-f', deb, 'Package', 'Depends'],
                                capture_output=True, text=True).stdout
        for package in ('libqt6widgets6', 'libqt6dbus6', 'libc6', 'libstdc++6'):
            check(package in fields, 'Depends lacks %s: %s' % (package, fields))
        conffiles = subprocess.run(['dpkg-deb', '-I', deb, 'conffiles'], capture_output=True,
                                   text=True).stdout
        check('/etc/xdg/autostart/orlivan-notifier.desktop' in conffiles, conffiles)

        # The unpacked programs run with the libraries the Depends name.
        help_text = subprocess.run([os.path.join(root, 'usr/bin/orlivan-service'), '--help'],
                                   capture_output=True, text=True)
        check(help_text.returncode == 0 and 'SEND' in help_text.stdout, 'orlivan-service --help')
        env = {'PATH': os.environ['PATH'], 'HOME': out, 'ORLIVAN_CHANNEL_DIR': out + '/ch'}
        headless = subprocess.run([os.path.join(root, 'usr/bin/orlivan-notifier')], env=env,
                                  capture_output=True, text=True, timeout=20)
        check(headless.returncode == 1 and 'needs a graphical session' in headless.stderr,
              'orlivan-notifier without a display: %d %s' % (headless.returncode,
                                                             headless.stderr))
        print('package %s: %d files checked' % (os.path.basename(deb), len(expected)))
    finally:
        shutil.rmtree(out, ignore_errors=True)


if __name__ == '__main__':
    main()
