// Boxes handed over to the interface thread: a thread that must wait for the
// person's answer (the notification worker, an update check) has the box made
// and shown there, without a modal loop, and waits until it is closed. The
// interface thread itself never waits: no box runs an event loop of its own
// (one inside another would hold the outer box's answer).
#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "app_qt/focus_hand_over.h"

class QDialog;

class CBoxHandOver : public QObject {
    Q_OBJECT
public:
    // `stopping` is the program's end, set before WakeWaiting is called.
    CBoxHandOver(const std::atomic<bool>& stopping, QObject* parent);

    // Runs `job` on the interface thread and returns when it is done; from
    // another thread it waits for it. False when the program is ending (the
    // job is then skipped or cut short).
    bool RunOnGui(const std::function<void()>& job);

    // From a thread other than the interface one: shows the window `open`
    // makes there (beside the notifier's other windows, with the focus rules
    // of `opener`) and waits until the person closes it. False when the
    // program is ending (the window was then not shown, or closed by the end).
    bool ShowAndWait(const std::function<QDialog*()>& open, BoxOpener opener);

    // The end began: the threads waiting for a job or a box stop waiting.
    void WakeWaiting();
    // Closes the boxes still open (interface thread, once no thread waits).
    void CloseAll();

signals:
    // The boxes the notifier opened by itself: the first of them now waits
    // for the person (true), or the last of them was closed (false).
    // Interface thread. The tray item shows that it needs attention by it.
    void ProgramBoxesWaiting(bool waiting);

private:
    Q_INVOKABLE void RunPendingJobs();
    void Track(QDialog* window, BoxOpener opener);

    const std::atomic<bool>& m_stopping;

    // Other threads' jobs (RunOnGui), in the order they came. A job and its
    // end are handed over under m_jobMutex, which also guards the closing of
    // the windows they wait for (ShowAndWait).
    struct PendingJob {
        const std::function<void()>* job;
        bool finished = false;
    };
    std::mutex m_jobMutex;
    std::condition_variable m_jobDone;
    std::deque<PendingJob*> m_jobs;

    // Interface thread only: the boxes open for threads that wait for them,
    // closed by CloseAll, and how many of them the notifier opened itself.
    std::vector<QPointer<QDialog>> m_waitedWindows;
    int m_programBoxes = 0;
};
