#include "commands/command_reply.h"
#include "update/update_check.h"
#include "update/update_offer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// A valid 0x300 reply; a null text leaves key 4 out.
std::unique_ptr<CCommandReply> UpdateReply(int32_t status, const char* text) {
    auto reply = std::make_unique<CCommandReply>();
    reply->SetParameter(REPLY_KEY_CODE, ParameterMap::NewIntegerBlock(CMD_CHECK_UPDATE));
    reply->SetParameter(REPLY_KEY_STATUS, ParameterMap::NewIntegerBlock(status));
    if (text != nullptr) {
        reply->SetParameter(REPLY_KEY_UPDATE_TEXT, ParameterMap::NewTextBlock(text));
    }
    reply->m_valid = 1;
    return reply;
}

}  // namespace

TEST(UpdateCheckDecision, LatestVersionIsShownOnlyWhenNotSilent) {
    auto reply = UpdateReply(UPDATE_STATUS_LATEST, "2.5.1");
    UpdateCheckDecision shown = DecideUpdateCheck(reply.get(), false);
    EXPECT_EQ(shown.action, UpdateCheckAction::ShowLatest);
    EXPECT_EQ(shown.text, "This version of Orlivan(2.5.1) is the latest version.");
    EXPECT_EQ(DecideUpdateCheck(reply.get(), true).action, UpdateCheckAction::Nothing);
}

TEST(UpdateCheckDecision, NewVersionIsOfferedSilentOrNot) {
    auto reply = UpdateReply(UPDATE_STATUS_AVAILABLE, "a;2.0;x");
    for (bool silent : {false, true}) {
        UpdateCheckDecision decision = DecideUpdateCheck(reply.get(), silent);
        EXPECT_EQ(decision.action, UpdateCheckAction::OfferUpdate);
        EXPECT_EQ(decision.text, "a;2.0;x");
    }
}

TEST(UpdateCheckDecision, OtherStatusesAndMissingRepliesShowTheErrorEvenWhenSilent) {
    auto seven = UpdateReply(7, "ignored");
    auto zero = UpdateReply(0, "");
    CCommandReply unfinished;  // m_valid 0
    auto versionReply = std::make_unique<CCommandReply>();
    versionReply->SetParameter(REPLY_KEY_CODE, ParameterMap::NewIntegerBlock(CMD_VERSION));
    versionReply->SetParameter(REPLY_KEY_STATUS, ParameterMap::NewIntegerBlock(4));
    versionReply->SetParameter(REPLY_KEY_UPDATE_TEXT, ParameterMap::NewTextBlock("1.0"));
    versionReply->m_valid = 1;
    for (bool silent : {false, true}) {
        const CCommandReply* replies[] = {seven.get(), zero.get(), &unfinished, versionReply.get(),
                                          nullptr};
        for (const CCommandReply* reply : replies) {
            UpdateCheckDecision decision = DecideUpdateCheck(reply, silent);
            EXPECT_EQ(decision.action, UpdateCheckAction::ShowError);
            EXPECT_EQ(decision.text,
                      "Cannot connect to Update Server.\nCheck your Network Connection and try "
                      "again later");
        }
    }
}

TEST(UpdateCheckDecision, ReplyWithoutTextShowsNothing) {
    for (int32_t status : {UPDATE_STATUS_LATEST, UPDATE_STATUS_AVAILABLE, 7}) {
        auto reply = UpdateReply(status, nullptr);
        EXPECT_EQ(DecideUpdateCheck(reply.get(), false).action, UpdateCheckAction::Nothing);
    }
}

TEST(UpdateText, SplitsIntoThreeFields) {
    UpdateText full = SplitUpdateText("a;2.0;Faster blocking");
    EXPECT_EQ(full.prefix, "a");
    EXPECT_EQ(full.newVersion, "2.0");
    EXPECT_EQ(full.whatsNew, "Faster blocking");

    UpdateText more = SplitUpdateText("a;2.0;x;y");
    EXPECT_EQ(more.newVersion, "2.0");
    EXPECT_EQ(more.whatsNew, "x;y");
}

TEST(UpdateText, MissingSeparatorsLeaveFieldsEmpty) {
    UpdateText none = SplitUpdateText("2.0");
    EXPECT_EQ(none.prefix, "");
    EXPECT_EQ(none.newVersion, "");
    EXPECT_EQ(none.whatsNew, "");

    // The second field ends only at a second ";".
    UpdateText one = SplitUpdateText("a;2.0");
    EXPECT_EQ(one.prefix, "a");
    EXPECT_EQ(one.newVersion, "");
    EXPECT_EQ(one.whatsNew, "");

    UpdateText empties = SplitUpdateText(";;");
    EXPECT_EQ(empties.prefix, "");
    EXPECT_EQ(empties.newVersion, "");
    EXPECT_EQ(empties.whatsNew, "");
}

TEST(UpdateText, OfferTextLayout) {
    EXPECT_EQ(UpdateOfferText("2.0", "Faster blocking"),
              "New version(2.0) of Orlivan is available. Do you want to update?\n\n\nWhats new: "
              "\n        Faster blocking");
    EXPECT_EQ(UpdateOfferText("", ""),
              "New version() of Orlivan is available. Do you want to update?\n\n\nWhats new: "
              "\n        ");
}

TEST(InstallerChoice, OnlyNativeAmd64GetsTheAmd64Installer) {
    EXPECT_TRUE(UsesAmd64Installer(9));
    for (uint16_t architecture : {0, 5, 6, 12, 0xFFFF}) {  // x86, ARM, Itanium, ARM64, unknown
        EXPECT_FALSE(UsesAmd64Installer(architecture)) << architecture;
    }
    const std::string amd64 = InstallerUrl(true);
    const std::string x86 = InstallerUrl(false);
    EXPECT_EQ(amd64.rfind("https://", 0), 0u);
    EXPECT_EQ(x86.rfind("https://", 0), 0u);
    EXPECT_TRUE(amd64.ends_with("/windows7/amd64/OrlivanUpdate_amd64.exe")) << amd64;
    EXPECT_TRUE(x86.ends_with("/windows7/x86/OrlivanUpdate_x86.exe")) << x86;
}
