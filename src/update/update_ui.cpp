#include "update/update_ui.h"

#include <memory>

#include "base/messages.h"
#include "commands/command.h"
#include "update/update_check.h"

void RunUpdateCheck(const CommandSender& send, std::atomic<CUpdateDialog*>& openDialog,
                    CUpdateUi& ui, bool silent) {
    CCheckUpdateCommand command;
    ui.ExchangeStarting();
    std::unique_ptr<CCommandReply> reply(send(command));
    ui.ExchangeEnded();
    ShowUpdateCheckOutcome(reply.get(), openDialog, ui, silent);
}

void ShowUpdateCheckOutcome(const CCommandReply* reply, std::atomic<CUpdateDialog*>& openDialog,
                            CUpdateUi& ui, bool silent) {
    const UpdateCheckDecision decision = DecideUpdateCheck(reply, silent);
    switch (decision.action) {
        case UpdateCheckAction::Nothing:
            break;
        case UpdateCheckAction::ShowLatest:
            ui.ShowMessage(UPDATE_LATEST_CAPTION, decision.text);
            break;
        case UpdateCheckAction::ShowError:
            ui.ShowMessage(std::string(MessageText(MessageId::UpdateErrorCaption)), decision.text);
            break;
        case UpdateCheckAction::OfferUpdate:
            OfferUpdateOn(openDialog, ui, decision.text);
            break;
    }
}

void OfferUpdateOn(std::atomic<CUpdateDialog*>& openDialog, CUpdateUi& ui,
                   const std::string& updateText) {
    if (openDialog.load() != nullptr) {
        return;  // one is open: this offer is dropped
    }
    CUpdateDialog* dialog = ui.CreateUpdateDialog(updateText);
    if (dialog == nullptr) {
        return;
    }
    CUpdateDialog* none = nullptr;
    if (!openDialog.compare_exchange_strong(none, dialog)) {
        ui.DeleteUpdateDialog(dialog);  // another thread opened one meanwhile
        return;
    }
    ui.RunUpdateDialog(dialog);
    openDialog.store(nullptr);
    ui.DeleteUpdateDialog(dialog);
}
