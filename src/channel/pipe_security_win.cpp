// The access list of the notification pipe.
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

PSECURITY_DESCRIPTOR CreatePipeSecurityDescriptor() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    std::vector<BYTE> user = ProcessUserSid();
    UniqueSid network;
    UniqueSid system;
    UniqueSid localService;
    UniqueSid networkService;
    UniqueSid service;
    const auto allocate = [&nt](DWORD rid, UniqueSid& sid) {
        return AllocateAndInitializeSid(&nt, 1, rid, 0, 0, 0, 0, 0, 0, 0, sid.Put()) != FALSE;
    };
    if (user.empty() || !allocate(SECURITY_NETWORK_RID, network) ||
        !allocate(SECURITY_LOCAL_SYSTEM_RID, system) ||
        !allocate(SECURITY_LOCAL_SERVICE_RID, localService) ||
        !allocate(SECURITY_NETWORK_SERVICE_RID, networkService) ||
        !allocate(SECURITY_SERVICE_RID, service)) {
        return nullptr;
    }
    EXPLICIT_ACCESS_W entries[6] = {};
    // Clients from other machines come in as NETWORK: refused whatever else allows.
    Fill(entries[0], network.Get(), FILE_ALL_ACCESS, DENY_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP);
    Fill(entries[1], system.Get(), FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER);
    Fill(entries[2], user.data(), FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER);
    Fill(entries[3], localService.Get(), kClientAccess, SET_ACCESS, TRUSTEE_IS_USER);
    Fill(entries[4], networkService.Get(), kClientAccess, SET_ACCESS, TRUSTEE_IS_USER);
    Fill(entries[5], service.Get(), kClientAccess, SET_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP);
    UniqueLocal<PACL> acl;
    if (SetEntriesInAclW(6, entries, nullptr, acl.Put()) != ERROR_SUCCESS) {
        return nullptr;
    }
    // One block: the descriptor, then the owner's SID it points to.
    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor(
        LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH + user.size()));
    if (!descriptor) {
        return nullptr;
    }
    const PSID owner = static_cast<BYTE*>(descriptor.Get()) + SECURITY_DESCRIPTOR_MIN_LENGTH;
    // The owner is the user, said explicitly: left to the token's default, an
    // elevated notifier's pipe would belong to Administrators, and services
    // check the owner to know the pipe is the user's.
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
