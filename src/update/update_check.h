// What an update check shows, decided from the service's 0x300 reply. The
// notifier compares no versions itself: the status the service returns
// decides.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CCommandReply;

constexpr int32_t UPDATE_STATUS_LATEST = 4;     // text: the installed version
constexpr int32_t UPDATE_STATUS_AVAILABLE = 5;  // text: "prefix;new version;what's new"

inline constexpr char UPDATE_LATEST_CAPTION[] = "Orlivan";

// The catalogue's UpdateLatestText with `installed` in it ("This version of
// Orlivan(" + installed + ") is the latest version." in English).
std::string LatestVersionText(std::string_view installed);

enum class UpdateCheckAction {
    Nothing,      // silent check with nothing to offer, or a reply without text
    ShowLatest,   // message box: UPDATE_LATEST_CAPTION, `text`
    OfferUpdate,  // update dialog built from the update text in `text`
    ShowError,    // message box: UpdateErrorCaption, UpdateErrorText (silent too)
};

struct UpdateCheckDecision {
    UpdateCheckAction action = UpdateCheckAction::Nothing;
    std::string text;  // the message text, or the update text to offer
};

// The outcome of a check given its reply (null when no usable reply came).
// A reply that is not a valid 0x300 reply, or lacks its status, counts as no
// reply. A reply without text shows nothing. Otherwise status 4 shows the
// latest-version message unless `silent`, status 5 offers the update, and any
// other status shows the error.
UpdateCheckDecision DecideUpdateCheck(const CCommandReply* reply, bool silent);
