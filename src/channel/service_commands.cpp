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
    // The request goes out here; the reply frame is read and built by
    // ReadReply, under the same exchange lock.
    return SendCommandOver(*m_pipeClient, command,
                           [this](int32_t requestCode) { return ReadReply(requestCode); });
}

CCommandReply* CService::ReadReply(int32_t requestCode) {
    return m_pipeClient != nullptr ? ReadReplyFrom(*m_pipeClient, requestCode) : nullptr;
}

void CService::CheckForUpdate(bool silent) {
    RunUpdateCheck([this](CComand& command) { return SendCommand(command); }, m_updateDialog,
                   PlatformUpdateUi(), silent);
}

void CService::OfferUpdate(const std::string& updateText) {
    OfferUpdateOn(m_updateDialog, PlatformUpdateUi(), updateText);
}

CCommandReply* SendCommandToService(CComand& command) {
    return CService::GetInstance()->SendCommand(command);
}

std::string GetInstalledVersionText() {
    CVersionCommand command;
    std::unique_ptr<CCommandReply> reply(CService::GetInstance()->SendCommand(command));
    return InstalledVersionFromReply(reply.get());
}
