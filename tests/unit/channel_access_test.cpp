#include "channel/channel_access.h"

#include <gtest/gtest.h>

#include <utility>

TEST(ChannelAccess, OnlyRootAndTheUserAreServedOrTrusted) {
    EXPECT_TRUE(MayServePeer(0, 1000));
    EXPECT_TRUE(MayServePeer(1000, 1000));
    EXPECT_FALSE(MayServePeer(1001, 1000));
    EXPECT_FALSE(MayServePeer(65534, 1000));
    EXPECT_TRUE(IsTrustedServer(0, 1000));
    EXPECT_TRUE(IsTrustedServer(1000, 1000));
    EXPECT_FALSE(IsTrustedServer(999, 1000));
}

TEST(ChannelAccess, EachRefusedUserIsLoggedOnceWithinABound) {
    CPeerRefusals refusals;
    EXPECT_TRUE(refusals.FirstRefusal(65534));
    EXPECT_FALSE(refusals.FirstRefusal(65534));
    EXPECT_FALSE(refusals.FirstRefusal("65534"));  // a uid and its text are one identity
    EXPECT_TRUE(refusals.FirstRefusal("anonymous"));
    for (uint32_t uid = 2; uid < CPeerRefusals::kMaxRemembered; ++uid) {
        EXPECT_TRUE(refusals.FirstRefusal(uid));
    }
    EXPECT_FALSE(refusals.FirstRefusal(5000));  // full: nothing more is logged
}

TEST(ChannelAccess, FolderVerdicts) {
    struct Case {
        FolderFacts facts;
        FolderUse use;
        FolderVerdict verdict;
    } cases[] = {
        {{FolderKind::Folder, 1000, 0700, true}, FolderUse::Private, FolderVerdict::Usable},
        {{FolderKind::Folder, 1000, 0710, true}, FolderUse::Private, FolderVerdict::OpenToOthers},
        {{FolderKind::Folder, 1000, 0701, true}, FolderUse::Private, FolderVerdict::OpenToOthers},
        {{FolderKind::Folder, 1000, 01777, true}, FolderUse::Private, FolderVerdict::OpenToOthers},
        {{FolderKind::Folder, 1001, 0700, true}, FolderUse::Private, FolderVerdict::NotOwned},
        {{FolderKind::Folder, 0, 0700, true}, FolderUse::Private, FolderVerdict::NotOwned},
        // Seen by a user who could not open it: the owner is the reason.
        {{FolderKind::Folder, 0, 0700, false}, FolderUse::Private, FolderVerdict::NotOwned},
        {{FolderKind::Folder, 1000, 0755, false}, FolderUse::Private, FolderVerdict::OpenToOthers},
        {{FolderKind::Folder, 1000, 0000, false}, FolderUse::Private, FolderVerdict::Unreachable},
        {{FolderKind::Unknown, 0, 0, false}, FolderUse::Private, FolderVerdict::Unreachable},
        {{FolderKind::Other, 1000, 0600, false}, FolderUse::Private, FolderVerdict::NotAFolder},
        {{FolderKind::SymbolicLink, 1000, 0777, false},
         FolderUse::Private,
         FolderVerdict::SymbolicLink},
        {{FolderKind::Absent, 0, 0, false}, FolderUse::Private, FolderVerdict::Missing},
        {{FolderKind::Folder, 1000, 0755, true}, FolderUse::Shared, FolderVerdict::Usable},
        {{FolderKind::Folder, 1000, 0775, true}, FolderUse::Shared, FolderVerdict::OpenToOthers},
        {{FolderKind::Folder, 1000, 0757, true}, FolderUse::Shared, FolderVerdict::OpenToOthers},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeChannelFolder(c.facts, 1000, c.use), c.verdict) << std::oct << c.facts.mode;
    }
}

TEST(ChannelAccess, RefusalTextsAndTheChannelsFolder) {
    EXPECT_EQ(ChannelFolderRefusalText(FolderVerdict::Usable, "/x"), "");
    EXPECT_EQ(ChannelFolderRefusalText(FolderVerdict::NotOwned, "/tmp/o"),
              "The folder /tmp/o belongs to another user, so the channel of Orlivan Notifier "
              "would not be private. Orlivan Notifier does not start.");
    // Each refusal names its own reason.
    const std::pair<FolderVerdict, const char*> reasons[] = {
        {FolderVerdict::Missing, "The folder /f can't be created."},
        {FolderVerdict::NotAFolder, "/f is not a folder, so"},
        {FolderVerdict::SymbolicLink, "/f is a symbolic link, so"},
        {FolderVerdict::OpenToOthers, "The folder /f is open to other users, so"},
        {FolderVerdict::Unreachable, "The folder /f can't be opened."},
    };
    for (const auto& [verdict, start] : reasons) {
        EXPECT_TRUE(ChannelFolderRefusalText(verdict, "/f").starts_with(start))
            << ChannelFolderRefusalText(verdict, "/f");
    }
    EXPECT_EQ(ChannelFolderOf("/run/user/1/orlivan/notification"), "/run/user/1/orlivan");
    EXPECT_EQ(ChannelFolderOf("/notification"), "");
}

// The Windows notification pipe of user S-1-5-21-1-2-3-1000: whom it serves,
// judged from what the client's token holds, after its access list admitted it.
TEST(ChannelAccess, PipeClientsServedAndRefused) {
    using Token = PipeClientIdentity::Token;
    const std::string user = "S-1-5-21-1-2-3-1000";
    const std::string other = "S-1-5-21-1-2-3-1001";
    const std::string longer = user + "1";  // begins with the user's SID
    const std::string neither = " is neither the user nor a service";
    const std::vector<PipeClientIdentity::Group> desk = {{"S-1-1-0", true}, {"S-1-5-4", true}};
    const std::vector<PipeClientIdentity::Group> service = {{"S-1-1-0", true}, {"S-1-5-6", true}};
    const struct {
        const char* who;
        PipeClientIdentity client;
        bool served;
        std::string note;  // the refusal, or why a served client was not checked
    } cases[] = {
        {"the user", {Token::Read, user, desk}, true, ""},
        {"LocalSystem", {Token::Read, "S-1-5-18", {}}, true, ""},
        {"LocalService", {Token::Read, "S-1-5-19", {}}, true, ""},
        {"NetworkService", {Token::Read, "S-1-5-20", {}}, true, ""},
        {"a virtual service account", {Token::Read, "S-1-5-80-11-22-33-44", service}, true, ""},
        {"another user running a service", {Token::Read, other, service}, true, ""},
        {"another user", {Token::Read, other, desk}, false, other + neither},
        {"an administrator",
         {Token::Read, other, {{"S-1-5-32-544", true}}},
         false,
         other + neither},
        {"SERVICE deny-only", {Token::Read, other, {{"S-1-5-6", false}}}, false, other + neither},
        {"a SID that begins with the user's", {Token::Read, longer, desk}, false, longer + neither},
        {"the anonymous logon", {Token::Read, "S-1-5-7", service}, false, "anonymous"},
        {"a client at the anonymous level", {Token::Anonymous, "", {}}, false, "anonymous"},
        // Admitted by the access list at the open; only its token can't be read.
        {"an unreadable token", {Token::Unreadable, "", {}}, true, "identity unreadable"},
        {"a token without its user", {Token::Read, "", service}, true, "identity unreadable"},
    };
    for (const auto& c : cases) {
        const PipeClientVerdict verdict = JudgePipeClient(c.client, user);
        EXPECT_EQ(verdict.served, c.served) << c.who;
        EXPECT_EQ(verdict.note, c.note) << c.who;
    }
}

// Who holds the name of the notification pipe of S-1-5-21-1-2-3-1000 when the
// notifier C:\\Orlivan\\OrlivanSysTray.exe could not create it.
TEST(ChannelAccess, CommandPipeOwnersThatAreServices) {
    const struct {
        const char* owner;
        bool service;
    } rows[] = {
        {"S-1-5-18", true},
        {"s-1-5-19", true},
        {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true},
        {"", false},  // no owner that can be read
        {"S-1-5-21-0-0-0-1001", false},
        {"S-1-5-6", false},     // the SERVICE group: any service process, not an owner
        {"S-1-5-80-0", false},  // all services: a group
        {"S-1-5-80-1-2-3-4", false},
        {"S-1-5-80-1-2-3-4-5-6", false},
        {"S-1-5-80-1-2-3--5", false},            // an empty number
        {"S-1-5-80-1-2-3-4-4294967296", false},  // above 32 bits
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsServiceOwner(row.owner), row.service) << row.owner;
    }
}

TEST(ChannelAccess, HolderOfTheChannelsName) {
    const std::string user = "S-1-5-21-1-2-3-1000";
    const std::string own = "C:\\Orlivan\\OrlivanSysTray.exe";
    const struct {
        const char* who;
        ChannelHolderFacts facts;
        ChannelHolder holder;
    } cases[] = {
        {"another failure", {false, "", 0, "", own}, ChannelHolder::NotTaken},
        {"the user's notifier",
         {true, "s-1-5-21-1-2-3-1000", 8, "D:\\orlivansystray.EXE", own},
         ChannelHolder::OwnNotifier},
        {"another account's notifier",
         {true, "S-1-5-21-1-2-3-1001", 9, own, own},
         ChannelHolder::SomeoneElse},
        {"another program of the user",
         {true, user, 7, "C:\\OrlivanSysTray.exe.bak", own},
         ChannelHolder::SomeoneElse},
        {"the user's pipe, its server unreadable",
         {true, user, 6, "", own},
         ChannelHolder::SomeoneElse},
        {"a pipe that could not be opened", {true, "", 0, "", own}, ChannelHolder::SomeoneElse},
        {"a busy pipe, this session's notifier marked",
         {true, "", 0, "", own, true},
         ChannelHolder::OwnNotifier},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JudgeChannelHolder(c.facts, user), c.holder) << c.who;
    }
}
