#include "channel/service.h"

#include "channel/channel_access.h"
#include "channel/channel_name.h"
#include "channel/pipe_client.h"
#include "channel/pipe_server.h"
#include "channel/user_account.h"
#include "commands/command.h"
#include "commands/command_exchange.h"
#include "commands/command_reply.h"
#include "log/logger.h"
#include "update/update_ui.h"

namespace {

CService* g_service = nullptr;

}  // namespace

CService* CService::GetInstance(ChannelBusyHandler onChannelBusy) {
    if (g_service == nullptr) {
        const std::string user = GetCurrentUserSidString();
        // The shell has made the logger by now (with the log's path).
        const std::string note = user.empty() ? std::string() : UserNameMismatchNote(user);
        if (!note.empty()) {
            CLogger::GetInstance(std::string())->LogLine(1, note);
        }
        g_service = new CService(user, onChannelBusy);
    }
    return g_service;
}

CService::CService(std::string userSid, ChannelBusyHandler onChannelBusy)
    : m_pipeServer(std::make_unique<CPipeServer>(NotificationChannelName(userSid))),
      m_userSid(std::move(userSid)) {
    // An empty identifier would name the bare prefix: refused like a taken name.
    const bool created = !m_userSid.empty() && m_pipeServer->Create() == 1;
    if (!created && !m_userSid.empty()) {
        const ChannelHolderFacts holder = m_pipeServer->HolderFacts();
        if (JudgeChannelHolder(holder, m_pipeServer->ServedUser()) == ChannelHolder::SomeoneElse) {
            // Not this user's notifier: it is waited out, and the channel
            // serves once the name is free (CPipeServer::Connect).
            CLogger::GetInstance(std::string())
                ->LogLine(1, "Notification channel " + m_pipeServer->Name() +
                                 " is held by someone else (" + ChannelHolderText(holder) +
                                 "); the notifier waits for the name to be free\n");
            onChannelBusy = nullptr;
        }
    }
    if (!created && onChannelBusy != nullptr) {
        onChannelBusy();
    }
    // The service's command channel; nothing is opened until an exchange.
    m_pipeClient = std::make_unique<CPipeClient>(CommandChannelName());
    // Windows: only a pipe a service owns is the service's.
    m_pipeClient->RequireServiceOwner(
        [](const std::string& line) { CLogger::GetInstance(std::string())->LogLine(1, line); });
}

CService::~CService() = default;

CCommandReply* CService::SendCommand(CComand& command) {
    return SendCommandOver(*m_pipeClient, command);
}

void CService::CheckForUpdate(bool silent, CUpdateUi& ui) {
    RunUpdateCheck([this](CComand& command) { return SendCommand(command); }, m_updateDialog, ui,
                   silent);
}

std::string CService::GetInstalledVersionText() {
    CVersionCommand command;
    std::unique_ptr<CCommandReply> reply(SendCommand(command));
    return InstalledVersionFromReply(reply.get());
}
