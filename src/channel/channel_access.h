// Who may use the channels, and when a posix channel folder is private
// enough to hold them. Decided here from what the system reports (user ids,
// SIDs and groups of a token, folder owner and mode); channel_access_posix.cpp
// and pipe_identity_win.cpp ask the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t kRootUid = 0;

// The notification channel serves root (the filter's service) and the user
// the notifier runs as (the stand-in started by that user); nobody else.
bool MayServePeer(uint32_t peerUid, uint32_t ownUid);

// A channel's server is trusted when it runs as root (the filter's service)
// or as `expectedUid`: the stand-in started by the user, for the notifier's
// command channel; the addressed user's notifier, for the stand-in's sends.
bool IsTrustedServer(uint32_t serverUid, uint32_t expectedUid);

// Remembers which refused identities (a uid, or a refusal text on Windows)
// were already logged, so a peer that keeps trying is logged once. Holds at
// most kMaxRemembered; later ones are not logged at all, so the log can't be
// flooded by many users either.
class CPeerRefusals {
public:
    static constexpr size_t kMaxRemembered = 32;
    // True the first time `identity` is refused.
    bool FirstRefusal(std::string_view identity);
    bool FirstRefusal(uint32_t uid) { return FirstRefusal(std::to_string(uid)); }

private:
    std::vector<std::string> m_logged;
};

// Well-known SIDs the notification pipe's rule names.
constexpr const char kLocalSystemSid[] = "S-1-5-18";
constexpr const char kLocalServiceSid[] = "S-1-5-19";
constexpr const char kNetworkServiceSid[] = "S-1-5-20";
constexpr const char kServiceGroupSid[] = "S-1-5-6";  // every process a service runs in
constexpr const char kAnonymousSid[] = "S-1-5-7";

// Whether two SID strings name the same SID: letters compared without regard
// to case, as Windows compares pipe names ("s-1-5-18" is "S-1-5-18").
bool SameSid(std::string_view a, std::string_view b);

// Whether the owner of the Windows command pipe is an account only a service
// runs as: LocalSystem, LocalService, NetworkService, or a service's own SID
// (S-1-5-80- followed by five decimal sub-authorities). An ordinary account
// can't give a pipe such an owner, so a pipe owned otherwise, or whose owner
// can't be read (empty), was made by someone else while the service did not
// hold the name, and the notifier sends it nothing.
bool IsServiceOwner(std::string_view ownerSid);

// The log line for a command pipe refused by IsServiceOwner.
std::string CommandPipeOwnerRefusalText(std::string_view pipeName, std::string_view ownerSid);

// A client of the Windows notification pipe as its token describes it.
struct PipeClientIdentity {
    enum class Token {
        Read,        // the fields below are the token's
        Anonymous,   // the client connected at the anonymous level: no token to read
        Unreadable,  // the token could not be read
    };
    struct Group {
        std::string sid;
        bool enabled = false;  // counts for access checks (not disabled, not deny-only)
    };
    Token token = Token::Unreadable;
    std::string userSid;
    std::vector<Group> groups;
};

// How the notification pipe of `userSid` treats `client`, whom its access
// list already admitted at the open. Served: the user itself, LocalSystem,
// LocalService, NetworkService, and any process a service runs (its token
// holds the SERVICE group, enabled). Refused: "anonymous", or "<SID> is
// neither the user nor a service"; the note is the text the log shows and
// names the refused identity for CPeerRefusals. A client whose identity can't
// be read is served, the access list having decided, with the note "identity
// unreadable" for the log.
struct PipeClientVerdict {
    bool served = false;
    std::string note;  // empty for a client served after its identity was checked
};
PipeClientVerdict JudgePipeClient(const PipeClientIdentity& client, std::string_view userSid);

// What the notifier learnt about whoever holds the name of its notification
// pipe, when creating the pipe failed.
struct ChannelHolderFacts {
    bool nameTaken = false;        // the pipe could not be made because its name exists
    std::string ownerSid;          // owner of the existing pipe; empty when it can't be read
    uint32_t serverProcessId = 0;  // the process serving it; 0 when unknown
    std::string serverImage;       // that process's program file; empty when unreadable
    std::string ownImage;          // this process's program file
    // This user's notifier of this session runs: its session marker exists
    // and is owned by the user (told even while its pipe is busy with a
    // client and can't be asked).
    bool sessionNotifier = false;
};

enum class ChannelHolder {
    NotTaken,     // the pipe could not be made for another reason than its name
    OwnNotifier,  // the user's own notifier serves it (this session or another of the user's)
    SomeoneElse,  // anyone or anything else: waited out until the name is free
};

// The user's own notifier holds the name when its session marker says so, or
// when the pipe is owned by `userSid`
// (another user can't give an object that owner; only the user, or an
// administrator using the privilege to restore files) and the process serving
// it runs a program of the same file name as this one. Whatever can't be read counts
// against it: an unknown holder is waited out, never taken for the notifier.
ChannelHolder JudgeChannelHolder(const ChannelHolderFacts& facts, std::string_view userSid);

// The holder as the log names it: "owner S-1-5-..., server process 412
// (C:\x\prog.exe)", with "unknown" for each part that could not be read.
std::string ChannelHolderText(const ChannelHolderFacts& facts);

// How a channel folder is used: private to one user (the notification
// channel, and both channels under ORLIVAN_CHANNEL_DIR), or shared, where
// every user may enter but only the owner may write (the service's command
// channel in /run/orlivan).
enum class FolderUse { Private, Shared };

// What stands at a folder's path, symbolic links not followed.
enum class FolderKind {
    Absent,
    Folder,
    SymbolicLink,
    Other,    // a file, a socket, ...
    Unknown,  // it could not be examined (a folder above it can't be entered)
};

// A folder as the file system reports it.
struct FolderFacts {
    FolderKind kind = FolderKind::Absent;
    uint32_t ownerUid = 0;
    uint32_t mode = 0;    // permission bits
    bool opened = false;  // the notifier could open it
};

enum class FolderVerdict {
    Usable,
    Missing,       // absent, and it could not be created
    NotAFolder,    // a file or some other kind of entry stands there
    SymbolicLink,  // a symbolic link stands there
    NotOwned,      // it belongs to another user
    OpenToOthers,  // others may enter a private folder, or write to a shared one
    Unreachable,   // it could not be opened (its own mode, or a folder above it)
};

// A folder is usable when it is a real folder owned by `ownUid` whose mode
// keeps others out (Private: no group or other bits; Shared: no group or
// other write bits) and that could be opened. Each other case has its own
// verdict, the owner coming before the mode and the mode before the open.
FolderVerdict JudgeChannelFolder(const FolderFacts& facts, uint32_t ownUid, FolderUse use);

// The message for a folder that is not usable (empty for a usable one).
std::string ChannelFolderRefusalText(FolderVerdict verdict, std::string_view folder);

// The folder part of a channel path ("/a/b/notification" gives "/a/b"); empty
// when the path has no folder.
std::string ChannelFolderOf(std::string_view channelPath);

#if !defined(_WIN32)
// Creates `folder` (its last component; mode 0700 for private use, 0755 for
// shared) when it does not exist, then judges it as it now is.
FolderVerdict PrepareChannelFolder(const std::string& folder, FolderUse use);
// The user id of the peer of a connected Unix domain socket; false when the
// system can't tell.
bool PeerUserId(int socketFd, uint32_t* uid);
// The user id this process acts as (its effective uid).
uint32_t ProcessUserId();
#endif
