"""The .deb packages as a desktop and a developer would receive them: built
with cpack, lintian without errors or warnings, each unpacked into a clean
root with dpkg-deb, every file where the desktop looks for it, the desktop
entries, the D-Bus service that starts the notifier and the AppStream metadata
valid, the notifier a Wayland client on Wayland, Depends from dpkg-shlibdeps, the programs' --help and --version, their
manual pages saying what --help says, the SVG icon painting the icon's
drawing, and the unpacked notifier starting. Usage: package_test.py BUILD_DIR"""

import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from xml.etree import ElementTree

from harness import Desktop, check

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'src',
                                'app', 'resources'))
import make_icon  # noqa: E402

SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
# The product's icon, and for the notifications the same with each kind's emblem.
ICONS = ['orlivan-notifier'] + ['orlivan-notifier-' + kind
                                for kind in ('information', 'warning', 'error')]
ENTRIES = ['usr/share/applications/com.orlivan.Notifier.desktop',
           'etc/xdg/autostart/orlivan-notifier.desktop']
SERVICE = 'usr/share/dbus-1/services/com.orlivan.Notifier.service'
UNIT = 'usr/lib/systemd/user/orlivan-notifier.service'
METAINFO = 'usr/share/metainfo/com.orlivan.Notifier.metainfo.xml'
SVG = 'usr/share/icons/hicolor/scalable/apps/orlivan-notifier.svg'
# The variants the tray's item names: symbolic, and with the attention badge.
SVG_VARIANTS = ['usr/share/icons/hicolor/symbolic/apps/orlivan-notifier-symbolic.svg',
                'usr/share/icons/hicolor/scalable/apps/orlivan-notifier-attention.svg',
                'usr/share/icons/hicolor/symbolic/apps/orlivan-notifier-attention-symbolic.svg']

# package: (its only program, files besides the program, its manual page,
# changelog and copyright, libraries its Depends must name)
PACKAGES = {
    'orlivan-notifier': (
        'orlivan-notifier',
        ENTRIES + [SERVICE, UNIT, METAINFO, SVG,
                   'usr/share/doc/orlivan-notifier/user-notes.md'] + SVG_VARIANTS +
        ['usr/share/icons/hicolor/%dx%d/apps/%s.png' % (s, s, name)
         for name in ICONS for s in SIZES],
        ['libqt6widgets6', 'libqt6dbus6', 'libc6', 'libstdc++6']),
    'orlivan-service-standin': (
        'orlivan-service-standin',
        ['usr/share/doc/orlivan-service-standin/protocol.md'],
        ['libc6', 'libstdc++6']),
}

# The service library's runtime and development packages.
LIBRARY_PACKAGES = ['liborlivan-notify2', 'liborlivan-notify-dev']


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def words(text):
    return ' '.join(text.split())


def check_lintian(debs):
    # Errors and warnings fail; the informational tags are printed for the record.
    # (With --show-overrides lintian would fail on the overridden tags too.)
    result = run('lintian', '--fail-on', 'error,warning', '--display-info', *debs)
    print('lintian:\n' + result.stdout + result.stderr)
    check(result.returncode == 0, 'lintian: ' + result.stdout)


def check_program(root, program, package_version):
    path = os.path.join(root, 'usr/bin', program)
    help_run, version_run = run(path, '--help', timeout=20), run(path, '--version', timeout=20)
    check(help_run.returncode == 0 and help_run.stdout, program + ' --help: ' + help_run.stderr)
    upstream = package_version.rsplit('-', 1)[0]
    check(version_run.returncode == 0 and version_run.stdout == '%s %s\n' % (program, upstream),
          '%s --version: %r' % (program, version_run.stdout))
    # The manual page as man shows it: every line of --help is in it.
    page = os.path.join(root, 'usr/share/man/man1', program + '.1.gz')
    with gzip.open(page, 'rt') as f:
        roff = f.read()
    shown = run('groff', '-man', '-Tutf8', '-P-cbou', '-rLL=300n', input=roff, check=True)
    text = words(shown.stdout.replace('\u2212', '-').replace('\u2010', '-'))
    check(re.search(r'NAME\s+%s - \S' % re.escape(program), shown.stdout),
          program + ': the page has no NAME line')
    for line in help_run.stdout.splitlines():
        check(words(line) in text, '%s: the manual page lacks "%s"' % (program, line))


def check_svg_matches_drawing(root):
    """The SVG's shapes paint what the icon's drawing (make_icon.py) paints,
    sampled on a grid: they may differ only where the outlines approximate
    its curves."""
    svg = ElementTree.parse(os.path.join(root, SVG)).getroot()
    side = float(svg.get('viewBox').split()[2])
    shapes = []  # (colour, outline), painted in order
    for path in svg.iter('{http://www.w3.org/2000/svg}path'):
        numbers = [float(n) for n in re.findall(r'-?[\d.]+', path.get('d'))]
        fill = path.get('fill')
        shapes.append((tuple(int(fill[i:i + 2], 16) for i in (1, 3, 5)),
                       list(zip(numbers[0::2], numbers[1::2]))))

    def inside(outline, x, y):
        crossings = False
        for (x1, y1), (x2, y2) in zip(outline, outline[1:] + outline[:1]):
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                crossings = not crossings
        return crossings

    def painted(x, y):
        return next((colour for colour, outline in reversed(shapes) if inside(outline, x, y)),
                    None)

    grid = 128
    points = [((i + 0.5) / grid, (j + 0.5) / grid) for j in range(grid) for i in range(grid)]
    differ = sum(painted(x * side, y * side) != make_icon.sample(x, y, side) for x, y in points)
    print('SVG against the drawing: %d of %d points differ' % (differ, len(points)))
    check(differ <= len(points) // 200, 'the SVG icon is not the drawing: %d points' % differ)


def check_packages(build, out):
    run('cpack', '--config', build + '/CPackConfig.cmake', '-B', out, check=True)
    arch = run('dpkg', '--print-architecture').stdout.strip()
    debs = {}
    for package in PACKAGES:
        found = glob.glob('%s/%s_*_%s.deb' % (out, package, arch))
        check(len(found) == 1, 'one %s for %s: %r' % (package, arch, os.listdir(out)))
        debs[package] = found[0]
    for package in LIBRARY_PACKAGES:
        found = glob.glob('%s/%s_*_%s.deb' % (out, package, arch))
        check(len(found) == 1, 'one %s for %s: %r' % (package, arch, os.listdir(out)))
        debs[package] = found[0]
    check_lintian(list(debs.values()))
    check_library(out, debs)

    for package, (program, files, libraries) in PACKAGES.items():
        root = os.path.join(out, package)
        run('dpkg-deb', '-x', debs[package], root, check=True)
        version = run('dpkg-deb', '-f', debs[package], 'Version').stdout.strip()
        doc = 'usr/share/doc/%s/' % package
        for path in files + [doc + 'copyright', doc + 'changelog.Debian.gz',
                             'usr/share/man/man1/%s.1.gz' % program]:
            check(os.path.isfile(os.path.join(root, path)), package + ' lacks ' + path)
        check(os.listdir(os.path.join(root, 'usr/bin')) == [program],
              '%s ships %r in /usr/bin' % (package, os.listdir(os.path.join(root, 'usr/bin'))))
        depends = run('dpkg-deb', '-f', debs[package], 'Depends').stdout
        for library in libraries:
            check(library in depends, '%s: Depends lacks %s: %s' % (package, library, depends))
        # The unpacked programs run with the libraries the Depends name.
        check_program(root, program, version)

    root = os.path.join(out, 'orlivan-notifier')
    for name, size in ((name, size) for name in ICONS for size in SIZES):
        path = os.path.join(root, 'usr/share/icons/hicolor/%dx%d/apps/%s.png' %
                            (size, size, name))
        with open(path, 'rb') as png:
            head = png.read(24)
        check(head[:8] == b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', head[16:]) == (size, size),
              path)
    check_svg_matches_drawing(root)
    for entry in ENTRIES:
        result = run('desktop-file-validate', os.path.join(root, entry))
        check(result.returncode == 0 and not result.stdout.strip(), entry + result.stdout)
        with open(os.path.join(root, entry)) as f:
            text = f.read()
        exec_line = 'Exec=orlivan-notifier%s\n' % (' --activate' if 'applications' in entry else '')
        check(exec_line + 'TryExec=orlivan-notifier\n' in text, entry + ' starts orlivan-notifier')
    with open(os.path.join(root, SERVICE)) as f:
        check(f.read().splitlines()[1:] == ['Name=com.orlivan.Notifier',
                                            'Exec=/usr/bin/orlivan-notifier',
                                            'SystemdService=orlivan-notifier.service'], SERVICE)
    # The whole tree, so the launchable must name the desktop entry shipped.
    metainfo = run('appstreamcli', 'validate-tree', '--no-net', root)
    print('appstreamcli validate-tree: ' + metainfo.stdout.strip())
    check(metainfo.returncode == 0, 'AppStream metadata: ' + metainfo.stdout)
    check(ENTRIES[1] in run('dpkg-deb', '-I', debs['orlivan-notifier'], 'conffiles').stdout,
          'conffiles')
    check_wayland_platform(root, build)
    headless = run(root + '/usr/bin/orlivan-notifier', timeout=20,
                   env={'PATH': os.environ['PATH'], 'ORLIVAN_CHANNEL_DIR': out + '/ch'})
    check(headless.returncode == 1 and 'needs a graphical session' in headless.stderr,
          'orlivan-notifier without a display: ' + headless.stderr)


def check_wayland_platform(root, build):
    """On a Wayland session (weston, headless) the unpacked notifier is a
    Wayland client without QT_QPA_PLATFORM (the package recommends qt6-wayland)."""
    desktop = Desktop(build, watcher=False, notifications=None, display='wayland')
    try:
        del desktop.env['QT_QPA_PLATFORM']
        desktop.env['XDG_SESSION_TYPE'] = 'wayland'
        desktop.program = root + '/usr/bin/orlivan-notifier'
        desktop.start_notifier()
        check('Display platform: wayland\n' in desktop.log(), desktop.log())
    finally:
        desktop.close()


def check_library(out, debs):
    """The library's packages as a service team uses them: the symbols file
    lists exactly what the library exports, and the documented example builds
    with pkg-config against the unpacked packages and runs."""
    root = os.path.join(out, 'library')
    for package in LIBRARY_PACKAGES:
        run('dpkg-deb', '-x', debs[package], root, check=True)
    control = os.path.join(out, 'library-control')
    run('dpkg-deb', '-e', debs['liborlivan-notify2'], control, check=True)
    os.makedirs(root + '/debian')
    with open(root + '/debian/control', 'w') as f:
        f.write('Source: liborlivan-notify\n\nPackage: liborlivan-notify2\nArchitecture: any\n')
    version = run('dpkg-deb', '-f', debs['liborlivan-notify2'], 'Version').stdout.strip()
    symbols = run('dpkg-gensymbols', '-v' + version, '-pliborlivan-notify2', '-P' + root,
                  '-I' + control + '/symbols', '-O/dev/null', '-c4', cwd=root)
    check(symbols.returncode == 0, 'the symbols file: ' + symbols.stdout + symbols.stderr)
    libdir = root + '/usr/lib/' + run('dpkg-architecture', '-qDEB_HOST_MULTIARCH').stdout.strip()
    flags = run('pkg-config', '--cflags', '--libs', 'orlivan-notify',
                env=dict(os.environ, PKG_CONFIG_SYSROOT_DIR=root,
                         PKG_CONFIG_LIBDIR=libdir + '/pkgconfig'))
    example = root + '/usr/share/doc/liborlivan-notify-dev/examples/notify_users_linux.c'
    built = run('cc', '-o', out + '/example', example, *flags.stdout.split())
    check(flags.returncode == 0 and built.returncode == 0, 'the example: ' + built.stderr)
    # Without a system bus there is nobody to ask for the users.
    ran = run(out + '/example', timeout=20, env={'LD_LIBRARY_PATH': libdir,
              'DBUS_SYSTEM_BUS_ADDRESS': 'unix:path=' + out + '/no-bus'})
    check(ran.returncode == 1 and "list of sessions can't be read" in ran.stderr,
          'the example without logind: %d %s' % (ran.returncode, ran.stderr))


if __name__ == '__main__':
    work = tempfile.mkdtemp(prefix='orlivan-deb-')
    try:
        check_packages(sys.argv[1], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
