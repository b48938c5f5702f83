// The web addresses that the notifier hands to the user's browser: the online
// help, the contact page and the installers of new versions, for Windows and
// for Linux. The hosts and addresses are kept here, in one place.
#pragma once

#include <array>
#include <cstddef>

namespace web_address_detail {

// Joins NUL-terminated literals at compile time into one NUL-terminated text.
template <std::size_t... N>
constexpr std::array<char, (N + ...) - sizeof...(N) + 1> Join(const char (&... parts)[N]) {
    std::array<char, (N + ...) - sizeof...(N) + 1> out{};
    std::size_t at = 0;
    (
        [&] {
            for (std::size_t i = 0; i + 1 < N; ++i) {
                out[at++] = parts[i];
            }
        }(),
        ...);
    out[at] = '\0';
    return out;
}

}  // namespace web_address_detail

// Hosts: the content site (help articles), the main site and the download server.
inline constexpr char HOST_CONTENT[] = "content.orlivan.com";
inline constexpr char HOST_MAIN[] = "www.orlivan.com";
inline constexpr char HOST_DOWNLOAD[] = "download.orlivan.com";

// Each address is a NUL-terminated ASCII text; use .data(). Every platform's
// addresses are kept here together; URL_ONLINE_HELP and the installer choice
// (update/update_offer.h) pick the ones of the platform the program is built for.

// The online help: the set-up article of each platform.
inline constexpr auto URL_ONLINE_HELP_WINDOWS = web_address_detail::Join(
    "https://", HOST_CONTENT, "/content/how-setup-internet-parental-controls-windows-7");
inline constexpr auto URL_ONLINE_HELP_LINUX = web_address_detail::Join(
    "https://", HOST_CONTENT, "/content/how-setup-internet-parental-controls-linux");
inline constexpr auto URL_CONTACT = web_address_detail::Join("https://", HOST_MAIN, "/contact");

// Windows: the installer of a new version, by the machine's native architecture.
inline constexpr auto URL_INSTALLER_AMD64 =
    web_address_detail::Join("https://", HOST_DOWNLOAD, "/windows7/amd64/OrlivanUpdate_amd64.exe");
inline constexpr auto URL_INSTALLER_X86 =
    web_address_detail::Join("https://", HOST_DOWNLOAD, "/windows7/x86/OrlivanUpdate_x86.exe");

// Linux: the Debian package of a new version is
// URL_LINUX_DOWNLOADS + <arch> + "/OrlivanUpdate_" + <arch> + ".deb", <arch>
// being the package architecture of the machine's kernel name (uname's
// machine) in the table below; a machine not in the table gets the download
// page itself, which lists every package.
inline constexpr auto URL_LINUX_DOWNLOADS =
    web_address_detail::Join("https://", HOST_DOWNLOAD, "/linux/");

struct LinuxPackageArchitecture {
    const char* machine;       // uname's machine name
    const char* architecture;  // the Debian package architecture
};
inline constexpr LinuxPackageArchitecture kLinuxPackageArchitectures[] = {
    {"x86_64", "amd64"}, {"aarch64", "arm64"}, {"armv7l", "armhf"}, {"armv8l", "armhf"},
    {"i686", "i386"},    {"i586", "i386"},     {"i486", "i386"},    {"i386", "i386"},
};

#if defined(_WIN32)
inline constexpr const auto& URL_ONLINE_HELP = URL_ONLINE_HELP_WINDOWS;
#else
inline constexpr const auto& URL_ONLINE_HELP = URL_ONLINE_HELP_LINUX;
#endif
