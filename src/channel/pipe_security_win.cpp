// The access list of the notification pipe.
#include "channel/pipe_security_win.h"

#include <aclapi.h>

#include <vector>

namespace {

// Rights of every local account: read and write the pipe, nothing more (no
// WRITE_DAC, WRITE_OWNER, DELETE, and no FILE_CREATE_PIPE_INSTANCE, which
// FILE_GENERIC_WRITE carries as FILE_APPEND_DATA).
constexpr DWORD kClientAccess =
    (FILE_GENERIC_READ | FILE_GENERIC_WRITE) & ~FILE_CREATE_PIPE_INSTANCE;

// The SID of the user the process runs as, copied out of its token.
std::vector<BYTE> ProcessUserSid() {
    std::vector<BYTE> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return sid;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
        const DWORD length = GetLengthSid(user->User.Sid);
        sid.resize(length);
        CopySid(length, sid.data(), user->User.Sid);
    }
    CloseHandle(token);
    return sid;
}

}  // namespace

PSECURITY_DESCRIPTOR CreatePipeSecurityDescriptor() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID everyone = nullptr;
    PSID network = nullptr;
    PSID system = nullptr;
    std::vector<BYTE> user = ProcessUserSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;

    if (!user.empty() &&
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
        AllocateAndInitializeSid(&nt, 1, SECURITY_NETWORK_RID, 0, 0, 0, 0, 0, 0, 0, &network) &&
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) {
        EXPLICIT_ACCESS_W entries[4] = {};
        auto fill = [](EXPLICIT_ACCESS_W& entry, PSID sid, DWORD rights, ACCESS_MODE mode,
                       TRUSTEE_TYPE type) {
            entry.grfAccessPermissions = rights;
            entry.grfAccessMode = mode;
            entry.grfInheritance = NO_INHERITANCE;
            entry.Trustee.pMultipleTrustee = nullptr;
            entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
            entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
            entry.Trustee.TrusteeType = type;
            entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
        };
        // Clients from other machines come in as NETWORK: refused whatever else allows.
        fill(entries[0], network, FILE_ALL_ACCESS, DENY_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP);
        fill(entries[1], system, FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER);
        fill(entries[2], user.data(), FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER);
        fill(entries[3], everyone, kClientAccess, SET_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP);
        if (SetEntriesInAclW(4, entries, nullptr, &acl) == ERROR_SUCCESS) {
            descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
            if (descriptor == nullptr ||
                !InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
                !SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) {
                if (descriptor != nullptr) {
                    LocalFree(descriptor);
                }
                LocalFree(acl);
                descriptor = nullptr;
            }
        }
    }
    if (everyone != nullptr) {
        FreeSid(everyone);
    }
    if (network != nullptr) {
        FreeSid(network);
    }
    if (system != nullptr) {
        FreeSid(system);
    }
    return descriptor;
}

void FreePipeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    if (descriptor == nullptr) {
        return;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    if (GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present &&
        acl != nullptr) {
        LocalFree(acl);
    }
    LocalFree(descriptor);
}
