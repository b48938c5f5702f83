// The Linux notifier's shell: no window of its own; the tray icon with its
// menu, the notification worker, and the platform side of the dispatch
// (desktop notifications, message boxes, the update screen). The rules are
// the portable core's; this class carries them out with Qt.
#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app_qt/focus_hand_over.h"
#include "notify/desktop_application.h"
#include "notify/desktop_notification.h"
#include "notify/dispatch.h"
#include "notify/record.h"
#include "notify/tray_menu.h"
#include "update/update_ui.h"

class QMenu;
class CDesktopActivation;
class CDesktopNotifier;
class CInfoDialogQt;
class CTray;

// The caption of the program's own messages (the channel ones).
inline constexpr char kProgramCaption[] = "orlivan-notifier";

class COrlivanNotifier : public QObject, private NotificationView, public CUpdateUi {
    Q_OBJECT
public:
    // Reads the install folder and opens the log with its start line.
    COrlivanNotifier();
    ~COrlivanNotifier() override;

    // Creates the notification channel (ends the process with a message when
    // it can't), the tray icon and the About dialog, and starts the worker.
    void Start();

    // Begins the end (a signal, the session's end): open boxes close and
    // the event loops return. A record whose box was open gets no reply.
    void RequestQuit();

    // Ends the worker, then removes the tray icon and the channel's socket.
    // Called once the event loop has returned.
    void Stop();

    // Handles one record on the worker thread; the reply for the service.
    int32_t ShowNotification(const NotificationRecord& record);

    // Runs `job` on the interface thread and returns when it is done; from
    // the worker it waits for it. False when the program is ending (the job
    // is then skipped or cut short).
    bool RunOnGui(const std::function<void()>& job);

    // A menu command by its entry in the menu's table (the desktop's
    // activation and actions, with the activation's focus tokens; interface
    // thread). Nothing once the end began.
    void RunTrayCommand(TrayCommand command, const FocusTokens& tokens = {});

    // Menu commands (interface thread).
    void OnSettings();
    void OnCheckUpdate();
    void OnOnlineHelp();
    void OnReportProblem();
    void OnAbout();

    // CUpdateUi: the update check's screen (any thread).
    void ShowMessage(const std::string& caption, const std::string& text) override;
    CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override;
    void RunUpdateDialog(CUpdateDialog* dialog) override;
    void DeleteUpdateDialog(CUpdateDialog* dialog) override;

protected:
    // Sees the session manager's quit (logout) before the event loops end, so
    // a box it closes is not taken for the user's answer.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Marks the end: the worker's current record gets no reply, and no more
    // boxes are shown.
    void MarkStopping();

    // NotificationView (worker thread).
    void Log(int32_t level, const std::string& line) override;
    void ShowBalloon(std::u16string_view title, std::u16string_view text,
                     std::optional<uint32_t> infoFlags) override;
    void Pause(uint32_t milliseconds) override;
    void ShowErrorBox(std::u16string_view text, std::u16string_view caption) override;
    void CheckForUpdateSilently() override;
    std::string GetProcessName(int32_t processId) override;
    int64_t Now() override;

    void OnTrayActivated();
    void LaunchSettingsProgram();

    std::string m_installPath;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<CTray> m_tray;
    QElapsedTimer m_lastLaunch;
    CInfoDialogQt* m_infoDialog = nullptr;
    CDesktopActivation* m_activation = nullptr;
    CFocusHandOver* m_focus = nullptr;
    // The display server may hide a waiting box behind other windows (Wayland).
    bool m_boxesNeedNotice = false;

    std::thread m_worker;
    std::atomic<bool> m_workerDone{false};
    std::atomic<bool> m_stopping{false};
    std::mutex m_pauseMutex;
    std::condition_variable m_pauseWake;

    // The worker's job for the interface thread (RunOnGui), one at a time.
    Q_INVOKABLE void RunPendingJob();
    std::mutex m_jobMutex;
    std::condition_variable m_jobDone;
    const std::function<void()>* m_job = nullptr;
    bool m_jobFinished = false;

    // Worker only.
    std::unique_ptr<CDesktopNotifier> m_desktop;
    CDesktopBalloons m_balloons;
    uint32_t m_shownNotification = 0;
};
