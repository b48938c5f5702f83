#!/usr/bin/env bash
# Idempotent set-up of a Debian 12 machine for building and testing: installs
# only what is missing (i386 architecture, MinGW-w64 i686 posix, Wine with
# wine32 and wine64, Xvfb, CMake, Ninja, GoogleTest, Google Benchmark, clang,
# ImageMagick for screenshots; Qt 6, D-Bus, dunst, xdotool, weston and GNOME
# Shell for the Linux notifier; ccache) and boots the base Wine prefixes once.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

packages=(cmake ninja-build g++ googletest libbenchmark-dev g++-mingw-w64-i686-posix
          wine wine64 wine32:i386 xvfb x11-utils imagemagick clang-format)
# The installer (MSI) of the release package is built with wixl.
packages+=(wixl msitools)
# ... and signed with Authenticode (scripts/package.sh with a certificate).
packages+=(osslsigncode)
# The service library: its 64-bit Windows DLL, and logind over libdbus on Linux.
packages+=(g++-mingw-w64-x86-64-posix libdbus-1-dev)
# clang: the second Windows build (with LLVM's linker) and the libFuzzer
# targets; an installed GoogleTest for the native builds.
packages+=(clang lld libclang-rt-14-dev libgtest-dev libgmock-dev)
# The Linux notifier: Qt 6 with its X11 plugin, its .deb tools, and the desktop
# parts its tests run against (D-Bus, a notification server, window keys).
packages+=(qt6-base-dev qt6-qpa-plugins dpkg-dev file desktop-file-utils dbus python3-dbus
           python3-dbusmock xauth xdotool dunst xfce4-panel)
# The texts of its boxes and dialogs, read over the accessibility bus (AT-SPI).
packages+=(at-spi2-core python3-pyatspi)
# ... and on Wayland: Qt's Wayland plugin and a headless compositor (weston).
packages+=(qt6-wayland weston)
# ... and the xdg-activation protocol the tray menu's commands ask tokens with.
packages+=(libwayland-dev wayland-protocols)
# ... and a small X session manager of the tests' own, on libSM.
packages+=(libsm-dev)
# The service stand-in reads its command line with CLI11 (header-only).
packages+=(libcli11-dev)
# msgmerge keeps the translations in step with the template (docs/translating.md).
packages+=(gettext)
# The Debian packages' checks: lintian, AppStream's validator, groff for the
# manual pages.
packages+=(lintian appstream groff-base)
# The compiler cache of the test command's builds.
packages+=(ccache)
# The real GNOME Shell of the GNOME scenarios and the demo, installed without
# its recommended packages (a display manager among them); gjs runs its
# notification relay.
gnome_packages=(gnome-shell mutter xwayland gjs gnome-shell-extension-appindicator
                gnome-screenshot)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
missing_gnome=()
for p in "${gnome_packages[@]}"; do
    installed "$p" || missing_gnome+=("$p")
done

sudo=
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    # With recommended packages: Wine's bring the fonts and loader parts it expects.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#missing_gnome[@]} -gt 0 ]; then
    echo "setup: installing ${missing_gnome[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing_gnome[@]}" >/dev/null
fi

. "$here/lib/wine.sh"
wine_base_prefix win32 >/dev/null
wine_base_prefix win64 >/dev/null
echo "setup: ready"
