// Identities read from tokens: the process's own, a pipe client's (while
// impersonating it, for as short a time as the token's opening takes), and a
// pipe server's.
#include "channel/pipe_identity_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/text.h"
#include "base/unique_handle_win.h"
#include "log/logger.h"

namespace {

// A token information block of `kind`; empty when it can't be read.
std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) {
        buffer.clear();
    }
    return buffer;
}

// The SID in string form ("S-1-5-18"); empty on failure. SID strings are ASCII.
std::string SidString(PSID sid) {
    UniqueLocal<wchar_t*> text;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, text.Put()) || !text) {
        return std::string();
    }
    std::string narrow;
    for (const wchar_t* c = text.Get(); *c != L'\0'; ++c) {
        narrow += static_cast<char>(*c);
    }
    return narrow;
}

}  // namespace

std::string TokenUserSidString(HANDLE token) {
    const std::vector<BYTE> user = TokenInformation(token, TokenUser);
    if (user.empty()) {
        return std::string();
    }
    return SidString(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
}

std::string ProcessUserSidString() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) {
        return std::string();
    }
    return TokenUserSidString(token.Get());
}

namespace {

// The thread's effective token as a pseudo-handle that needs no opening
// (GetCurrentThreadEffectiveToken, Windows 8 and later; on Windows 7 it is no
// handle and reading it fails).
const HANDLE kThreadEffectiveToken = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-6));

// Fills `client` from `token`: its user and its groups; left unreadable when
// either can't be read.
void ReadTokenIdentity(HANDLE token, PipeClientIdentity& client) {
    client.userSid = TokenUserSidString(token);
    const std::vector<BYTE> groups = TokenInformation(token, TokenGroups);
    if (client.userSid.empty() || groups.empty()) {
        return;  // unreadable
    }
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
    for (DWORD i = 0; i < list->GroupCount; ++i) {
        const DWORD attributes = list->Groups[i].Attributes;
        client.groups.push_back(
            {SidString(list->Groups[i].Sid), (attributes & SE_GROUP_ENABLED) != 0 &&
                                                 (attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0});
    }
    client.token = PipeClientIdentity::Token::Read;
}

}  // namespace

PipeClientIdentity ReadEffectiveTokenIdentity() {
    PipeClientIdentity identity;
    ReadTokenIdentity(kThreadEffectiveToken, identity);
    return identity;
}

PipeClientIdentity ReadPipeClientIdentity(HANDLE pipe, CLogger* logger) {
    PipeClientIdentity client;
    if (!ImpersonateNamedPipeClient(pipe)) {
        return client;  // unreadable
    }
    // Opened as ourselves: at the identification level the client's context
    // can't open the token, and it needs no more than TOKEN_QUERY.
    UniqueHandle token;
    const bool opened =
        OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put()) != FALSE;
    const DWORD openError = opened ? ERROR_SUCCESS : GetLastError();
    // The client's token carries its own access list (a service's gives the
    // user no access to it): then it is read through the thread's effective
    // token, which needs no opening, while the impersonation lasts.
    if (!opened && openError == ERROR_ACCESS_DENIED) {
        client = ReadEffectiveTokenIdentity();
    }
    if (!RevertToSelf()) {
        const DWORD error = GetLastError();
        if (logger != nullptr) {
            logger->Log(1,
                        "Notification channel: RevertToSelf failed (error %lu); the notifier "
                        "ends\n",
                        static_cast<unsigned long>(error));
        }
        TerminateProcess(GetCurrentProcess(), kRevertFailedExitCode);
        ExitProcess(kRevertFailedExitCode);  // not reached
    }
    if (!opened) {
        if (openError == ERROR_CANT_OPEN_ANONYMOUS) {
            client.token = PipeClientIdentity::Token::Anonymous;
        }
        return client;
    }
    // The handle keeps its access after the revert: the token is read as ourselves.
    ReadTokenIdentity(token.Get(), client);
    return client;
}

std::string PipeServerUserSid(HANDLE pipe) {
    ULONG processId = 0;
    if (!GetNamedPipeServerProcessId(pipe, &processId)) {
        return std::string();
    }
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    UniqueHandle token;
    if (!process || !OpenProcessToken(process.Get(), TOKEN_QUERY, token.Put())) {
        return std::string();
    }
    return TokenUserSidString(token.Get());
}

namespace {

// How long the look at a name's holder waits when its pipe is busy with
// another client.
constexpr DWORD kHolderBusyWaitMs = 2000;

// The full path of the program `process` runs, in UTF-8; empty when unreadable.
std::string ProcessImagePath(HANDLE process) {
    wchar_t path[MAX_PATH * 2];
    DWORD size = static_cast<DWORD>(sizeof path / sizeof path[0]);
    if (!QueryFullProcessImageNameW(process, 0, path, &size)) {
        return std::string();
    }
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(path), size));
}

}  // namespace

std::string ObjectOwnerSid(HANDLE object) {
    PSID owner = nullptr;
    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, descriptor.Put()) != ERROR_SUCCESS) {
        return std::string();
    }
    return SidString(owner);
}

ChannelHolderFacts ReadPipeHolderFacts(const std::wstring& name) {
    ChannelHolderFacts facts;
    facts.nameTaken = true;
    facts.ownImage = ProcessImagePath(GetCurrentProcess());
    const auto open = [&name] {
        return CreateFileW(name.c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                           SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
    };
    UniqueFileHandle pipe(open());
    if (!pipe && GetLastError() == ERROR_PIPE_BUSY &&
        WaitNamedPipeW(name.c_str(), kHolderBusyWaitMs)) {
        pipe.Reset(open());
    }
    if (!pipe) {
        return facts;  // gone, busy, or its access list keeps us out
    }
    facts.ownerSid = ObjectOwnerSid(pipe.Get());
    ULONG processId = 0;
    if (GetNamedPipeServerProcessId(pipe.Get(), &processId) && processId != 0) {
        facts.serverProcessId = processId;
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        if (process) {
            facts.serverImage = ProcessImagePath(process.Get());
        }
    }
    return facts;
}
