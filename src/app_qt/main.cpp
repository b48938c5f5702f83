// orlivan-notifier: the Orlivan Filter's per-user notifier on Linux desktops.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QIcon>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app_qt/catalogue_qt.h"
#include "app_qt/focus_hand_over.h"
#include "app_qt/orlivan_notifier.h"
#include "app_qt/quit_signals_posix.h"
#include "base/language.h"
#include "base/messages.h"
#include "channel/channel_access.h"
#include "channel/channel_name.h"
#include "channel/service.h"
#include "channel/user_account.h"
#include "log/logger.h"
#include "notify/desktop_application.h"
#include "orlivan_version.h"

namespace {

bool g_guiReady = false;
// Started by the desktop entry (kActivateOption), with its launcher's focus tokens.
bool g_activate = false;
FocusTokens g_launchTokens;

// The text of --help; the manual page is made from it at build time.
constexpr char kHelpText[] =
    R"(orlivan-notifier: the notifier of the Orlivan internet filter for Linux
desktops. It shows the filter service's notices as desktop notifications,
keeps the filter's icon and menu in the tray, and offers the filter's
updates. The package starts it in every graphical session: with systemd's
user manager as orlivan-notifier.service (part of graphical-session.target),
elsewhere from XDG autostart; one notifier runs per user.

USAGE
  orlivan-notifier            start the notifier (needs a graphical session)
  orlivan-notifier --activate as the desktop entry starts it: the running
                              notifier is activated (it starts the settings
                              program), or the notifier starts and is
                              activated
  orlivan-notifier --help     print this help and exit
  orlivan-notifier --version  print the version and exit
  Other arguments are Qt's own options, for example -platform NAME.

CHANNELS
  The notifier listens on the user's notification channel, a Unix domain
  socket: $XDG_RUNTIME_DIR/orlivan/notification (without XDG_RUNTIME_DIR
  /run/user/<uid>/orlivan/notification); only the user can enter the
  folder. It asks the service's command channel, /run/orlivan/command, for
  the installed version and for updates.

D-BUS
  The running notifier owns com.orlivan.Notifier on the session bus and
  answers org.freedesktop.Application at /com/orlivan/Notifier: activation
  starts the settings program; the actions settings, check-update,
  online-help, report-problem and about run the tray menu's commands. When
  none runs, the bus starts one (com.orlivan.Notifier.service). The
  platform data's activation-token and desktop-startup-id go to the
  program started (the settings program, the browser) as
  XDG_ACTIVATION_TOKEN and DESKTOP_STARTUP_ID, and on Wayland the
  activation token to a dialog of the notifier's own.

ENVIRONMENT
  ORLIVAN_CHANNEL_DIR  the folder of both channels instead of the above
  ORLIVAN_CONFIG       the configuration file instead of
                       /etc/orlivan/notifier.conf
  XDG_STATE_HOME       where the log folder is (default ~/.local/state)
  XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID
                       with --activate: the launcher's focus tokens, handed
                       on as an activation's
  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM
                       the graphical session; with none of them set the
                       notifier does not start

FILES
  /etc/orlivan/notifier.conf
      InstallPath= the filter's folder (default /opt/orlivan/); the tray
      menu's settings program is <folder>/ui/orlivan-ui
  $XDG_STATE_HOME/orlivan/OrlivanSysTray.log
      the log

EXIT CODES
  0 ended by SIGTERM, SIGINT, SIGHUP or the session's logout; or another
    notifier of this user already runs (said in a message; with --activate
    that notifier is activated instead), or the channel's folder belongs to
    another user or is open to others (said in a message)
  1 no graphical session
  2 the display went away (the session ended): not a failure, so the
    systemd user unit (orlivan-notifier.service) does not start it again
  Any other end (a crash, another code) is a failure, after which the unit
  starts it again.
)";

// --help (or -h) anywhere on the line, or --version: answered on standard
// output without starting the notifier. Returns whether it was one of them.
bool AnswerInformationRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelpText, stdout);
            return true;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orlivan-notifier %s\n", ORLIVAN_VERSION_TEXT);
            return true;
        }
    }
    return false;
}

// The program's own messages: a box on the display, else standard error.
void ReportToUser(const char* message) {
    if (g_guiReady) {
        QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kProgramCaption),
                        QString::fromUtf8(message), QMessageBox::Ok);
        TranslateButtons(box);
        DescribeBox(box);
        box.exec();
    } else {
        std::fprintf(stderr, "%s: %s\n", kProgramCaption, message);
    }
}

// Activates the notifier that owns the application id, waiting a moment for
// it to take the name (it does once it serves its channel); false when none
// answers. Never starts one: the caller is the one that would be started.
bool ActivateRunningNotifier() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    const QString name = QString::fromUtf8(kApplicationId);
    for (int wait = 0; wait < 50 && !bus.interface()->isServiceRegistered(name); ++wait) {
        QThread::msleep(100);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, QString::fromUtf8(kApplicationObjectPath),
        QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    call << g_launchTokens.PlatformData();
    call.setAutoStartService(false);
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

// Another notifier of this user holds the channel: the activation it was
// started for goes to that one, or it says so; then it ends.
void ReportChannelBusyAndExit() {
    const std::string text(MessageText(MessageId::ChannelBusy));
    // Started by the bus to deliver an activation (DBUS_STARTER_BUS_TYPE is
    // the bus daemon's mark) in the moment before the running notifier owns
    // its application id: that notifier is this user's, so the desktop's
    // click gets no box; the message goes to standard error (the bus's log).
    switch (AnswerSecondStart(std::getenv("DBUS_STARTER_BUS_TYPE") != nullptr, g_activate)) {
        case SecondStart::Quiet:
            std::fprintf(stderr, "%s\n", text.c_str());
            std::exit(0);
        case SecondStart::ActivateRunning:
            if (g_guiReady && ActivateRunningNotifier()) {
                std::exit(0);
            }
            break;
        case SecondStart::Report:
            break;
    }
    ReportToUser(text.c_str());
    std::exit(0);
}

// The channel's folder must be the user's alone; it is made so when missing.
bool ChannelFolderIsPrivate() {
    const std::string folder = ChannelFolderOf(NotificationChannelName(GetCurrentUserSidString()));
    const FolderVerdict verdict = PrepareChannelFolder(folder, FolderUse::Private);
    if (verdict == FolderVerdict::Usable) {
        return true;
    }
    ReportToUser(ChannelFolderRefusalText(verdict, folder).c_str());
    return false;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

// The sizes the notifier itself hands over: the tray item's (up to 64 px),
// the notifications' and the title bars'. Each is decoded at start and kept
// for the whole session (the 256 px image alone is 256 KiB), so the larger
// ones launchers and task switchers show come from the installed icon theme
// by the application id instead.
QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        icon.addFile(QStringLiteral(":/icons/orlivan-notifier-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInformationRequest(argc, argv)) {
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        g_activate = g_activate || std::strcmp(argv[i], kActivateOption) == 0;
    }
    // Before anything reads them: the launcher's tokens are handed on only
    // with the activation they came with.
    g_launchTokens = FocusTokens::TakeFromEnvironment();
    SetMessageLanguage(ChooseLanguage(LinuxLanguagePreferences(
        std::getenv("ORLIVAN_LANG"), std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
        std::getenv("LC_MESSAGES"), std::getenv("LANG"))));
    if (!HasDisplay()) {
        // Without a display the same checks answer on standard error: a
        // second instance still ends with code 0.
        if (!ChannelFolderIsPrivate()) {
            return 0;
        }
        CService::GetInstance(&ReportChannelBusyAndExit);
        ReportToUser(std::string(MessageText(MessageId::NeedsDisplay)).c_str());
        return 1;
    }

    RemoveChannelWhenDisplayIsLost();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kProgramCaption));
    // The application id: Wayland compositors match the program's windows to
    // its desktop entry by it.
    QApplication::setDesktopFileName(QString::fromUtf8(kApplicationId));
    QApplication::setWindowIcon(ProgramIcon());
    // No window of its own: closing a box or dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    g_guiReady = true;

    COrlivanNotifier notifier;
    // Which display it drew on, for support: "wayland" on a Wayland session
    // with Qt's Wayland plugin (qt6-wayland), "xcb" on X11 or XWayland.
    CLogger::GetInstance(std::string())
        ->LogLine(0, "Display platform: " + QGuiApplication::platformName().toStdString() + "\n");
    if (!ChannelFolderIsPrivate()) {
        return 0;
    }
    // The channel, before the tray icon exists: when another notifier of this
    // user holds it, the process ends here with the message.
    CService::GetInstance(&ReportChannelBusyAndExit);
    CatchQuitSignals(&notifier, [&notifier] { notifier.RequestQuit(); });
    notifier.Start();
    if (g_activate) {
        // Started by the desktop entry while none ran: activated once it runs.
        QTimer::singleShot(0, &notifier, [&notifier] {
            notifier.RunTrayCommand(kActivationCommand, g_launchTokens);
        });
    }
    QApplication::exec();
    notifier.Stop();
    return 0;
}
