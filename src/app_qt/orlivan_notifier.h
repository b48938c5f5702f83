// The Linux notifier's shell: no window of its own; the tray icon with its
// menu, the notification worker, and the platform side of the dispatch
// (desktop notifications, message boxes, the update screen). The rules are
// the portable core's; this class carries them out with Qt.
//
// The interface thread never waits: the command exchanges with the service
// run on threads of their own, and a thread that must wait for the person's
// answer (the worker, an update check) hands the box to the interface thread
// (box_hand_over.h).
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

class QDialog;
class QMenu;
class CBoxHandOver;
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
    // worker's (the notifier opens its boxes by itself) or the menu's.
    class UpdateScreen final : public CUpdateUi {
    public:
        UpdateScreen(COrlivanNotifier& owner, BoxOpener opener)
            : m_owner(owner), m_opener(opener) {}
        void ShowMessage(const std::string& caption, const std::string& text) override;
        CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override;
        void RunUpdateDialog(CUpdateDialog* dialog) override;
        void DeleteUpdateDialog(CUpdateDialog* dialog) override;

    private:
        COrlivanNotifier& m_owner;
        BoxOpener m_opener;
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

    // Shows the box `open` makes and waits until it is closed (a thread
    // other than the interface one). A box the notifier opened by itself gets,
    // where the display server may hide it, a notice with its `caption`,
    // `text` and the image of `iconKind` that stays until the box is
    // answered. False when the program is ending.
    bool WaitForBox(BoxOpener opener, const QString& caption, const QString& text,
                    uint32_t iconKind, const std::function<QDialog*()>& open);

    // The About dialog's version, asked of the service (an exchange thread).
    void AskVersion();

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

    CBoxHandOver* m_boxes = nullptr;

    ExchangeTask m_versionExchange;
    ExchangeTask m_updateCheck;
    bool m_askingVersion = false;  // interface thread only
    UpdateScreen m_workerScreen{*this, BoxOpener::Program};
    UpdateScreen m_menuScreen{*this, BoxOpener::Person};

    // Made on the interface thread, used by the worker.
    std::unique_ptr<CDesktopNotifier> m_desktop;
};
