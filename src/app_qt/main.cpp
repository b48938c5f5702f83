// orlivan-notifier: the Orlivan Filter's per-user notifier on Linux desktops.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

#include "app_qt/orlivan_notifier.h"
#include "app_qt/quit_signals_posix.h"
#include "base/language.h"
#include "base/messages.h"
#include "channel/channel_access.h"
#include "channel/channel_name.h"
#include "channel/service.h"
#include "channel/user_account.h"

namespace {

bool g_guiReady = false;

// The program's own messages: a box on the display, else standard error.
void ReportToUser(const char* message) {
    if (g_guiReady) {
        QMessageBox::critical(nullptr, QString::fromUtf8(kProgramCaption),
                              QString::fromUtf8(message));
    } else {
        std::fprintf(stderr, "%s: %s\n", kProgramCaption, message);
    }
}

// Another notifier of this user holds the channel: it says so and ends.
void ReportChannelBusyAndExit() {
    ReportToUser(std::string(MessageText(MessageId::ChannelBusy)).c_str());
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

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/orlivan-notifier-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

}  // namespace

int main(int argc, char** argv) {
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
    QApplication::setDesktopFileName(QStringLiteral("orlivan-notifier"));
    QApplication::setWindowIcon(ProgramIcon());
    // No window of its own: closing a box or dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    g_guiReady = true;

    COrlivanNotifier notifier;
    if (!ChannelFolderIsPrivate()) {
        return 0;
    }
    // The channel, before the tray icon exists: when another notifier of this
    // user holds it, the process ends here with the message.
    CService::GetInstance(&ReportChannelBusyAndExit);
    CatchQuitSignals(&notifier, [&notifier] { notifier.RequestQuit(); });
    notifier.Start();
    QApplication::exec();
    notifier.Stop();
    return 0;
}
