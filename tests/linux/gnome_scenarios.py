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
CRITICAL = 3  # the shell's urgency of a critical notification


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


def start_activatable(desktop):
    """Starts the notifier and waits until it owns its application id: the
    desktop's activation before that would start a second notifier."""
    desktop.start_notifier()
    wait_for(lambda: harness.has_owner(SHELL.app_id[:-len('.desktop')]), 'the bus name')


def window_titles():
    """The titles of the windows on screen (their map animation over)."""
    return SHELL.eval_json('global.get_window_actors().filter(a => a.visible && '
                           'a.opacity === 255 && a.scale_x === 1).map(a => a.meta_window'
                           '.get_title())')


def set_appindicator(enabled):
    SHELL.eval("Main.extensionManager.%sExtension('%s'); true" %
               ('enable' if enabled else 'disable', APPINDICATOR_EXTENSION))


def app(script):
    """`script` on the notifier's app as the shell knows it (`a`)."""
    return SHELL.eval_json("(() => { const a = imports.gi.Shell.AppSystem.get_default()"
                           ".lookup_app('%s'); return %s; })()"
                           % (SHELL.app_id, script))


def action_named(label):
    """The desktop action whose name is `label`."""
    actions = app('a.get_app_info().list_actions().map(x => [x, a.get_app_info()'
                  '.get_action_name(x)])')
    named = [action for action, name in actions if name == label]
    check(len(named) == 1, 'one desktop action "%s" in %r' % (label, actions))
    return named[0]


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
    # The banner's image: the product's icon with the information emblem.
    images = SHELL.eval_json('Main.messageTray.getSources().flatMap(s => s.notifications)'
                             '.map(n => n.gicon && n.gicon.to_string())')
    check(images == ['orlivan-notifier-information'], 'the image %r' % images)
    SHELL.screenshot('gnome-notice.png')


def appindicator_shows_icon_and_menu(new_desktop):
    set_appindicator(True)
    try:
        desktop = gnome_desktop(new_desktop)
        desktop.start_notifier()
        indicator = ("Object.entries(Main.panel.statusArea).find(([k, v]) => "
                     "k.startsWith('appindicator-') && v && v.visible)?.[1]")
        wait_for(lambda: SHELL.eval('!!' + indicator) == 'true', 'the icon in the panel')
        # None until the indicator has built its menu.
        labels = lambda: SHELL.eval_json(
            '%s.menu._getMenuItems().map(i => i.label ? i.label.text : "")' % indicator) or []
        wait_for(lambda: [t.replace('_', '') for t in labels()] == MENU_LABELS,
                 'the five commands in the panel\'s menu (%r)' % labels())
        # Opened as a right click on the icon opens it.
        check(SHELL.eval(indicator + '.menu.open(); %s.menu.isOpen' % indicator) == 'true',
              'the menu opens')
        SHELL.screenshot('gnome-appindicator-menu.png')
        SHELL.eval(indicator + '.menu.close(); true')
    finally:
        set_appindicator(False)


def banner_click_starts_nothing_new(new_desktop):
    desktop = gnome_desktop(new_desktop)
    start_activatable(desktop)
    check('reply 1' in desktop.send('server-down').stdout, 'the notice sent')
    wait_for(lambda: SHELL.notices(), 'the notice in the tray')
    before = desktop.notifier_pids()
    SHELL.eval('Main.messageTray.getSources().flatMap(s => s.notifications)'
               '.forEach(n => n.activate()); true')
    # Activating the app does what a double click on the icon does.
    wait_for(lambda: desktop.recorded('settings-started'), 'the settings program')
    check(desktop.notifier_pids() == before,
          'no second notifier: %r, then %r' % (before, desktop.notifier_pids()))
    titles = window_titles()
    check(not any('orlivan' in t.lower() for t in titles), 'no box: %r' % titles)
    SHELL.screenshot('gnome-banner-clicked.png')


def commands_reachable_without_a_tray_host(new_desktop):
    desktop = gnome_desktop(new_desktop)
    start_activatable(desktop)
    check(app('a.get_app_info().should_show()') is True, 'the entry is shown in the overview')
    names = app('a.get_app_info().list_actions().map(x => a.get_app_info().get_action_name(x))')
    check(names == MENU_LABELS, 'the desktop actions %r' % names)
    app("a.launch_action('%s', 0, -1)" % action_named('Report Problem'))
    wait_for(lambda: desktop.recorded('opened') == ['https://www.orlivan.com/contact'],
             'the contact page')
    # Typed into the overview's search, its name finds it.
    SHELL.eval("Main.overview.show(); Main.overview.searchEntry.set_text('Orlivan'); true")
    results = ('Main.overview._overview.controls._searchController._searchResults'
               '._results.applications')
    wait_for(lambda: SHELL.eval_json(
        '!Main.overview.animationInProgress && %s' % results) == [SHELL.app_id],
        'the search result in the overview')
    SHELL.screenshot('gnome-overview-search.png')
    SHELL.eval("Main.overview.searchEntry.set_text(''); Main.overview.hide(); true")
    # A desktop action runs in the running notifier.
    before = desktop.notifier_pids()
    app("a.launch_action('%s', 0, -1)" % action_named('About'))
    wait_for(lambda: 'Orlivan Info' in window_titles(), 'the About box')
    check(desktop.notifier_pids() == before, 'no second notifier')
    SHELL.screenshot('gnome-action-about.png')


def overview_action_hands_the_desktops_token(new_desktop):
    desktop = gnome_desktop(new_desktop)
    start_activatable(desktop)
    # As the overview's menu of the app runs an action: the shell makes the
    # activation token (the desktop entry asks for startup notification).
    app("a.launch_action('%s', global.get_current_time(), -1)" % action_named('Settings'))
    tokens = wait_for(lambda: desktop.recorded('settings-tokens'), 'the settings program')
    token = tokens[0].split('|')[0]
    check(len(tokens) == 1 and token, 'the settings program got no token: %r' % tokens)
    check(token not in desktop.env.values(), 'the token was the test\'s own')


def tray_menu_command_asks_the_compositor_for_a_token(new_desktop):
    set_appindicator(True)
    try:
        desktop = gnome_desktop(new_desktop)
        desktop.start_notifier()
        wait_for(lambda: 'Settings' in dict(desktop.menu_entries()), 'the menu on the panel')
        desktop.click_menu('Settings')
        tokens = wait_for(lambda: desktop.recorded('settings-tokens'), 'the settings program')
        token = tokens[0].split('|')[0]
        check(len(tokens) == 1 and token, 'the settings program got no token: %r' % tokens)
        check(token not in desktop.env.values(), 'the token was the test\'s own')
    finally:
        set_appindicator(False)


def driver_error_is_seen_on_wayland(new_desktop):
    desktop = gnome_desktop(new_desktop)
    desktop.start_notifier()
    sender = desktop.send_async('driver-error', '--error-code', '-5', '--timeout', '60000')
    wait_for(lambda: 'Orlivan Driver Error' in window_titles(), 'the driver-error box')
    critical = lambda: [n for n in SHELL.notices() if n[1] == 'Orlivan Driver Error'
                        and n[3] == CRITICAL]
    wait_for(critical, 'a critical notification beside the box')
    # The user clicks elsewhere: the shell's own overview comes and goes.
    SHELL.eval('Main.overview.show(); Main.overview.hide(); true')
    check(critical(), 'the critical notification stays')
    SHELL.screenshot('gnome-driver-error.png')
    check(sender.poll() is None, 'the reply waits for the box')
    SHELL.eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.get_title() === "
               "'Orlivan Driver Error').forEach(w => w.delete(global.get_current_time())); true")
    check('reply 1' in sender.communicate(timeout=30)[0], 'the reply after the box')
    wait_for(lambda: not critical(), 'the critical notification gone with the box')


SCENARIOS = [notice_reaches_the_shell_from_the_desktop_entry, appindicator_shows_icon_and_menu,
             banner_click_starts_nothing_new, commands_reachable_without_a_tray_host,
             overview_action_hands_the_desktops_token,
             tray_menu_command_asks_the_compositor_for_a_token,
             driver_error_is_seen_on_wayland]

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
