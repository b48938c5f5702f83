#include "channel/channel_access.h"

#include <algorithm>

#include "base/messages.h"

bool MayServePeer(uint32_t peerUid, uint32_t ownUid) {
    return peerUid == kRootUid || peerUid == ownUid;
}

bool IsTrustedServer(uint32_t serverUid, uint32_t expectedUid) {
    return serverUid == kRootUid || serverUid == expectedUid;
}

bool CPeerRefusals::FirstRefusal(uint32_t uid) {
    if (std::find(m_logged.begin(), m_logged.end(), uid) != m_logged.end() ||
        m_logged.size() >= kMaxRemembered) {
        return false;
    }
    m_logged.push_back(uid);
    return true;
}

FolderVerdict JudgeChannelFolder(const FolderFacts& facts, uint32_t ownUid, FolderUse use) {
    if (!facts.exists) {
        return FolderVerdict::Missing;
    }
    if (!facts.isDirectory) {
        return FolderVerdict::NotAFolder;
    }
    if (facts.ownerUid != ownUid) {
        return FolderVerdict::NotOwned;
    }
    const uint32_t forbidden = use == FolderUse::Private ? 0077u : 0022u;
    return (facts.mode & forbidden) != 0 ? FolderVerdict::OpenToOthers : FolderVerdict::Usable;
}

std::string ChannelFolderRefusalText(FolderVerdict verdict, std::string_view folder) {
    switch (verdict) {
        case FolderVerdict::Usable:
            return std::string();
        case FolderVerdict::Missing:
            return MessageFormat(MessageId::FolderMissing, {folder});
        case FolderVerdict::NotAFolder:
            return MessageFormat(MessageId::FolderNotAFolder, {folder});
        case FolderVerdict::NotOwned:
            return MessageFormat(MessageId::FolderNotOwned, {folder});
        case FolderVerdict::OpenToOthers:
            return MessageFormat(MessageId::FolderOpenToOthers, {folder});
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
