#include "app_qt/quit_signals_posix.h"

#include <QSocketNotifier>
#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

#include "channel/pipe_server_posix.h"

namespace {

int g_signalSocket[2] = {-1, -1};
QtMessageHandler g_nextMessageHandler = nullptr;

void OnSignal(int) {
    // The interrupted code may be about to read errno: it finds it unchanged.
    const int savedErrno = errno;
    const char byte = 1;
    // Only write(2) is safe here; the event loop does the rest.
    [[maybe_unused]] const ssize_t written = write(g_signalSocket[0], &byte, 1);
    errno = savedErrno;
}

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // Qt's Wayland client says "The Wayland connection broke ..." or "... experienced
    // a fatal error ..." and then ends the process without exit handlers; its
    // X11 client says "The X11 connection broke ..." and then calls exit(1).
    // The warning is passed on, and the process ends here with the display's
    // own exit code, so a service manager tells this end from a failure.
    const bool wayland = message.startsWith(QLatin1String("The Wayland connection "));
    const bool x11 = message.startsWith(QLatin1String("The X11 connection broke"));
    if (g_nextMessageHandler != nullptr) {
        g_nextMessageHandler(type, context, message);
    }
    if (type != QtWarningMsg || !(wayland || x11)) {
        return;
    }
    if (x11) {
        std::exit(kDisplayLostExitCode);  // its exit handler removes the socket file
    }
    RemoveLiveSocketFiles();
    _exit(kDisplayLostExitCode);
}

}  // namespace

void RemoveChannelWhenDisplayIsLost() {
    g_nextMessageHandler = qInstallMessageHandler(&OnQtMessage);
}

void CatchQuitSignals(QObject* parent, std::function<void()> quit) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [quit] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = read(g_signalSocket[1], &byte, 1);
        quit();
    });
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}
