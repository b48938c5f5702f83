#include "channel/channel_access.h"

#include <algorithm>

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
    const std::string name(folder);
    const char* tail =
        ", so the channel of Orlivan Notifier would not be private. Orlivan Notifier does not "
        "start.";
    switch (verdict) {
        case FolderVerdict::Usable:
            return std::string();
        case FolderVerdict::Missing:
            return "The folder " + name +
                   " can't be created. Orlivan Notifier needs it for its channel and does not "
                   "start.";
        case FolderVerdict::NotAFolder:
            return name + " is not a folder" + tail;
        case FolderVerdict::SymbolicLink:
            return name + " is a symbolic link" + tail;
        case FolderVerdict::NotOwned:
            return "The folder " + name + " belongs to another user" + tail;
        case FolderVerdict::OpenToOthers:
            return "The folder " + name + " is open to other users" + tail;
        case FolderVerdict::Unreachable:
            return "The folder " + name +
                   " can't be opened. Orlivan Notifier needs it for its channel and does not "
                   "start.";
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
