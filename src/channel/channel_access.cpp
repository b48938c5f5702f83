#include "channel/channel_access.h"

#include <algorithm>

#include "base/messages.h"

bool MayServePeer(uint32_t peerUid, uint32_t ownUid) {
    return peerUid == kRootUid || peerUid == ownUid;
}

bool IsTrustedServer(uint32_t serverUid, uint32_t expectedUid) {
    return serverUid == kRootUid || serverUid == expectedUid;
}

bool CPeerRefusals::FirstRefusal(std::string_view identity) {
    if (std::find(m_logged.begin(), m_logged.end(), identity) != m_logged.end() ||
        m_logged.size() >= kMaxRemembered) {
        return false;
    }
    m_logged.emplace_back(identity);
    return true;
}

bool SameSid(std::string_view a, std::string_view b) {
    if (a.empty() || a.size() != b.size()) {
        return false;
    }
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string PipeClientRefusal(const PipeClientIdentity& client, std::string_view userSid) {
    using Token = PipeClientIdentity::Token;
    if (client.token == Token::Anonymous ||
        (client.token == Token::Read && SameSid(client.userSid, kAnonymousSid))) {
        return "anonymous";
    }
    if (client.token != Token::Read || client.userSid.empty()) {
        return "identity unreadable";
    }
    for (const char* served : {kLocalSystemSid, kLocalServiceSid, kNetworkServiceSid}) {
        if (SameSid(client.userSid, served)) {
            return std::string();
        }
    }
    if (SameSid(client.userSid, userSid)) {
        return std::string();
    }
    for (const PipeClientIdentity::Group& group : client.groups) {
        if (group.enabled && SameSid(group.sid, kServiceGroupSid)) {
            return std::string();
        }
    }
    return client.userSid + " is neither the user nor a service";
}

FolderVerdict JudgeChannelFolder(const FolderFacts& facts, uint32_t ownUid, FolderUse use) {
    switch (facts.kind) {
        case FolderKind::Absent:
            return FolderVerdict::Missing;
        case FolderKind::SymbolicLink:
            return FolderVerdict::SymbolicLink;
        case FolderKind::Other:
            return FolderVerdict::NotAFolder;
        case FolderKind::Unknown:
            return FolderVerdict::Unreachable;
        case FolderKind::Folder:
            break;
    }
    if (facts.ownerUid != ownUid) {
        return FolderVerdict::NotOwned;
    }
    const uint32_t forbidden = use == FolderUse::Private ? 0077u : 0022u;
    if ((facts.mode & forbidden) != 0) {
        return FolderVerdict::OpenToOthers;
    }
    return facts.opened ? FolderVerdict::Usable : FolderVerdict::Unreachable;
}

std::string ChannelFolderRefusalText(FolderVerdict verdict, std::string_view folder) {
    switch (verdict) {
        case FolderVerdict::Usable:
            return std::string();
        case FolderVerdict::Missing:
            return MessageFormat(MessageId::FolderMissing, {folder});
        case FolderVerdict::NotAFolder:
            return MessageFormat(MessageId::FolderNotAFolder, {folder});
        case FolderVerdict::SymbolicLink:
            return MessageFormat(MessageId::FolderSymbolicLink, {folder});
        case FolderVerdict::NotOwned:
            return MessageFormat(MessageId::FolderNotOwned, {folder});
        case FolderVerdict::OpenToOthers:
            return MessageFormat(MessageId::FolderOpenToOthers, {folder});
        case FolderVerdict::Unreachable:
            return MessageFormat(MessageId::FolderUnreachable, {folder});
    }
    return std::string();
}

std::string ChannelFolderOf(std::string_view channelPath) {
    const size_t slash = channelPath.rfind('/');
    if (slash == std::string_view::npos || slash == 0) {
        return std::string();
    }
    return std::string(channelPath.substr(0, slash));
}
