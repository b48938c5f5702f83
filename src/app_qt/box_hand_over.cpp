#include "app_qt/box_hand_over.h"

#include <QDialog>
#include <QThread>

#include <memory>

CBoxHandOver::CBoxHandOver(const std::atomic<bool>& stopping, QObject* parent)
    : QObject(parent), m_stopping(stopping) {}

bool CBoxHandOver::RunOnGui(const std::function<void()>& job) {
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
    // caller wrote before is seen by the interface thread and all the job
    // wrote is seen by the caller after (a ThreadSanitizer build checks it).
    // The queued call only wakes the interface thread.
    PendingJob pending{&job};
    std::unique_lock<std::mutex> lock(m_jobMutex);
    m_jobs.push_back(&pending);
    lock.unlock();
    QMetaObject::invokeMethod(this, "RunPendingJobs", Qt::QueuedConnection);
    lock.lock();
    m_jobDone.wait(lock, [&pending] { return pending.finished; });
    return !m_stopping;
}

void CBoxHandOver::RunPendingJobs() {
    std::unique_lock<std::mutex> lock(m_jobMutex);
    while (!m_jobs.empty()) {
        PendingJob* pending = m_jobs.front();
        m_jobs.pop_front();
        lock.unlock();
        // Skipped once the end began (the end keeps taking the jobs).
        if (!m_stopping) {
            (*pending->job)();
        }
        lock.lock();
        pending->finished = true;
        m_jobDone.notify_all();
    }
}

bool CBoxHandOver::ShowAndWait(const std::function<QDialog*()>& open, BoxOpener opener) {
    // Set under m_jobMutex when the window closes, which may be after this
    // call has returned (the end began).
    const auto closed = std::make_shared<bool>(false);
    const bool shown = RunOnGui([&] {
        QDialog* window = open();
        // Beside the notifier's other windows, which stay usable: the About
        // dialog opened meanwhile must not hold this box's answer.
        window->setWindowModality(Qt::NonModal);
        PresentBox(*window, opener);
        connect(window, &QDialog::finished, this, [this, window, closed] {
            {
                std::lock_guard<std::mutex> lock(m_jobMutex);
                *closed = true;
            }
            m_jobDone.notify_all();
            window->deleteLater();
        });
        Track(window, opener);
        window->show();
    });
    if (QThread::currentThread() == thread()) {
        return shown;  // the interface thread never waits for a window
    }
    std::unique_lock<std::mutex> lock(m_jobMutex);
    m_jobDone.wait(lock, [&] { return !shown || *closed || m_stopping; });
    return shown && !m_stopping;
}

void CBoxHandOver::Track(QDialog* window, BoxOpener opener) {
    std::erase_if(m_waitedWindows, [](const QPointer<QDialog>& w) { return w.isNull(); });
    m_waitedWindows.emplace_back(window);
    if (opener != BoxOpener::Program) {
        return;
    }
    if (m_programBoxes++ == 0) {
        emit ProgramBoxesWaiting(true);
    }
    // Counted down when it closes, whether the person answered it or the end came.
    connect(window, &QObject::destroyed, this, [this] {
        if (--m_programBoxes == 0) {
            emit ProgramBoxesWaiting(false);
        }
    });
}

void CBoxHandOver::WakeWaiting() {
    {
        std::lock_guard<std::mutex> lock(m_jobMutex);  // a thread waiting for a box
    }
    m_jobDone.notify_all();
}

void CBoxHandOver::CloseAll() {
    for (const QPointer<QDialog>& window : m_waitedWindows) {
        delete window.data();
    }
    m_waitedWindows.clear();
}
