// The update text of a service's 0x300 reply, split into its fields and
// composed into the offer the update dialog shows. Input: the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "base/text.h"
#include "update/update_offer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const UpdateText fields = SplitUpdateText(text);
    const auto separators = std::count(text.begin(), text.end(), ';');
    if (separators >= 2) {
        // The fields are the whole text; only the last one may hold a ";".
        FUZZ_CHECK(fields.prefix + ";" + fields.newVersion + ";" + fields.whatsNew == text);
        FUZZ_CHECK(fields.prefix.find(';') == std::string::npos &&
                   fields.newVersion.find(';') == std::string::npos);
    } else {
        // Fewer than two ";": the version and what is new are empty.
        FUZZ_CHECK(fields.newVersion.empty() && fields.whatsNew.empty());
        FUZZ_CHECK(separators == 1
                       ? text.compare(0, fields.prefix.size() + 1, fields.prefix + ";") == 0
                       : fields.prefix.empty());
    }
    const std::string offer = UpdateOfferText(fields.newVersion, fields.whatsNew);
    FUZZ_CHECK(offer.find("(" + fields.newVersion + ")") != std::string::npos);
    FUZZ_CHECK(offer.size() >= fields.whatsNew.size() &&
               offer.compare(offer.size() - fields.whatsNew.size(), std::string::npos,
                             fields.whatsNew) == 0);
    // The dialog shows the offer decoded as external text.
    FUZZ_CHECK(!DecodeExternalText(offer, nullptr).empty());
    return 0;
}
