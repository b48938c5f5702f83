#include "app/notification_thread.h"

#include "app/orlivan_sys_tray_dlg.h"
#include "notify/notification_loop.h"
#include "channel/pipe_server.h"
#include "channel/service.h"
#include "log/logger.h"

DWORD WINAPI NotificationThreadProc(LPVOID parameter) {
    if (parameter == nullptr) {
        return 0;
    }
    auto* dialog = static_cast<COrlivanSysTrayDlg*>(parameter);
    CService* service = CService::GetInstance();
    CLogger* logger = CLogger::GetInstance(std::string());
    // Clients the channel refuses are logged there; only this thread reads it.
    service->m_pipeServer->SetLogger(logger);
    RunNotificationLoop(
        *service->m_pipeServer,
        [dialog](const NotificationRecord& record) { return dialog->ShowNotification(&record); },
        logger, kClientWaitLimit, &dialog->Stopping());
    return 0;
}
