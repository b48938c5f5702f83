// A notification body decoded and dispatched to a recording view. Input: a
// flags byte (bit 0: the first new-update notice has come; bit 1: the first
// driver error has been shown; bit 2: a conflict balloon was shown a minute
// ago), a length N and N bytes of the name the process lookup finds, then the
// body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "notify/dispatch.h"

namespace {

constexpr int64_t kNow = 1'700'000'000;

// UTF-16 without an unpaired surrogate, so that a cut never leaves half a pair.
bool IsWellFormed(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

class RecordingView : public NotificationView {
public:
    explicit RecordingView(std::string processName) : m_processName(std::move(processName)) {}

    void Log(int32_t, const std::string& line) override {
        FUZZ_CHECK(!line.empty() && line.back() == '\n');
    }
    void ShowBalloon(std::u16string_view title, std::u16string_view text,
                     std::optional<uint32_t> infoFlags) override {
        FUZZ_CHECK(title.size() <= kBalloonTitleUnits && text.size() <= kBalloonTextUnits);
        FUZZ_CHECK(IsWellFormed(title) && IsWellFormed(text));
        FUZZ_CHECK(!infoFlags || *infoFlags == kBalloonIconInfo || *infoFlags == kBalloonIconError);
    }
    void Pause(uint32_t) override {}
    void ShowErrorBox(std::u16string_view text, std::u16string_view caption) override {
        FUZZ_CHECK(!text.empty() && !caption.empty());
    }
    void CheckForUpdateSilently() override {}
    std::string GetProcessName(int32_t processId) override {
        FUZZ_CHECK(processId > 0);  // no lookup of the idle process or of a negative id
        return m_processName;
    }
    int64_t Now() override { return kNow; }

private:
    std::string m_processName;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint8_t flags = data[0];
    const size_t nameSize = std::min<size_t>(data[1], size - 2);
    const uint8_t* body = data + 2 + nameSize;
    const size_t bodySize = size - 2 - nameSize;

    NotificationRecord record;
    if (DecodeNotificationRecord(body, bodySize, &record) != RecordError::None) {
        return 0;
    }
    // What the sender's side encodes from a record decodes to that record.
    NotificationRecord again;
    const std::string encoded = EncodeNotificationRecord(record);
    FUZZ_CHECK(DecodeNotificationRecord(encoded.data(), encoded.size(), &again) ==
               RecordError::None);
    FUZZ_CHECK(again.type == record.type && again.detail == record.detail &&
               again.errorCode == record.errorCode);

    // The digits of a process id taken from the detail are written in it.
    const int64_t processId = ConflictProcessId(record.detail);
    FUZZ_CHECK(processId == 0 || record.detail.find(std::to_string(
                                     processId < 0 ? -processId : processId)) != std::string::npos);

    NotificationDispatchState state;
    state.s_checkUpdateOnNotice = (flags & 1) == 0;
    state.s_driverErrorReported = (flags & 2) != 0;
    state.s_lastConflictBalloonTime = (flags & 4) != 0 ? kNow - 60 : 0;
    RecordingView view(std::string(reinterpret_cast<const char*>(data + 2), nameSize));
    const int32_t reply = DispatchNotification(record, view, state, nullptr);
    FUZZ_CHECK(reply == 0 || reply == 1);
    return 0;
}
