"""The Linux notifier's commands to the service: About with the installed
version, Check Update by status, the update offer's OK, the web pages, and the
new-update notice. Usage: command_scenarios.py BUILD_DIR"""

import os

from harness import check, main, wait_for

DOWNLOAD = 'http://download.orlivan.com/windows7/'
INSTALLER = (DOWNLOAD + 'amd64/OrlivanUpdate_amd64.exe' if os.uname().machine == 'x86_64'
             else DOWNLOAD + 'x86/OrlivanUpdate_x86.exe')


def requests(log_path, code):
    try:
        with open(log_path) as f:
            return f.read().count('command 0x%x' % code)
    except OSError:
        return 0


def about_shows_the_version_asked_once(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    log = desktop.serve('--version', '2.5.1')
    for _ in range(2):
        desktop.click_menu('About')
        wait_for(lambda: desktop.windows('Orlivan Info'), 'the About dialog')
        logs = os.environ.get('ORLIVAN_TEST_LOGS')
        if logs:
            desktop.screenshot(os.path.join(logs, 'linux-about.png'))
        desktop.press('Orlivan Info')
    check(requests(log, 0x305) == 1, 'the version is asked once, then kept')


# Check Update by what the service answers: stand-in arguments (None: no
# service), the window that opens, and what its OK opens (None: nothing).
CHECKS = [
    (['--status', '4', '--text', '2.5.1'], 'Orlivan', None),
    (['--status', '7'], 'Update Error', None),
    (None, 'Update Error', None),
    (['--status', '5', '--text', 'a;2.6;Faster blocking'], 'Orlivan Update', INSTALLER),
]


def check_update_by_status(new_desktop):
    for serve, title, opened in CHECKS:
        desktop = new_desktop()
        desktop.start_notifier()
        if serve is not None:
            desktop.serve(*serve)
        desktop.click_menu('Check Update')
        desktop.press(title)
        wait_for(lambda: desktop.recorded('opened') == ([opened] if opened else []) or None,
                 'opened %r for %r, got %r' % (opened, title, desktop.recorded('opened')),
                 timeout=5)
        desktop.close()  # the next one's watcher takes the bus name


def update_offer_cancel_opens_nothing(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    desktop.serve('--status', '5', '--text', 'a;2.6;x')
    desktop.click_menu('Check Update')
    desktop.press('Orlivan Update', 'Escape')
    desktop.click_menu('Online Help')
    desktop.click_menu('Report Problem')
    wait_for(lambda: len(desktop.recorded('opened')) == 2, 'the two web pages')
    check(desktop.recorded('opened') == [
        'http://content.orlivan.com/content/how-setup-internet-parental-controls-windows-7',
        'http://www.orlivan.com/contact'], repr(desktop.recorded('opened')))


def new_update_notice_checks_silently_once(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    log = desktop.serve('--status', '4', '--text', '2.5.1')
    sent = desktop.send('new-update', 'new-update')
    check(sent.stdout.count('reply 1') == 2, sent.stdout)
    check(requests(log, 0x300) == 1, 'one silent check')
    check(not desktop.windows('Orlivan'), 'the silent check shows nothing for the latest version')
    check([n[:3] for n in desktop.notifications()] ==
          [('New Update', 'A new version of Orlivan is available for Update',
            'dialog-information')], repr(desktop.notifications()))


if __name__ == '__main__':
    main([
        ('About shows the version, asked once', about_shows_the_version_asked_once),
        ('Check Update: latest, error, no service, offer with OK', check_update_by_status),
        ('update offer cancelled; help and contact pages', update_offer_cancel_opens_nothing),
        ('new-update notice: one silent check, then notifications',
         new_update_notice_checks_silently_once),
    ])
