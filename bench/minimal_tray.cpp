// The yardstick of the Linux notifier's start-up figures: the smallest Qt 6
// tray program (an icon with a tip and a one-entry menu), built in the same run.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkCyan);
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QCoreApplication::quit);
    QSystemTrayIcon icon{QIcon(pixmap)};
    icon.setToolTip(QStringLiteral("minimal tray"));
    icon.setContextMenu(&menu);
    icon.show();
    return QApplication::exec();
}
