#include "app_qt/orlivan_notifier.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSessionManager>
#include <QStyleHints>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <chrono>
#include <ctime>

#include "app_qt/desktop_activation.h"
#include "app_qt/catalogue_qt.h"
#include "app_qt/desktop_notifier.h"
#include "app_qt/info_dialog_qt.h"
#include "app_qt/tray.h"
#include "app_qt/update_offer_qt.h"
#include "notify/notification_loop.h"
#include "channel/pipe_server.h"
#include "channel/service.h"
#include "log/logger.h"
#include "base/code_page.h"
#include "locations/linux_desktop.h"
#include "notify/process_lookup.h"
#include "base/text.h"
#include "update/update_offer.h"
#include "locations/web_addresses.h"

namespace {

QString FromExternal(std::string_view text) {
    return QString::fromStdU16String(DecodeExternalText(text, nullptr));
}

QSystemTrayIcon::MessageIcon TrayMessageIcon(const std::string& iconName) {
    if (iconName == BalloonIconName(kBalloonIconInfo)) {
        return QSystemTrayIcon::Information;
    }
    if (iconName == BalloonIconName(2)) {  // NIIF_WARNING
        return QSystemTrayIcon::Warning;
    }
    if (iconName == BalloonIconName(kBalloonIconError)) {
        return QSystemTrayIcon::Critical;
    }
    return QSystemTrayIcon::NoIcon;
}

// A box or dialog the worker waits for was opened by a program in the
// background: it stays on top, so it is not lost behind other windows.
void KeepOnTopFor(QWidget& window, bool worker) {
    window.setWindowFlag(Qt::WindowStaysOnTopHint, worker);
}

void OpenWebAddress(const char* url) {
    // Outside a desktop portal Qt runs xdg-open; a failure is not reported.
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url)));
}

}  // namespace

COrlivanNotifier::COrlivanNotifier() {
    m_installPath = ReadInstallFolder();
    const std::string logFolder =
        LinuxLogFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
    MakeFolders(logFolder);  // a failure shows up only as a log that can't be opened
    CLogger::GetInstance(logFolder.empty() ? std::string() : LinuxLogFilePath(logFolder))
        ->Log(0, "Orlivan Sys Tray Log\n");
    qApp->installEventFilter(this);
    // The desktop's autostart entry starts the notifier at every login; a
    // session manager that also restarted it from the saved session would
    // start a second one, which finds the channel taken and says so.
    for (auto request : {&QGuiApplication::saveStateRequest, &QGuiApplication::commitDataRequest}) {
        connect(qApp, request, this, [](QSessionManager& session) {
            session.setRestartHint(QSessionManager::RestartNever);
        });
    }
}

COrlivanNotifier::~COrlivanNotifier() {
    delete m_infoDialog;
}

void COrlivanNotifier::Start() {
    // main() has made the channel (or ended the process) already.
    CService* service = CService::GetInstance();
    service->m_pipeServer->SetLogger(CLogger::GetInstance(std::string()));

    m_focus = new CFocusHandOver(this);
    m_menu = std::make_unique<QMenu>();
    for (const TrayMenuEntry& entry : kTrayMenu) {
        m_menu->addAction(CatalogueText(entry.label), this,
                          [this, command = entry.command] { RunTrayCommand(command); });
    }
    m_tray =
        std::make_unique<CTray>(CatalogueText(MessageId::TrayTip), [this] { OnTrayActivated(); });
    m_tray->SetMenu(m_menu.get());
    m_tray->Show();

    m_infoDialog = new CInfoDialogQt();

    m_boxesNeedNotice = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    m_desktop = std::make_unique<CDesktopNotifier>();
    m_worker = std::thread([this, service] {
        RunNotificationLoop(
            *service->m_pipeServer,
            [this](const NotificationRecord& record) { return ShowNotification(record); },
            CLogger::GetInstance(std::string()), kClientWaitLimit, &m_stopping);
        m_workerDone = true;
    });

    // Last, when every command can run: from now on the desktop's activation
    // reaches this notifier (and a call that started it is delivered).
    m_activation = new CDesktopActivation(
        [this](TrayCommand command, const FocusTokens& tokens) { RunTrayCommand(command, tokens); },
        this);
    if (!m_activation->Publish()) {
        CLogger::GetInstance(std::string())
            ->LogLine(0, std::string("Desktop activation unavailable: the bus name ") +
                             kApplicationId + " is not this notifier's\n");
    }
}

void COrlivanNotifier::MarkStopping() {
    {
        std::lock_guard<std::mutex> lock(m_pauseMutex);
        m_stopping = true;
    }
    m_pauseWake.notify_all();
}

void COrlivanNotifier::RequestQuit() {
    MarkStopping();
    // Ends the main loop and every nested one, so an open box or dialog
    // returns at once; the worker's record then gets no reply.
    QCoreApplication::exit(0);
}

// A quit comes from RequestQuit, and at logout from the session manager's
// "die" (the save before it asks nothing of the user).
bool COrlivanNotifier::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::Quit) {
        MarkStopping();
    }
    return QObject::eventFilter(watched, event);
}

void COrlivanNotifier::Stop() {
    MarkStopping();
    CService* service = CService::GetInstance();
    service->m_pipeServer->Shutdown();
    if (m_worker.joinable()) {
        // A job the worker hands over now is skipped; keep taking them until it ends.
        while (!m_workerDone) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_worker.join();
    }
    m_tray.reset();                 // takes the icon off the tray
    service->m_pipeServer.reset();  // removes the socket file
}

int32_t COrlivanNotifier::ShowNotification(const NotificationRecord& record) {
    const int32_t reply =
        DispatchNotification(record, *this, ProcessNotificationState(), PlatformCodePageDecoder());
    // A box closed by the program's end is not the user's answer: no reply.
    return m_stopping ? 0 : reply;
}

bool COrlivanNotifier::RunOnGui(const std::function<void()>& job) {
    if (QThread::currentThread() == thread()) {
        if (!m_stopping) {
            job();
        }
        return !m_stopping;
    }
    if (m_stopping) {
        return false;
    }
    // The job is handed over and its end awaited under m_jobMutex, so all the
    // worker wrote before is seen by the interface thread and all the job
    // wrote is seen by the worker after (a ThreadSanitizer build checks it).
    // The queued call only wakes the interface thread.
    std::unique_lock<std::mutex> lock(m_jobMutex);
    m_job = &job;
    m_jobFinished = false;
    lock.unlock();
    QMetaObject::invokeMethod(this, "RunPendingJob", Qt::QueuedConnection);
    lock.lock();
    m_jobDone.wait(lock, [this] { return m_jobFinished; });
    return !m_stopping;
}

void COrlivanNotifier::RunPendingJob() {
    std::unique_lock<std::mutex> lock(m_jobMutex);
    const std::function<void()>* job = m_job;
    m_job = nullptr;
    lock.unlock();
    if (job == nullptr) {
        return;
    }
    // Skipped once the end began (Stop keeps taking the worker's jobs).
    if (!m_stopping) {
        (*job)();
    }
    lock.lock();
    m_jobFinished = true;
    lock.unlock();
    m_jobDone.notify_all();
}

// ---- tray icon and menu (interface thread) ---------------------------------

void COrlivanNotifier::OnTrayActivated() {
    const FocusTokens tokens = TakeTrayActivationTokens();
    // Hosts send a click, a double click or both for one double click: the
    // settings program is started once for them.
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    if (m_lastLaunch.isValid() && m_lastLaunch.elapsed() < interval) {
        return;
    }
    m_lastLaunch.start();
    m_focus->Begin(tokens);
    LaunchSettingsProgram();
    m_focus->End();
}

void COrlivanNotifier::LaunchSettingsProgram() {
    // Started in the notifier's current folder with its environment and the
    // activation's focus tokens; a missing program is not reported.
    m_focus->Launch([this] {
        QProcess::startDetached(QString::fromStdString(LinuxSettingsProgramPath(m_installPath)), {},
                                QDir::currentPath());
    });
}

void COrlivanNotifier::RunTrayCommand(TrayCommand command, const FocusTokens& tokens) {
    if (m_stopping) {
        return;
    }
    m_focus->Begin(tokens);
    switch (command) {
        case TrayCommand::Settings:
            OnSettings();
            break;
        case TrayCommand::CheckUpdate:
            OnCheckUpdate();
            break;
        case TrayCommand::OnlineHelp:
            OnOnlineHelp();
            break;
        case TrayCommand::ReportProblem:
            OnReportProblem();
            break;
        case TrayCommand::About:
            OnAbout();
            break;
    }
    m_focus->End();
}

void COrlivanNotifier::OnSettings() {
    LaunchSettingsProgram();
}

void COrlivanNotifier::OnCheckUpdate() {
    // The interactive check: every outcome is shown, the latest version too.
    CService::GetInstance()->CheckForUpdate(false, *this);
}

void COrlivanNotifier::OnOnlineHelp() {
    m_focus->Launch([] { OpenWebAddress(URL_ONLINE_HELP.data()); });
}

void COrlivanNotifier::OnReportProblem() {
    m_focus->Launch([] { OpenWebAddress(URL_CONTACT.data()); });
}

void COrlivanNotifier::OnAbout() {
    m_infoDialog->ShowModal();
}

// ---- the dispatch's platform side (worker thread) --------------------------

void COrlivanNotifier::Log(int32_t level, const std::string& line) {
    CLogger::GetInstance(std::string())->LogLine(level, line);
}

void COrlivanNotifier::ShowBalloon(std::u16string_view title, std::u16string_view text,
                                   std::optional<uint32_t> infoFlags) {
    bool markup = false;
    const bool server = m_desktop->Available(&markup);
    const DesktopNotification notification = m_balloons.Compose(title, text, infoFlags, markup);
    if (server) {
        if (notification.close) {
            m_desktop->Close(m_shownNotification);
            m_shownNotification = 0;
        } else {
            m_shownNotification = m_desktop->Notify(notification);
        }
        return;
    }
    // No notification server: the tray's own message, when there is a tray.
    QMetaObject::invokeMethod(
        this,
        [this, notification] {
            if (m_tray != nullptr && !notification.close) {
                m_tray->ShowMessage(QString::fromStdString(notification.summary),
                                    QString::fromStdString(notification.body),
                                    TrayMessageIcon(notification.icon),
                                    notification.expireTimeoutMs);
            }
        },
        Qt::QueuedConnection);
}

void COrlivanNotifier::Pause(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    m_pauseWake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                         [this] { return m_stopping.load(); });
}

void COrlivanNotifier::ShowErrorBox(std::u16string_view text, std::u16string_view caption) {
    const QString boxText = QString::fromStdU16String(std::u16string(text));
    const QString boxCaption = QString::fromStdU16String(std::u16string(caption));
    // Wayland compositors may keep the box behind the window the user clicks
    // (keep-above is only a request there): a critical notification with the
    // same words stays on screen until the box is answered.
    uint32_t notice = 0;
    bool markup = false;
    if (m_boxesNeedNotice && m_desktop->Available(&markup)) {
        notice = m_desktop->Notify(BoxCompanionNotification(caption, text, markup));
    }
    RunOnGui([&] {
        QMessageBox box(QMessageBox::Critical, boxCaption, boxText, QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        TranslateButtons(box);
        KeepOnTopFor(box, true);
        box.exec();
    });
    m_desktop->Close(notice);
}

void COrlivanNotifier::CheckForUpdateSilently() {
    // Shows nothing when the installed version is the latest; an offer or an
    // error is shown while this (the worker) thread waits.
    CService::GetInstance()->CheckForUpdate(true, *this);
}

std::string COrlivanNotifier::GetProcessName(int32_t processId) {
    return ::GetProcessName(processId);
}

int64_t COrlivanNotifier::Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// ---- the update check's screen (either thread) -----------------------------

void COrlivanNotifier::ShowMessage(const std::string& caption, const std::string& text) {
    const bool worker = QThread::currentThread() != thread();
    RunOnGui([&] {
        QMessageBox box(QMessageBox::NoIcon, FromExternal(caption), FromExternal(text),
                        QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);  // the service's words, never markup
        TranslateButtons(box);
        KeepOnTopFor(box, worker);
        box.exec();
    });
}

CUpdateDialog* COrlivanNotifier::CreateUpdateDialog(const std::string& updateText) {
    return new CUpdateDialog(updateText);
}

void COrlivanNotifier::RunUpdateDialog(CUpdateDialog* offer) {
    const bool worker = QThread::currentThread() != thread();
    RunOnGui([offer, worker] {
        QDialog dialog;
        KeepOnTopFor(dialog, worker);
        dialog.setWindowTitle(CatalogueText(MessageId::UpdateDialogTitle));
        auto* layout = new QVBoxLayout(&dialog);
        auto* text = new QLabel(FromExternal(offer->OfferText()), &dialog);
        text->setObjectName(QStringLiteral("offer"));
        text->setTextFormat(Qt::PlainText);  // the service's words, never markup
        layout->addWidget(text);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setDefault(true);
        TranslateButtons(*buttons);
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&dialog] {
            OpenWebAddress(LinuxPackageUrl(MachineName()).c_str());
            dialog.accept();
        });
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        dialog.exec();
    });
}

void COrlivanNotifier::DeleteUpdateDialog(CUpdateDialog* dialog) {
    delete dialog;
}
