"""The Linux notifier's tray icon as a StatusNotifierWatcher sees it: the
item's properties and menu over D-Bus, activation, a watcher that appears
late or restarts, and the icon and socket gone at the end.
Usage: tray_scenarios.py BUILD_DIR"""

import os
import signal

from harness import MENU_LABELS, check, has_owner, main, wait_for


def item_shows_tip_icon_and_menu(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    tip = desktop.item_property('ToolTip')
    check(str(tip[2]) == 'Orlivan Filter Notifier', 'tool tip %r' % (tip,))
    pixmaps = desktop.item_property('IconPixmap')
    check(len(pixmaps) > 0, 'no icon pixmap')
    for width, height, data in pixmaps:
        check(width == height and len(data) == 4 * width * height, 'pixmap %dx%d' % (width, height))
    check([label for label, _ in desktop.menu_entries()] == MENU_LABELS,
          'menu %r' % desktop.menu_entries())


def activation_and_settings_start_the_settings_program(new_desktop):
    desktop = new_desktop()
    desktop.start_notifier()
    desktop.item().Activate(0, 0, dbus_interface='org.kde.StatusNotifierItem')
    started = wait_for(lambda: desktop.recorded('settings-started'), 'the settings program')
    check(started == [desktop.root], 'started in the notifier\'s folder: %r' % started)
    desktop.click_menu('Settings')
    wait_for(lambda: len(desktop.recorded('settings-started')) == 2, 'a second start')


def missing_settings_program_is_silent(new_desktop):
    desktop = new_desktop()
    os.remove(os.path.join(desktop.install, 'ui', 'orlivan-ui'))
    notifier = desktop.start_notifier()
    desktop.click_menu('Settings')
    desktop.item().Activate(0, 0, dbus_interface='org.kde.StatusNotifierItem')
    sent = desktop.send('ack-only')  # still running and serving
    check('reply 1' in sent.stdout and notifier.poll() is None, sent.stdout)


def watcher_appearing_late_and_restarting_gets_the_icon(new_desktop):
    desktop = new_desktop(watcher=False)
    desktop.start_notifier()
    watcher = desktop.start_watcher()
    first = wait_for(desktop.items, 'the icon on a watcher that started late')
    desktop.stop_process(watcher)
    desktop.start_watcher()
    again = wait_for(desktop.items, 'the icon on the restarted watcher')
    check(len(first) == 1 and len(again) == 1, 'items %r then %r' % (first, again))
    check(str(desktop.item_property('ToolTip')[2]) == 'Orlivan Filter Notifier', 'tip')


def sigterm_removes_icon_and_socket(new_desktop):
    desktop = new_desktop()
    notifier = desktop.start_notifier()
    name = desktop.item().bus_name
    check(has_owner(name), 'the item is on the bus')
    notifier.send_signal(signal.SIGTERM)
    check(notifier.wait(10) == 0, 'the notifier ends with code 0')
    check(not os.path.exists(desktop.channel()), 'the socket is removed')
    check(not has_owner(name), 'the item is gone from the bus')
    check(desktop.log().endswith('Orlivan Sys Tray Log\n'), desktop.log())


if __name__ == '__main__':
    main([
        ('item: tool tip, icon and the five menu entries', item_shows_tip_icon_and_menu),
        ('activation and Settings start the settings program',
         activation_and_settings_start_the_settings_program),
        ('missing settings program: nothing happens', missing_settings_program_is_silent),
        ('watcher appearing late and restarting gets the icon',
         watcher_appearing_late_and_restarting_gets_the_icon),
        ('SIGTERM removes the icon and the socket', sigterm_removes_icon_and_socket),
    ])
