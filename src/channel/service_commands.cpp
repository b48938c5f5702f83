// The service object's command side: exchanges on the command channel, the
// update check and the update offer.
#include <memory>

#include "channel/service.h"
#include "commands/command.h"
#include "commands/command_reply.h"
#include "service/installed_version.h"
#include "channel/pipe_client.h"
#include "update/update_ui.h"

CCommandReply* CService::SendCommand(CComand& command) {
    if (m_pipeClient == nullptr) {
        return nullptr;
    }
    return SendCommandOver(*m_pipeClient, command);
}

void CService::CheckForUpdate(bool silent) {
    RunUpdateCheck([this](CComand& command) { return SendCommand(command); }, m_updateDialog,
                   PlatformUpdateUi(), silent);
}

std::string GetInstalledVersionText() {
    CVersionCommand command;
    std::unique_ptr<CCommandReply> reply(CService::GetInstance()->SendCommand(command));
    return InstalledVersionFromReply(reply.get());
}
