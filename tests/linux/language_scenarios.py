"""The Linux notifier in German (LANGUAGE=de): the tray menu and tip, a
notification, the driver-error box and the About and update dialogs read over
D-Bus and the accessibility bus carry the catalogue's German texts (read from
po/de.po). Usage: language_scenarios.py BUILD_DIR [SCENARIO]"""

import os
import sys

from harness import check, main, wait_for

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'po'))
import compile_catalogue  # noqa: E402

_, TABLE = compile_catalogue.catalogue(os.path.join(os.path.dirname(compile_catalogue.__file__)))
# The menu's texts as the menu shows them, without their access keys.
DE = {k: compile_catalogue.without_mnemonic(t) if k.startswith('Menu') else t
      for k, t in TABLE['de'].items()}


def texts_in_german(new_desktop):
    desktop = new_desktop()
    desktop.env.update(LANGUAGE='de')
    desktop.start_notifier()
    menu = [label for label, _ in desktop.menu_entries()]
    check(menu == [DE[k] for k in ('MenuSettings', 'MenuCheckUpdate', 'MenuOnlineHelp',
                                   'MenuReportProblem', 'MenuAbout')], 'the menu: %r' % menu)
    check(str(desktop.item_property('ToolTip')[2]) == DE['TrayTip'], 'the tip')

    check('reply 1' in desktop.send('server-down').stdout, 'server-down answered')
    check([n[:2] for n in desktop.notifications()] == [
        (DE['ServerDownTitle'], DE['ServerDownText'])], repr(desktop.notifications()))

    sender = desktop.send_async('driver-error', '--error-code', '1275')
    title = DE['DriverErrorTitle']
    texts = desktop.texts(title)
    check(texts == ([DE['DriverErrorText'].replace('%d', '1275')], [DE['ButtonOk']]), repr(texts))
    desktop.screenshot('linux-de-driver-error.png')
    desktop.press(title)
    check('reply 1' in sender.communicate(timeout=10)[0], 'the reply after the box')

    desktop.serve('--version', '2.5.1', '--status', '5', '--text', 'a;2.6;Schneller')
    desktop.click_menu(DE['MenuAbout'])
    about = ([DE['AboutVersion'].replace('%s', '2.5.1'), DE['AboutText']], [DE['ButtonOk']])
    wait_for(lambda: desktop.texts(DE['AboutTitle']) == about, 'About to show %r' % (about,))
    desktop.screenshot('linux-de-about.png')
    desktop.press(DE['AboutTitle'])

    desktop.click_menu(DE['MenuCheckUpdate'])
    offer = compile_catalogue.re.sub('%s', '2.6', DE['UpdateOfferText'], count=1)
    texts = desktop.texts(DE['UpdateDialogTitle'])
    check(texts == ([offer.replace('%s', 'Schneller')], [DE['ButtonOk'], DE['ButtonCancel']]),
          'the offer shows %r' % (texts,))
    desktop.screenshot('linux-de-update.png')
    desktop.press(DE['UpdateDialogTitle'], 'Escape')


if __name__ == '__main__':
    main([texts_in_german])
