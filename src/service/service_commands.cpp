// The service object's command side: exchanges on the command channel, the
// update check and the update offer.
#include <memory>

#include "channel/service.h"
#include "service/command.h"
#include "service/command_reply.h"
#include "service/installed_version.h"
#include "service/pipe_client.h"
#include "service/update_ui.h"

CCommandReply* CService::SendCommand(CComand& command) {
    if (m_pipeClient == nullptr) {
        return nullptr;
    }
    // The request goes out here; the reply frame is read and built by
    // ReadReply, under the same exchange lock and by the same deadline.
    return SendCommandOver(*m_pipeClient, command,
                           [this](int32_t requestCode, ExchangeDeadline deadline) {
                               return ReadReply(requestCode, deadline);
                           });
}

CCommandReply* CService::ReadReply(int32_t requestCode, ExchangeDeadline deadline) {
    return m_pipeClient != nullptr ? ReadReplyFrom(*m_pipeClient, requestCode, deadline) : nullptr;
}

void CService::CheckForUpdate(bool silent) {
    const UpdateCheckOrigin origin =
        silent ? UpdateCheckOrigin::Notification : UpdateCheckOrigin::Menu;
    RunUpdateCheck([this](CComand& command) { return SendCommand(command); }, m_updateDialog,
                   PlatformUpdateUi(origin), silent);
}

void CService::OfferUpdate(const std::string& updateText) {
    OfferUpdateOn(m_updateDialog, PlatformUpdateUi(UpdateCheckOrigin::Notification), updateText);
}

CCommandReply* SendCommandToService(CComand& command) {
    return CService::GetInstance()->SendCommand(command);
}

std::string GetInstalledVersionText() {
    CVersionCommand command;
    std::unique_ptr<CCommandReply> reply(CService::GetInstance()->SendCommand(command));
    return InstalledVersionFromReply(reply.get());
}
