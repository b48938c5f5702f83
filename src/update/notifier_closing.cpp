#include "update/notifier_closing.h"

#include <iterator>

namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view FileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

ClosingVerdict JudgeNotifierWindow(const NotifierWindowFacts& window, std::string_view ownSid) {
    if (window.className != kNotifierWindowClass || window.caption != kNotifierWindowCaption ||
        !SameIgnoringAsciiCase(FileNameOf(window.programPath), kNotifierProgramName)) {
        return ClosingVerdict::NotNotifier;
    }
    if (ownSid.empty() || window.ownerSid != ownSid) {
        return ClosingVerdict::OtherUser;
    }
    return ClosingVerdict::Close;
}

std::size_t ClosingStagesDue(std::chrono::milliseconds elapsed) {
    std::size_t due = 0;
    for (const ClosingStage& stage : kClosingSchedule) {
        if (stage.after > elapsed) {
            break;
        }
        ++due;
    }
    return due;
}

std::chrono::milliseconds UntilNextClosingStage(std::chrono::milliseconds elapsed) {
    const std::size_t due = ClosingStagesDue(elapsed);
    if (due == std::size(kClosingSchedule)) {
        return std::chrono::milliseconds(0);
    }
    return kClosingSchedule[due].after - elapsed;
}

NotifierStart ChooseNotifierStart(const NotifierStartFacts& facts) {
    if (!facts.endedByInstallation || facts.running) {
        return NotifierStart::None;
    }
    if (facts.shellIsOwnUser) {
        return NotifierStart::ThroughShell;
    }
    if (facts.sessionUserToken) {
        return NotifierStart::SessionUserToken;
    }
    return facts.elevated ? NotifierStart::LeftToService : NotifierStart::Directly;
}
