// The web addresses that the notifier hands to the user's browser: the online
// help, the contact page and the installers of new versions. The hosts are
// kept here, in one place.
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

// Each address is a NUL-terminated ASCII text; use .data().
inline constexpr auto URL_ONLINE_HELP = web_address_detail::Join(
    "http://", HOST_CONTENT, "/content/how-setup-internet-parental-controls-windows-7");
inline constexpr auto URL_CONTACT = web_address_detail::Join("http://", HOST_MAIN, "/contact");
inline constexpr auto URL_INSTALLER_AMD64 =
    web_address_detail::Join("http://", HOST_DOWNLOAD, "/windows7/amd64/OrlivanUpdate_amd64.exe");
inline constexpr auto URL_INSTALLER_X86 =
    web_address_detail::Join("http://", HOST_DOWNLOAD, "/windows7/x86/OrlivanUpdate_x86.exe");
