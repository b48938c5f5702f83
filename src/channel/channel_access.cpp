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

namespace {

// Whether two texts are the same, ASCII letters compared without regard to
// case, as Windows compares SIDs' letters and file names.
bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
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

// The file name of a Windows or posix path: what follows its last separator.
std::string_view FileNameOf(std::string_view path) {
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace

bool SameSid(std::string_view a, std::string_view b) {
    return !a.empty() && SameIgnoringCase(a, b);
}

bool IsServiceOwner(std::string_view ownerSid) {
    for (const char* service : {kLocalSystemSid, kLocalServiceSid, kNetworkServiceSid}) {
        if (SameSid(ownerSid, service)) {
            return true;
        }
    }
    // A service SID: the authority 5, the sub-authority 80, then the five
    // words of the hash of the service's name.
    constexpr std::string_view kServicePrefix = "S-1-5-80-";
    if (ownerSid.size() <= kServicePrefix.size() ||
        !SameIgnoringCase(ownerSid.substr(0, kServicePrefix.size()), kServicePrefix)) {
        return false;
    }
    std::string_view rest = ownerSid.substr(kServicePrefix.size());
    int words = 0;
    while (true) {
        const size_t dash = rest.find('-');
        const std::string_view word = rest.substr(0, dash);
        // A word is a 32-bit number: at most ten digits, no sign, none empty.
        if (word.empty() || word.size() > 10 ||
            word.find_first_not_of("0123456789") != std::string_view::npos ||
            (word.size() == 10 && word > "4294967295")) {
            return false;
        }
        ++words;
        if (dash == std::string_view::npos) {
            break;
        }
        rest = rest.substr(dash + 1);
    }
    return words == 5;
}

std::string CommandPipeOwnerRefusalText(std::string_view pipeName, std::string_view ownerSid) {
    return "Command channel " + std::string(pipeName) + " is owned by " +
           (ownerSid.empty() ? std::string("no owner that can be read") : std::string(ownerSid)) +
           ", not by a service; nothing was sent to it\n";
}

PipeClientVerdict JudgePipeClient(const PipeClientIdentity& client, std::string_view userSid) {
    using Token = PipeClientIdentity::Token;
    if (client.token == Token::Anonymous ||
        (client.token == Token::Read && SameSid(client.userSid, kAnonymousSid))) {
        return {false, "anonymous"};
    }
    if (client.token != Token::Read || client.userSid.empty()) {
        // Passed the access list at the open: that check is the one that counts.
        return {true, "identity unreadable"};
    }
    for (const char* served : {kLocalSystemSid, kLocalServiceSid, kNetworkServiceSid}) {
        if (SameSid(client.userSid, served)) {
            return {true, std::string()};
        }
    }
    if (SameSid(client.userSid, userSid)) {
        return {true, std::string()};
    }
    for (const PipeClientIdentity::Group& group : client.groups) {
        if (group.enabled && SameSid(group.sid, kServiceGroupSid)) {
            return {true, std::string()};
        }
    }
    return {false, client.userSid + " is neither the user nor a service"};
}

ChannelHolder JudgeChannelHolder(const ChannelHolderFacts& facts, std::string_view userSid) {
    if (!facts.nameTaken) {
        return ChannelHolder::NotTaken;
    }
    const std::string_view server = FileNameOf(facts.serverImage);
    if (facts.sessionNotifier) {
        return ChannelHolder::OwnNotifier;
    }
    if (SameSid(facts.ownerSid, userSid) && !server.empty() &&
        SameIgnoringCase(server, FileNameOf(facts.ownImage))) {
        return ChannelHolder::OwnNotifier;
    }
    return ChannelHolder::SomeoneElse;
}

std::string ChannelHolderText(const ChannelHolderFacts& facts) {
    std::string text = "owner " + (facts.ownerSid.empty() ? "unknown" : facts.ownerSid);
    text += ", server process ";
    text += facts.serverProcessId == 0 ? "unknown" : std::to_string(facts.serverProcessId);
    if (facts.serverProcessId != 0) {
        text += " (" + (facts.serverImage.empty() ? "unknown" : facts.serverImage) + ")";
    }
    return text;
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
