"""The Linux notifier on the real GNOME Shell (Wayland, headless): what a user
of stock GNOME sees. One shell for the whole group (gnome_shell.py); each
scenario has its own notifier and channel folder (harness.Desktop), reads
the shell's message tray, panel and windows through org.gnome.Shell.Eval and
saves a screenshot in build/test-logs. Without GNOME Shell the group fails.
Usage: gnome_scenarios.py BUILD_DIR [SCENARIO]"""

import os
import sys

import harness
from gnome_shell import APPINDICATOR_EXTENSION, GnomeShell
from harness import MENU_LABELS, check, wait_for

SHELL = None  # the running GnomeShell


def gnome_desktop(new_desktop):
    """A scenario's world in the shell's session, the notifier on Wayland."""
    desktop = new_desktop(watcher=False, notifications=None)
    desktop.env.update(SHELL.env, **SHELL.wayland)
    desktop.env.update(QT_QPA_PLATFORM='wayland', ORLIVAN_CHANNEL_DIR=desktop.channels,
                       ORLIVAN_CONFIG=desktop.root + '/notifier.conf',
                       XDG_STATE_HOME=desktop.root + '/state',
                       PATH=desktop.root + '/bin:' + SHELL.env['PATH'])
    SHELL.clear_tray()
    return desktop


def set_appindicator(enabled):
    SHELL.eval("Main.extensionManager.%sExtension('%s'); true" %
               ('enable' if enabled else 'disable', APPINDICATOR_EXTENSION))


# ---- scenarios -------------------------------------------------------------

def notice_reaches_the_shell_from_the_desktop_entry(new_desktop):
    desktop = gnome_desktop(new_desktop)
    desktop.start_notifier()
    sent = desktop.send('https-site-blocked', '--detail', 'example.com')
    check('reply 1' in sent.stdout, sent.stdout + sent.stderr)
    notice = [SHELL.app_id, 'HTTPS Site Blocked', 'example.com was blocked by orlivan']
    try:
        wait_for(lambda: [n[:3] for n in SHELL.notices()] == [notice], 'the notice')
    except harness.Failure:
        raise harness.Failure('the shell\'s tray holds %r, not %r' % (SHELL.notices(), notice))
    SHELL.screenshot('gnome-notice.png')


def appindicator_shows_icon_and_menu(new_desktop):
    set_appindicator(True)
    try:
        desktop = gnome_desktop(new_desktop)
        desktop.start_notifier()
        indicator = ("Object.entries(Main.panel.statusArea).find(([k, v]) => "
                     "k.startsWith('appindicator-') && v && v.visible)?.[1]")
        wait_for(lambda: SHELL.eval('!!' + indicator) == 'true', 'the icon in the panel')
        SHELL.eval(indicator + '.menu.open(); true')
        labels = lambda: SHELL.eval_json(
            '%s.menu._getMenuItems().map(i => i.label ? i.label.text : "")'
            % indicator)
        wait_for(lambda: [t.replace('_', '') for t in labels()] == MENU_LABELS,
                 'the five commands in the panel\'s menu (%r)' % labels())
        SHELL.screenshot('gnome-appindicator-menu.png')
        SHELL.eval(indicator + '.menu.close(); true')
    finally:
        set_appindicator(False)


SCENARIOS = [notice_reaches_the_shell_from_the_desktop_entry, appindicator_shows_icon_and_menu]

if __name__ == '__main__':
    if sys.argv[1:] == ['--list']:
        harness.main(SCENARIOS)
        sys.exit(0)
    SHELL = GnomeShell(sys.argv[1])
    try:
        SHELL.start(appindicator=False)
        # The harness's D-Bus calls go to the shell's session bus.
        os.environ['DBUS_SESSION_BUS_ADDRESS'] = SHELL.env['DBUS_SESSION_BUS_ADDRESS']
        harness.main(SCENARIOS)
    except Exception as error:  # the shell did not come up: every scenario fails
        print('FAIL the GNOME session: %s: %s' % (type(error).__name__, error), flush=True)
        sys.exit(1)
    finally:
        SHELL.stop()
