// The notification channel's named pipe as Windows sees it: one instance of
// its name, and who may open it.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "channel/channel_name.h"
#include "channel/pipe_security_win.h"
#include "channel/pipe_server.h"
#include "channel_test_transport.h"

namespace {

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

TEST(NamedPipeServer, NoOtherInstanceOfItsNameCanBeMade) {
    TestChannelName channel;
    CPipeServer server(channel.Name());
    ASSERT_EQ(server.Create(), 1);
    const HANDLE raw = CreateNamedPipeW(Wide(channel.Name()).c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 512,
                                        512, 5000, nullptr);
    EXPECT_EQ(raw, INVALID_HANDLE_VALUE);
    if (raw != INVALID_HANDLE_VALUE) {
        CloseHandle(raw);
    }
}

TEST(PipeSecurity, LocalAccountsReadAndWriteOnlyNetworkIsRefused) {
    PSECURITY_DESCRIPTOR descriptor = CreatePipeSecurityDescriptor();
    ASSERT_NE(descriptor, nullptr);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(acl, nullptr);

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID everyone = nullptr;
    PSID network = nullptr;
    ASSERT_TRUE(
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    ASSERT_TRUE(
        AllocateAndInitializeSid(&nt, 1, SECURITY_NETWORK_RID, 0, 0, 0, 0, 0, 0, 0, &network));
    bool sawEveryone = false;
    bool networkDeniedFirst = false;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&header)));
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_DENIED_ACE*>(header);
            if (EqualSid(&ace->SidStart, network)) {
                networkDeniedFirst = i == 0;
                EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
            }
        } else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if (EqualSid(&ace->SidStart, everyone)) {
                sawEveryone = true;
                EXPECT_EQ(ace->Mask & (FILE_READ_DATA | FILE_WRITE_DATA),
                          static_cast<DWORD>(FILE_READ_DATA | FILE_WRITE_DATA));
                EXPECT_EQ(
                    ace->Mask & (WRITE_DAC | WRITE_OWNER | DELETE | FILE_CREATE_PIPE_INSTANCE), 0u);
            }
        }
    }
    EXPECT_TRUE(sawEveryone);
    EXPECT_TRUE(networkDeniedFirst);
    FreeSid(everyone);
    FreeSid(network);
    FreePipeSecurityDescriptor(descriptor);
}

TEST(UserChannelName, IsThePipePrefixAndTheSidString) {
    const std::string sid = GetCurrentUserSidString();
    EXPECT_TRUE(std::regex_match(sid, std::regex("S-1-[0-9]+(-[0-9]+)+"))) << sid;
    EXPECT_EQ(NotificationChannelName(sid), "\\\\.\\pipe\\" + sid);
}
