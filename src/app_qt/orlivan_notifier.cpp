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
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QSessionManager>
#include <QStandardPaths>
#include <QStyleHints>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <system_error>

#include "app_qt/box_hand_over.h"
#include "app_qt/desktop_activation.h"
#include "app_qt/catalogue_qt.h"
#include "app_qt/desktop_notifier.h"
#include "app_qt/info_dialog_qt.h"
#include "app_qt/session_scope.h"
#include "app_qt/tray.h"
#include "app_qt/update_offer_qt.h"
#include "notify/notification_loop.h"
#include "channel/pipe_client.h"
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

void OpenWebAddress(const char* url) {
    // Run as a systemd unit, xdg-open is started here so that it (and the
    // browser it starts) gets a scope of its own. Otherwise, outside a desktop
    // portal, Qt runs xdg-open; a failure is not reported.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    qint64 pid = 0;
    if (RunsAsSystemdUnit() && !opener.isEmpty() &&
        QProcess::startDetached(opener, {QString::fromUtf8(url)}, QDir::currentPath(), &pid)) {
        MoveToOwnScope(pid, QStringLiteral("browser"));
        return;
    }
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
    m_boxes = new CBoxHandOver(m_stopping, this);
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
        m_menu->addAction(CatalogueText(entry.label), this, [this, command = entry.command] {
            RunWithTrayMenuTokens(this, [this, command](const FocusTokens& tokens) {
                RunTrayCommand(command, tokens);
            });
        });
    }
    m_tray =
        std::make_unique<CTray>(CatalogueText(MessageId::TrayTip), [this] { OnTrayActivated(); });
    m_tray->SetMenu(m_menu.get());
    m_tray->Show();
    // The item asks for attention while a box the worker waits on is open, so
    // a box hidden behind other windows is found from the panel.
    connect(m_boxes, &CBoxHandOver::ProgramBoxesWaiting, this, [this](bool waiting) {
        if (m_tray != nullptr) {
            m_tray->SetAttention(waiting);
        }
    });

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
    m_boxes->WakeWaiting();
}

void COrlivanNotifier::RequestQuit() {
    MarkStopping();
    // Ends the main loop; the threads waiting for a box stop waiting, and the
    // worker's record then gets no reply.
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
    // The application id and the tray item go first: while the threads end,
    // the desktop neither calls a notifier that no longer serves nor shows
    // its icon.
    if (m_activation != nullptr) {
        m_activation->Withdraw();
    }
    m_tray.reset();  // takes the icon off the tray
    CService* service = CService::GetInstance();
    service->m_pipeServer->Shutdown();
    service->m_pipeClient->Interrupt();  // an exchange under way gives up
    // A job a thread hands over now is skipped; keep taking them until all end.
    const auto running = [this] {
        return (m_worker.joinable() && !m_workerDone) || m_versionExchange.running ||
               m_updateCheck.running;
    };
    while (running()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::thread* thread : {&m_worker, &m_versionExchange.thread, &m_updateCheck.thread}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
    m_boxes->CloseAll();
    service->m_pipeServer.reset();  // removes the socket file
}

int32_t COrlivanNotifier::ShowNotification(const NotificationRecord& record) {
    const int32_t reply =
        DispatchNotification(record, *this, ProcessNotificationState(), PlatformCodePageDecoder());
    // A box closed by the program's end is not the user's answer: no reply.
    return m_stopping ? 0 : reply;
}

bool COrlivanNotifier::WaitForBox(BoxOpener opener, const QString& caption, const QString& text,
                                  uint32_t iconKind, const std::function<QDialog*()>& open) {
    // Wayland compositors may keep the box behind the window the user clicks
    // (keep-above is only a request there): a critical notification with the
    // same words stays on screen until the box is answered, so the worker
    // that waits for it is never held by a box nobody can find.
    const bool notice = opener == BoxOpener::Program && m_boxesNeedNotice;
    if (notice) {
        m_desktop->ShowBoxNotice(caption.toStdU16String(), text.toStdU16String(), iconKind);
    }
    const bool answered = m_boxes->ShowAndWait(open, opener);
    if (notice) {
        m_desktop->BoxAnswered();
    }
    return answered;
}

bool COrlivanNotifier::StartExchange(ExchangeTask& task, std::function<void()> work) {
    if (m_stopping || task.running) {
        return false;
    }
    if (task.thread.joinable()) {
        task.thread.join();  // the last one, ended
    }
    task.running = true;
    try {
        task.thread = std::thread([&task, work = std::move(work)] {
            work();
            task.running = false;
        });
    } catch (const std::system_error&) {
        task.running = false;  // no thread to be had: the command does nothing
        return false;
    }
    return true;
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
        qint64 pid = 0;
        if (QProcess::startDetached(QString::fromStdString(LinuxSettingsProgramPath(m_installPath)),
                                    {}, QDir::currentPath(), &pid) &&
            RunsAsSystemdUnit()) {
            MoveToOwnScope(pid, QStringLiteral("settings"));
        }
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
    // The interactive check: every outcome is shown, the latest version too,
    // when the service answers (within the exchange's bound). One at a time:
    // a second command while one is under way brings nothing more.
    if (StartExchange(m_updateCheck,
                      [this] { CService::GetInstance()->CheckForUpdate(false, m_menuScreen); })) {
        m_focus->KeepForAnswer();  // for the window that shows the answer
    }
}

void COrlivanNotifier::OnOnlineHelp() {
    m_focus->Launch([] { OpenWebAddress(URL_ONLINE_HELP.data()); });
}

void COrlivanNotifier::OnReportProblem() {
    m_focus->Launch([] { OpenWebAddress(URL_CONTACT.data()); });
}

void COrlivanNotifier::OnAbout() {
    // Made when first opened: its widgets and the style's icon theme cost
    // about 1 MiB, which most sessions never need.
    if (m_infoDialog == nullptr) {
        m_infoDialog = new CInfoDialogQt();
    }
    // Shown at once; the version is filled in when the service answers.
    if (m_infoDialog->m_version.empty() && !m_askingVersion) {
        m_askingVersion = StartExchange(m_versionExchange, [this] { AskVersion(); });
    }
    m_infoDialog->Open(m_askingVersion);
    m_focus->Activate(m_infoDialog);
}

void COrlivanNotifier::AskVersion() {
    const std::string version = CService::GetInstance()->GetInstalledVersionText();
    m_boxes->RunOnGui([this, &version] {
        m_askingVersion = false;
        m_infoDialog->SetVersion(version);
    });
}

// ---- the dispatch's platform side (worker thread) --------------------------

void COrlivanNotifier::Log(int32_t level, const std::string& line) {
    CLogger::GetInstance(std::string())->LogLine(level, line);
}

void COrlivanNotifier::ShowBalloon(std::u16string_view title, std::u16string_view text,
                                   std::optional<uint32_t> infoFlags) {
    // To the notification server, or the notifier's own window without one.
    m_desktop->ShowBalloon(title, text, infoFlags);
}

void COrlivanNotifier::Pause(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    m_pauseWake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                         [this] { return m_stopping.load(); });
}

void COrlivanNotifier::ShowErrorBox(std::u16string_view text, std::u16string_view caption) {
    const QString boxText = QString::fromStdU16String(std::u16string(text));
    const QString boxCaption = QString::fromStdU16String(std::u16string(caption));
    WaitForBox(BoxOpener::Program, boxCaption, boxText, kBalloonIconError, [&] {
        auto* box = new QMessageBox(QMessageBox::Critical, boxCaption, boxText, QMessageBox::Ok);
        box->setTextFormat(Qt::PlainText);
        TranslateButtons(*box);
        DescribeBox(*box);
        return box;
    });
}

void COrlivanNotifier::CheckForUpdateSilently() {
    // Shows nothing when the installed version is the latest; an offer or an
    // error is shown while this (the worker) thread waits.
    CService::GetInstance()->CheckForUpdate(true, m_workerScreen);
}

std::string COrlivanNotifier::GetProcessName(int32_t processId) {
    return ::GetProcessName(processId);
}

int64_t COrlivanNotifier::Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// ---- the update check's screen (the check's thread) ------------------------

void COrlivanNotifier::UpdateScreen::ShowMessage(const std::string& caption,
                                                 const std::string& text) {
    const QString boxCaption = FromExternal(caption);
    const QString boxText = FromExternal(text);
    // The update boxes' notice shows the information image.
    m_owner.WaitForBox(m_opener, boxCaption, boxText, kBalloonIconInfo, [&] {
        auto* box = new QMessageBox(QMessageBox::NoIcon, boxCaption, boxText, QMessageBox::Ok);
        box->setTextFormat(Qt::PlainText);  // the service's words, never markup
        TranslateButtons(*box);
        DescribeBox(*box);
        if (m_opener == BoxOpener::Person) {
            m_owner.m_focus->ActivateAnswer(box);  // the menu's check answered
        }
        return box;
    });
}

CUpdateDialog* COrlivanNotifier::UpdateScreen::CreateUpdateDialog(const std::string& updateText) {
    return new CUpdateDialog(updateText);
}

void COrlivanNotifier::UpdateScreen::RunUpdateDialog(CUpdateDialog* offer) {
    const QString title = CatalogueText(MessageId::UpdateDialogTitle);
    const QString offerText = FromExternal(offer->OfferText());
    m_owner.WaitForBox(m_opener, title, offerText, kBalloonIconInfo, [&] {
        auto* dialog = new QDialog;
        dialog->setWindowTitle(title);
        auto* layout = new QVBoxLayout(dialog);
        auto* text = new QLabel(offerText, dialog);
        text->setObjectName(QStringLiteral("offer"));
        text->setTextFormat(Qt::PlainText);  // the service's words, never markup
        text->setWordWrap(true);
        const QRect screen = dialog->screen()->availableGeometry();
        const int width = std::min(kOfferTextWidth, screen.width() * 3 / 4);
        text->setFixedWidth(width);  // a word longer than that is cut
        text->setFixedHeight(text->heightForWidth(width));
        auto* scroll = new QScrollArea(dialog);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setWidget(text);
        const bool tall = text->height() > screen.height() / 2;
        scroll->setFixedSize(
            width + (tall ? scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0),
            std::min(text->height(), screen.height() / 2));
        layout->addWidget(scroll);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setDefault(true);
        TranslateButtons(*buttons);
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [dialog] {
            OpenWebAddress(LinuxPackageUrl(MachineName()).c_str());
            dialog->accept();
        });
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
        DescribeWindow(*dialog, dialog->windowTitle(), text->text());
        if (m_opener == BoxOpener::Person) {
            m_owner.m_focus->ActivateAnswer(dialog);
        }
        return dialog;
    });
}

void COrlivanNotifier::UpdateScreen::DeleteUpdateDialog(CUpdateDialog* dialog) {
    delete dialog;
}
