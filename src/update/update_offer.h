// The update offer: the update text's three fields, the offer shown in the
// update dialog, and which installer suits the machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The update text "prefix;new version;what's new". Each field ends at the next
// ";" except the last, which keeps any further ";". A field whose ";" is
// missing is empty, and so are the fields after it.
struct UpdateText {
    std::string prefix;      // kept, not shown
    std::string newVersion;  // between the first and second ";"
    std::string whatsNew;    // everything after the second ";"
};

UpdateText SplitUpdateText(std::string_view text);

// "New version(" + newVersion + ") of Orlivan is available. Do you want to
// update?" + three line feeds + "Whats new: " + a line feed + eight spaces +
// whatsNew.
std::string UpdateOfferText(std::string_view newVersion, std::string_view whatsNew);

// Native processor architecture code of a 64-bit x86 machine.
constexpr uint16_t NATIVE_ARCHITECTURE_AMD64 = 9;

// Only a native 64-bit x86 machine gets the amd64 installer; every other
// architecture (32-bit x86, Itanium, ARM, unknown) gets the x86 one.
bool UsesAmd64Installer(uint16_t nativeArchitecture);

// The Windows installer's web address: https, the download host, and the fixed
// path for the architecture.
const char* InstallerUrl(bool amd64);

// The Linux package's web address for a machine of uname's machine name
// `unameMachine` (see kLinuxPackageArchitectures): the package of its
// architecture, or the download page for a machine without one.
std::string LinuxPackageUrl(std::string_view unameMachine);
