#include "channel/channel_access.h"

#include <gtest/gtest.h>

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
    for (uint32_t uid = 1; uid < CPeerRefusals::kMaxRemembered; ++uid) {
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
        {{true, true, 1000, 0700}, FolderUse::Private, FolderVerdict::Usable},
        {{true, true, 1000, 0710}, FolderUse::Private, FolderVerdict::OpenToOthers},
        {{true, true, 1000, 0701}, FolderUse::Private, FolderVerdict::OpenToOthers},
        {{true, true, 1000, 01777}, FolderUse::Private, FolderVerdict::OpenToOthers},
        {{true, true, 1001, 0700}, FolderUse::Private, FolderVerdict::NotOwned},
        {{true, true, 0, 0700}, FolderUse::Private, FolderVerdict::NotOwned},
        {{true, false, 1000, 0600}, FolderUse::Private, FolderVerdict::NotAFolder},
        {{false, false, 0, 0}, FolderUse::Private, FolderVerdict::Missing},
        {{true, true, 1000, 0755}, FolderUse::Shared, FolderVerdict::Usable},
        {{true, true, 1000, 0775}, FolderUse::Shared, FolderVerdict::OpenToOthers},
        {{true, true, 1000, 0757}, FolderUse::Shared, FolderVerdict::OpenToOthers},
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
    EXPECT_EQ(ChannelFolderOf("/run/user/1/orlivan/notification"), "/run/user/1/orlivan");
    EXPECT_EQ(ChannelFolderOf("/notification"), "");
}
