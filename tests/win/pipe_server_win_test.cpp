// The notification channel's named pipe as Windows sees it: one instance of
// its name, and who may open it; the service library's command pipe likewise.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <regex>
#include <span>
#include <string>

#include "channel/channel_name.h"
#include "channel/pipe_client_win.h"
#include "channel/pipe_server.h"
#include "channel/user_account.h"
#include "channel_test_transport.h"
#include "orlivan_notify.h"

namespace {

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

constexpr SECURITY_INFORMATION kStoredParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Owner, group and DACL of the live pipe, as the system stores them, in SDDL.
std::wstring StoredSddl(const std::string& name) {
    const HANDLE pipe =
        CreateFileW(Wide(name).c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PSECURITY_DESCRIPTOR stored = nullptr;
    EXPECT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, kStoredParts, nullptr, nullptr, nullptr,
                              nullptr, &stored),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(pipe);
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(stored, SDDL_REVISION_1,
                                                                     kStoredParts, &text, nullptr));
    const std::wstring sddl = text != nullptr ? text : L"";
    LocalFree(text);
    LocalFree(stored);
    return sddl;
}

// `sddl` with every `from` replaced by `to`.
std::wstring Renamed(std::wstring sddl, const std::wstring& from, const std::wstring& to) {
    for (size_t at = sddl.find(from); at != std::wstring::npos; at = sddl.find(from, at)) {
        sddl.replace(at, from.size(), to);
        at += to.size();
    }
    return sddl;
}

// How generic rights map for files and pipes.
GENERIC_MAPPING FileMapping() {
    return {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
}

DWORD Mapped(DWORD rights) {
    GENERIC_MAPPING mapping = FileMapping();
    MapGenericMask(&rights, &mapping);
    return rights;
}

// What AccessCheck grants `token` of `wanted` under `sddl`; 0 when refused.
DWORD Granted(const std::wstring& sddl, HANDLE token, DWORD wanted) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    GENERIC_MAPPING mapping = FileMapping();
    PRIVILEGE_SET privileges{};
    DWORD size = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    EXPECT_TRUE(AccessCheck(descriptor, token, Mapped(wanted), &mapping, &privileges, &size,
                            &granted, &allowed))
        << GetLastError();
    LocalFree(descriptor);
    return allowed ? granted : 0;
}

std::vector<BYTE> TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    EXPECT_TRUE(GetTokenInformation(token, kind, buffer.data(), size, &size));
    return buffer;
}

// An impersonation token of this process's logon without privileges. With
// `everyoneOnly`, Everyone is its only enabled group: every other group, and
// the user unless `keepUser`, is deny-only. The user's SID string goes to `user`.
HANDLE CheckingToken(bool keepUser, std::wstring* user, bool everyoneOnly = true) {
    HANDLE process = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    std::vector<BYTE> userInfo = TokenInfo(process, TokenUser);
    const PSID userSid = reinterpret_cast<TOKEN_USER*>(userInfo.data())->User.Sid;
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(userSid, &text));
    *user = text != nullptr ? text : L"";
    LocalFree(text);
    std::vector<BYTE> groupInfo = TokenInfo(process, TokenGroups);
    const auto* groups = reinterpret_cast<TOKEN_GROUPS*>(groupInfo.data());
    std::vector<SID_AND_ATTRIBUTES> denyOnly;
    if (!keepUser) {
        denyOnly.push_back({userSid, 0});
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    EXPECT_TRUE(
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    for (DWORD i = 0; everyoneOnly && i < groups->GroupCount; ++i) {
        if (!EqualSid(groups->Groups[i].Sid, everyone) &&
            (groups->Groups[i].Attributes & SE_GROUP_INTEGRITY) == 0) {
            denyOnly.push_back({groups->Groups[i].Sid, 0});
        }
    }
    FreeSid(everyone);
    HANDLE restricted = nullptr;
    EXPECT_TRUE(CreateRestrictedToken(process, DISABLE_MAX_PRIVILEGE,
                                      static_cast<DWORD>(denyOnly.size()), denyOnly.data(), 0,
                                      nullptr, 0, nullptr, &restricted));
    HANDLE impersonation = nullptr;
    EXPECT_TRUE(DuplicateToken(restricted, SecurityImpersonation, &impersonation));
    CloseHandle(restricted);
    CloseHandle(process);
    return impersonation;
}

// Who asks for what, checked against a live pipe's stored descriptor.
struct AccessRow {
    const char* who;
    bool asTheUser;                // the user's entries and ownership apply
    bool wholeLogon;               // every group of this logon, else Everyone only
    const wchar_t* asEveryone[2];  // SDDL aliases whose entries go to Everyone
    DWORD granted;                 // wholly granted
    DWORD refused;                 // each right of it refused
};

// The stored descriptor of the pipe `name`, read through a client handle,
// after checking that the test's user owns it; then each row against it.
void ExpectAccess(const std::string& name, std::span<const AccessRow> rows) {
    const std::wstring stored = StoredSddl(name);
    std::wstring user;
    CloseHandle(CheckingToken(true, &user));
    EXPECT_EQ(stored.rfind(L"O:" + user + L"G:", 0), 0u)
        << std::string(stored.begin(), stored.end());
    for (const AccessRow& c : rows) {
        const HANDLE token = CheckingToken(c.asTheUser, &user, !c.wholeLogon);
        std::wstring sddl = c.asTheUser ? stored : Renamed(stored, user, L"S-1-5-21-1-2-3-1001");
        for (const wchar_t* alias : c.asEveryone) {
            if (alias != nullptr) {
                sddl = Renamed(sddl, std::wstring(L";") + alias + L")", L";WD)");
            }
        }
        const std::string shown(sddl.begin(), sddl.end());  // SDDL is ASCII
        if (c.granted != 0) {
            EXPECT_EQ(Granted(sddl, token, c.granted), Mapped(c.granted)) << c.who << " " << shown;
        }
        for (DWORD right = 1; right != 0; right <<= 1) {
            if ((c.refused & right) != 0) {
                EXPECT_EQ(Granted(sddl, token, right), 0u)
                    << c.who << " " << std::hex << right << " " << shown;
            }
        }
        CloseHandle(token);
    }
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

// The live pipe's owner and access list as a client reads them back, and the
// rights they give as AccessCheck computes them. The test runs as the
// notifier's user, and Wine can make no token of another account: another
// account is this logon's own token (Everyone, Interactive, Authenticated
// Users, Users, Administrators, ...) with the user's entries and ownership
// given to an unrelated SID; a service account is a token whose only group
// is Everyone with that account's entries given to Everyone, so that the order
// of the entries counts as for a member; a service logged on over the network
// has both SERVICE's and NETWORK's entries given to Everyone.
TEST(PipeSecurity, AccessCheckOnTheLivePipe) {
    const TestChannelName channel;
    const std::string& name = channel.Name();
    CPipeServer server(name);
    ASSERT_EQ(server.Create(), 1);
    constexpr DWORD kControl = WRITE_DAC | WRITE_OWNER | DELETE;
    constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
    const AccessRow cases[] = {
        {"the user", true, true, {}, kReadWrite | kControl, 0},
        {"another local account, an administrator", false, true, {}, 0, FILE_ALL_ACCESS},
        {"LocalSystem", false, false, {L"SY"}, kReadWrite | kControl, 0},
        {"LocalService", false, false, {L"LS"}, kReadWrite, kControl},
        {"NetworkService", false, false, {L"NS"}, kReadWrite, kControl},
        {"a service process (SERVICE)", false, false, {L"SU"}, kReadWrite, kControl},
        {"a service over the network", false, false, {L"SU", L"NU"}, 0, FILE_ALL_ACCESS},
    };
    ExpectAccess(name, cases);  // the one client the pipe admits
}

// The service's command pipe, created with the access list the protocol
// reference gives (interactive users read and FILE_WRITE_DATA, never
// FILE_CREATE_PIPE_INSTANCE): the notifier's open mode is granted, the
// creation of an instance refused. Interactive users stand as Everyone here,
// the one group the checking token keeps.
TEST(PipeSecurity, CommandPipeListGrantsTheNotifiersOpenAndNoInstance) {
    // AccessCheck needs an owner and a group; the service's own, SYSTEM here.
    const std::wstring documented = L"O:SYG:SYD:(D;;FA;;;NU)(A;;FA;;;SY)(A;;0x12008b;;;IU)";
    const std::wstring sddl = Renamed(documented, L";IU)", L";WD)");
    std::wstring user;
    const HANDLE token = CheckingToken(false, &user);
    EXPECT_EQ(Granted(sddl, token, kCommandPipeOpenAccess), Mapped(kCommandPipeOpenAccess));
    EXPECT_EQ(Granted(sddl, token, FILE_CREATE_PIPE_INSTANCE), 0u);
    EXPECT_EQ(Granted(sddl, token, WRITE_DAC), 0u);
    CloseHandle(token);
}

TEST(UserChannelName, IsThePipePrefixAndTheSidString) {
    const std::string sid = GetCurrentUserSidString();
    EXPECT_TRUE(std::regex_match(sid, std::regex("S-1-[0-9]+(-[0-9]+)+"))) << sid;
    EXPECT_EQ(NotificationChannelName(sid), "\\\\.\\pipe\\" + sid);
}

// The service library's command pipe, read back through a client handle: a
// byte pipe of four instances, owned by the service's account (the test's
// user here), whose list gives an interactive user the notifier's open and no
// instance or control, refuses a network logon, and gives the service all.
// The service's account is given to an unrelated SID for the other rows.
TEST(PipeSecurity, LibraryCommandPipeAsAClientReadsIt) {
    const TestChannelName channel("orlivan_cmd_test");
    orlivan_notify_command_handlers handlers{};
    handlers.size = sizeof handlers;
    orlivan_notify_command_server* server = nullptr;
    ASSERT_EQ(orlivan_notify_serve_start(channel.Name().c_str(), &handlers, &server),
              ORLIVAN_NOTIFY_OK);
    const HANDLE client = CreateFileW(Wide(channel.Name()).c_str(), READ_CONTROL, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    DWORD flags = 0;
    DWORD instances = 0;
    EXPECT_TRUE(GetNamedPipeInfo(client, &flags, nullptr, nullptr, &instances));
    EXPECT_EQ(flags & PIPE_TYPE_MESSAGE, 0u);
    EXPECT_EQ(instances, 4u);
    CloseHandle(client);
    constexpr DWORD kControl = WRITE_DAC | WRITE_OWNER | DELETE | FILE_CREATE_PIPE_INSTANCE;
    const AccessRow cases[] = {
        {"an interactive user", false, true, {}, kCommandPipeOpenAccess, kControl},
        {"a network logon", false, true, {L"NU"}, 0, FILE_ALL_ACCESS},
        {"the service's account", true, true, {}, FILE_ALL_ACCESS, 0},
    };
    ExpectAccess(channel.Name(), cases);
    orlivan_notify_serve_end(server);
}
