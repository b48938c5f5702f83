// The access lists of the notification pipe and of the command pipe.
#include "channel/pipe_security_win.h"

#include <aclapi.h>

#include <vector>

namespace {

// Rights of the service accounts: what GENERIC_READ | GENERIC_WRITE map to,
// nothing more (no WRITE_DAC, WRITE_OWNER, DELETE). FILE_GENERIC_WRITE carries
// FILE_APPEND_DATA, the same bit as FILE_CREATE_PIPE_INSTANCE; it must stay,
// or a service's open for reading and writing is refused. It adds no
// instance: the pipe allows one, and the notifier holds it
// (FILE_FLAG_FIRST_PIPE_INSTANCE) for its whole life; and no account that
// isn't named here gets the bit at all.
constexpr DWORD kClientAccess = FILE_GENERIC_READ | FILE_GENERIC_WRITE;

// The SID of the user the process runs as, copied out of its token.
std::vector<BYTE> ProcessUserSid() {
    std::vector<BYTE> sid;
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) {
        return sid;
    }
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size != 0 && GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
        const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
        const DWORD length = GetLengthSid(user->User.Sid);
        sid.resize(length);
        CopySid(length, sid.data(), user->User.Sid);
    }
    return sid;
}

void Fill(EXPLICIT_ACCESS_W& entry, PSID sid, DWORD rights, ACCESS_MODE mode, TRUSTEE_TYPE type) {
    entry.grfAccessPermissions = rights;
    entry.grfAccessMode = mode;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = type;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
}

}  // namespace

namespace {

// The access a notifier's command-channel open asks for (GENERIC_READ |
// FILE_WRITE_DATA), mapped: reading and writing its request, and neither
// FILE_APPEND_DATA (which on a pipe means creating an instance) nor control.
constexpr DWORD kCommandOpenAccess = FILE_GENERIC_READ | FILE_WRITE_DATA;

// One entry of an access list: a well-known SID (by its one RID under the NT
// authority) or, with `rid` 0, the process's user.
struct Entry {
    DWORD rid;
    DWORD rights;
    ACCESS_MODE mode;
    TRUSTEE_TYPE type;
};

// A descriptor owned by the process's user with a DACL of `entries` (a deny
// entry goes before every allow entry). Null on failure.
PSECURITY_DESCRIPTOR BuildDescriptor(const Entry* entries, size_t count) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    std::vector<BYTE> user = ProcessUserSid();
    if (user.empty() || count > 8) {
        return nullptr;
    }
    UniqueSid sids[8];
    EXPLICIT_ACCESS_W access[8] = {};
    for (size_t i = 0; i < count; ++i) {
        PSID sid = user.data();
        if (entries[i].rid != 0) {
            if (!AllocateAndInitializeSid(&nt, 1, entries[i].rid, 0, 0, 0, 0, 0, 0, 0,
                                          sids[i].Put())) {
                return nullptr;
            }
            sid = sids[i].Get();
        }
        Fill(access[i], sid, entries[i].rights, entries[i].mode, entries[i].type);
    }
    UniqueLocal<PACL> acl;
    if (SetEntriesInAclW(static_cast<ULONG>(count), access, nullptr, acl.Put()) != ERROR_SUCCESS) {
        return nullptr;
    }
    // One block: the descriptor, then the owner's SID it points to.
    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor(
        LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH + user.size()));
    if (!descriptor) {
        return nullptr;
    }
    const PSID owner = static_cast<BYTE*>(descriptor.Get()) + SECURITY_DESCRIPTOR_MIN_LENGTH;
    // The owner is the process's user, said explicitly: left to the token's
    // default, an elevated process's pipe would belong to Administrators, and
    // the other end checks the owner to know whose the pipe is.
    if (!CopySid(static_cast<DWORD>(user.size()), owner, user.data()) ||
        !InitializeSecurityDescriptor(descriptor.Get(), SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(descriptor.Get(), owner, FALSE) ||
        !SetSecurityDescriptorDacl(descriptor.Get(), TRUE, acl.Get(), FALSE)) {
        return nullptr;
    }
    // From here the descriptor carries the list: FreePipeSecurityDescriptor
    // releases both.
    acl.Release();
    return descriptor.Release();
}

}  // namespace

PSECURITY_DESCRIPTOR CreatePipeSecurityDescriptor() {
    const Entry entries[] = {
        // Clients from other machines come in as NETWORK: refused whatever else allows.
        {SECURITY_NETWORK_RID, FILE_ALL_ACCESS, DENY_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP},
        {SECURITY_LOCAL_SYSTEM_RID, FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER},
        {0, FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER},
        {SECURITY_LOCAL_SERVICE_RID, kClientAccess, SET_ACCESS, TRUSTEE_IS_USER},
        {SECURITY_NETWORK_SERVICE_RID, kClientAccess, SET_ACCESS, TRUSTEE_IS_USER},
        {SECURITY_SERVICE_RID, kClientAccess, SET_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP},
    };
    return BuildDescriptor(entries, sizeof entries / sizeof entries[0]);
}

PSECURITY_DESCRIPTOR CreateCommandPipeSecurityDescriptor() {
    const Entry entries[] = {
        {SECURITY_NETWORK_RID, FILE_ALL_ACCESS, DENY_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP},
        {SECURITY_LOCAL_SYSTEM_RID, FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER},
        // The service's own account, when it is not SYSTEM (LocalService, ...).
        {0, FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER},
        // Every interactive user's notifier: its open, nothing more.
        {SECURITY_INTERACTIVE_RID, kCommandOpenAccess, SET_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP},
    };
    return BuildDescriptor(entries, sizeof entries / sizeof entries[0]);
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
