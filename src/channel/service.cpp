#include "channel/service.h"

#include "channel/channel_name.h"
#include "channel/pipe_server.h"
#include "channel/pipe_client.h"

namespace {

CService* g_service = nullptr;

}  // namespace

CService* CService::GetInstance() {
    if (g_service == nullptr) {
        g_service = new CService(GetCurrentUserSidString());
    }
    return g_service;
}

CService::CService(std::string userSid, ChannelBusyHandler onChannelBusy)
    : m_userSid(std::move(userSid)) {
    m_pipeServer = new CPipeServer(NotificationChannelName(m_userSid));
    // An empty identifier would name the bare prefix: refused like a taken name.
    const bool created = !m_userSid.empty() && m_pipeServer->Create() == 1;
    if (!created && onChannelBusy != nullptr) {
        onChannelBusy();
    }
    // The service's command channel; nothing is opened until an exchange.
    m_pipeClient = new CPipeClient(CommandChannelName());
}

CService::~CService() {
    delete m_pipeClient;
    delete m_pipeServer;
}
