"""The Linux notifier's commands to the service: About with the installed
version, Check Update by status, the offer's OK and Cancel, the web pages, the
new-update notice. Usage: command_scenarios.py BUILD_DIR [SCENARIO]"""

import os

from harness import PROPERTIES, check, main, wait_for

PACKAGE = {'x86_64': 'amd64', 'aarch64': 'arm64', 'i686': 'i386'}.get(os.uname().machine)
INSTALLER = 'https://download.orlivan.com/linux/' + (
    '%s/OrlivanUpdate_%s.deb' % (PACKAGE, PACKAGE) if PACKAGE else '')
HELP = 'https://content.orlivan.com/content/how-setup-internet-parental-controls-linux'


def requests(log, code):
    with open(log) as f:
        return f.read().count('command 0x%x' % code)


ABOUT = ('Orlivan Notifier\nby Orlivan Software\n\nSupport: support@orlivan.com\n'
         'Contact: www.orlivan.com/contact')


def about_shows_the_version_asked_once(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    # Without a service no version line; then the service's, asked once and kept.
    log = None
    for line in ([], ['Orlivan Version 2.5.1'], ['Orlivan Version 2.5.1']):
        if line and log is None:
            log = desktop.serve('--version', '2.5.1')
        desktop.click_menu('About')
        # Shown at once, the version filled in when the service answers.
        wait_for(lambda: desktop.texts('Orlivan Info') == (line + [ABOUT], ['OK']),
                 'About to show %r' % (line + [ABOUT],))
        # A screen reader reads the dialog's text, the version included.
        described = desktop.accessible_window('Orlivan Info').description
        check(described == '\n'.join(line + [ABOUT]), 'About described as %r' % described)
        desktop.screenshot('linux-about.png')
        desktop.press('Orlivan Info')
    check(requests(log, 0x305) == 1, 'the version is asked once, then kept')


def hung_service_leaves_the_desktop_answering(new_desktop):
    desktop = new_desktop()
    notifier = desktop.start_notifier()
    desktop.serve('--delay', '60000')  # accepts, and answers nothing within the bound
    desktop.click_menu('About')
    check(desktop.texts('Orlivan Info') == (['Please wait...', ABOUT], ['OK']),
          'About, its version awaited')
    desktop.click_menu('Check Update')
    # The notifier's D-Bus objects answer while both exchanges wait.
    desktop.item().Get('org.kde.StatusNotifierItem', 'Id', dbus_interface=PROPERTIES, timeout=1)
    notifier.terminate()
    check(notifier.wait(5) == 0, 'the notifier ends with the exchanges pending')


ERROR = ['Cannot connect to Update Server.\nCheck your Network Connection and try again later']
OFFER = ('New version(2.6) of Orlivan is available. Do you want to update?\n\n\n'
         'Whats new: \n        ')
# What the service answers (None: no service), the window, its texts and
# buttons, the key pressed, what that opens.
CHECKS = [
    # The service's words are plain text, a tag in them too.
    (['--status', '4', '--text', '<b>2.5.1</b>'], 'Orlivan',
     (['This version of Orlivan(<b>2.5.1</b>) is the latest version.'], ['OK']), 'Return', []),
    (['--status', '7'], 'Update Error', (ERROR, ['OK']), 'Return', []),
    (None, 'Update Error', (ERROR, ['OK']), 'Return', []),
    (['--status', '5', '--text', 'a;2.6;Faster blocking'], 'Orlivan Update',
     ([OFFER + 'Faster blocking'], ['OK', 'Cancel']), 'Return', [INSTALLER]),
    (['--status', '5', '--text', 'a;2.6;x'], 'Orlivan Update', ([OFFER + 'x'], ['OK', 'Cancel']),
     'Escape', []),
]


def check_update_by_status(new_desktop):
    for serve, title, texts, key, opened in CHECKS:
        desktop = new_desktop()
        desktop.start_notifier()
        if serve is not None:
            desktop.serve(*serve)
        desktop.click_menu('Check Update')
        shown = desktop.texts(title)
        check(shown == texts, '%s shows %r' % (title, shown))
        desktop.press(title, key)
        desktop.click_menu('Online Help')  # then the help page, so the list is never empty
        pages = wait_for(lambda: desktop.recorded('opened')[-1:] == [HELP]
                         and desktop.recorded('opened'), 'the help page')
        check(pages[:-1] == opened, '%s %s opened %r' % (title, key, pages))
        desktop.close()  # the next one's watcher takes the bus name


def long_offer_wraps_to_fit_the_screen(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    news = 'Faster blocking of the sites a parent chose. ' * 40 + 'x' * 400  # and a long word
    desktop.serve('--status', '5', '--text', 'a;2.6;' + news)
    desktop.click_menu('Check Update')
    check(desktop.texts('Orlivan Update') == ([OFFER + news], ['OK', 'Cancel']), 'the whole text')
    shape = desktop.x11('xdotool', 'getwindowgeometry', '--shell',
                        desktop.windows('Orlivan Update')[0]).split()
    # On xvfb-run's 1280x800 screen, narrower than its text is long.
    check(300 < int(shape[3][6:]) <= 640 and int(shape[4][7:]) <= 800, repr(shape))


def report_problem_opens_the_contact_page(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    desktop.click_menu('Report Problem')
    wait_for(lambda: desktop.recorded('opened') == ['https://www.orlivan.com/contact'],
             'the contact page')


def new_update_notice_checks_silently_once(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    log = desktop.serve('--status', '4', '--text', '2.5.1')
    check(desktop.send('new-update', 'new-update').stdout.count('reply 1') == 2, 'replies')
    check(requests(log, 0x300) == 1, 'one silent check')
    check(not desktop.windows('Orlivan'), 'the silent check shows nothing for the latest version')
    check([n[:3] for n in desktop.notifications()] == [
        ('New Update', 'A new version of Orlivan is available for Update',
         'orlivan-notifier-information')],
        repr(desktop.notifications()))


if __name__ == '__main__':
    main([about_shows_the_version_asked_once, hung_service_leaves_the_desktop_answering,
          check_update_by_status, long_offer_wraps_to_fit_the_screen,
          report_problem_opens_the_contact_page, new_update_notice_checks_silently_once])
