// The Linux notifier's shell: no window of its own; the tray icon with its
// menu, the notification worker, and the platform side of the dispatch
// (desktop notifications, message boxes, the update screen). The rules are
// the portable core's; this class carries them out with Qt.
//
// The interface thread never waits: no box or dialog runs an event loop of
// its own (one inside another would hold the outer box's answer), and the
// command exchanges with the service run on threads of their own. A thread
// that must wait for the person's answer (the worker, an update check) hands
// the box to the interface thread and waits there.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app_qt/focus_hand_over.h"
#include "notify/desktop_application.h"
#include "notify/desktop_notification.h"
#include "notify/dispatch.h"
#include "notify/record.h"
#include "notify/tray_menu.h"
#include "update/update_ui.h"

class QDialog;
class QMenu;
class CDesktopActivation;
class CDesktopNotifier;
class CInfoDialogQt;
class CTray;

// The caption of the program's own messages (the channel ones).
inline constexpr char kProgramCaption[] = "orlivan-notifier";

class COrlivanNotifier : public QObject, private NotificationView {
    Q_OBJECT
public:
    // Reads the install folder and opens the log with its start line.
    COrlivanNotifier();
    ~COrlivanNotifier() override;

    // Creates the notification channel (ends the process with a message when
    // it can't), the tray icon and the About dialog, and starts the worker.
    void Start();

    // Begins the end (a signal, the session's end): the event loop returns
    // and the threads waiting for a box stop waiting. A record whose box was
    // open gets no reply.
    void RequestQuit();

    // Ends the worker and the command exchanges, closes the open boxes, then
    // removes the tray icon and the channel's socket. Called once the event
    // loop has returned.
    void Stop();

    // Handles one record on the worker thread; the reply for the service.
    int32_t ShowNotification(const NotificationRecord& record);

    // Runs `job` on the interface thread and returns when it is done; from
    // another thread it waits for it. False when the program is ending (the
    // job is then skipped or cut short).
    bool RunOnGui(const std::function<void()>& job);

    // From a thread other than the interface one: shows the window `open`
    // makes there (without a modal loop, beside the notifier's other
    // windows) and waits until the person closes it. False when the program
    // is ending (the window was then not shown, or closed by the end).
    bool ShowAndWait(const std::function<QDialog*()>& open);

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

protected:
    // Sees the session manager's quit (logout) before the event loops end, so
    // a box it closes is not taken for the user's answer.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The update check's screen on the thread that runs the check: the
    // worker's (its boxes kept on top, since a program in the background
    // opened them) or the menu's.
    class UpdateScreen final : public CUpdateUi {
    public:
        UpdateScreen(COrlivanNotifier& owner, bool onTop) : m_owner(owner), m_onTop(onTop) {}
        void ShowMessage(const std::string& caption, const std::string& text) override;
        CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override;
        void RunUpdateDialog(CUpdateDialog* dialog) override;
        void DeleteUpdateDialog(CUpdateDialog* dialog) override;

    private:
        COrlivanNotifier& m_owner;
        bool m_onTop;
    };

    // A command exchange, and what it shows, on a thread of its own: one of
    // each kind at a time. Only the interface thread starts and joins it.
    struct ExchangeTask {
        std::thread thread;
        std::atomic<bool> running{false};
    };
    // Starts `work` on `task`'s thread; false (nothing started) while one runs
    // or once the end began.
    bool StartExchange(ExchangeTask& task, std::function<void()> work);

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

    // The About dialog's version, asked of the service (an exchange thread).
    void AskVersion();

    void OnTrayActivated();
    void LaunchSettingsProgram();
    // A box the worker waits on, counted from its opening until it is gone
    // (interface thread): the tray's item asks for attention meanwhile.
    void CountWaitingBox(QDialog& window);
    int m_waitingBoxes = 0;

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

    // Other threads' jobs for the interface thread (RunOnGui), in the order
    // they came. A job and its end are handed over under m_jobMutex, which
    // also guards the closing of the windows they wait for (ShowAndWait).
    struct PendingJob {
        const std::function<void()>* job;
        bool finished = false;
    };
    Q_INVOKABLE void RunPendingJobs();
    std::mutex m_jobMutex;
    std::condition_variable m_jobDone;
    std::deque<PendingJob*> m_jobs;

    // Interface thread only: the boxes open for threads that wait for them,
    // closed by Stop.
    std::vector<QPointer<QDialog>> m_waitedWindows;

    ExchangeTask m_versionExchange;
    ExchangeTask m_updateCheck;
    bool m_askingVersion = false;  // interface thread only
    UpdateScreen m_workerScreen{*this, true};
    UpdateScreen m_menuScreen{*this, false};

    // Made on the interface thread, used by the worker.
    std::unique_ptr<CDesktopNotifier> m_desktop;
};
