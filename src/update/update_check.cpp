#include "update/update_check.h"

#include "base/messages.h"
#include "commands/command_reply.h"

std::string LatestVersionText(std::string_view installed) {
    return MessageFormat(MessageId::UpdateLatestText, {installed});
}

UpdateCheckDecision DecideUpdateCheck(const CCommandReply* reply, bool silent) {
    const UpdateCheckDecision error{UpdateCheckAction::ShowError,
                                    std::string(MessageText(MessageId::UpdateErrorText))};
    int32_t code = 0;
    int32_t status = 0;
    if (reply == nullptr || reply->m_valid == 0 ||
        !GetReplyInteger(*reply, REPLY_KEY_CODE, &code) || code != CMD_CHECK_UPDATE ||
        !GetReplyInteger(*reply, REPLY_KEY_STATUS, &status)) {
        return error;
    }
    const char* text = GetReplyText(*reply, REPLY_KEY_UPDATE_TEXT);
    if (text == nullptr) {
        return {};
    }
    switch (status) {
        case UPDATE_STATUS_LATEST:
            if (silent) {
                return {};
            }
            return {UpdateCheckAction::ShowLatest, LatestVersionText(text)};
        case UPDATE_STATUS_AVAILABLE:
            return {UpdateCheckAction::OfferUpdate, text};
        default:
            return error;
    }
}
