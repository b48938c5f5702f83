# Shared Wine helpers for the project's scripts. Source it; it changes nothing
# until a function is called.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

# Where booted base prefixes are kept between runs on this machine.
ORLIVAN_WINE_CACHE=${ORLIVAN_WINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orlivan-wine}

# wine_base_prefix ARCH: prints the path of a booted prefix of ARCH (win32 or
# win64), booting it once. Callers copy it; nobody runs programs in it.
wine_base_prefix() {
    local arch=${1:-win32}
    local base="$ORLIVAN_WINE_CACHE/base-$arch"
    mkdir -p "$ORLIVAN_WINE_CACHE"
    (
        flock 9
        if [ ! -f "$base/.booted" ]; then
            rm -rf "$base"
            WINEPREFIX="$base" WINEARCH="$arch" DISPLAY= wineboot -i >/dev/null 2>&1
            WINEPREFIX="$base" wineserver -w
            touch "$base/.booted"
        fi
    ) 9>"$ORLIVAN_WINE_CACHE/.lock-$arch"
    echo "$base"
}

# wine_fresh_prefix ARCH DEST: makes DEST a fresh copy of the booted base prefix.
wine_fresh_prefix() {
    local arch=$1 dest=$2 base
    base=$(wine_base_prefix "$arch")
    if [ -n "${WINEPREFIX:-}" ] && [ "$WINEPREFIX" = "$dest" ]; then
        wineserver -k 2>/dev/null || true
    fi
    rm -rf "$dest"
    mkdir -p "$(dirname "$dest")"
    cp -a "$base" "$dest"
    rm -f "$dest/.booted"
}

# start_xvfb: when DISPLAY is empty, starts an Xvfb display for this shell and
# exports DISPLAY; the display ends with the shell (trap set by the caller).
start_xvfb() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local n
    for n in $(seq 91 120); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
            ORLIVAN_XVFB_PID=$!
            export DISPLAY=":$n"
            local i
            for i in $(seq 1 50); do
                [ -e "/tmp/.X11-unix/X$n" ] && return 0
                sleep 0.1
            done
        fi
    done
    echo "could not start Xvfb" >&2
    return 1
}

stop_xvfb() {
    if [ -n "${ORLIVAN_XVFB_PID:-}" ]; then
        kill "$ORLIVAN_XVFB_PID" 2>/dev/null || true
        wait "$ORLIVAN_XVFB_PID" 2>/dev/null || true
        ORLIVAN_XVFB_PID=
    fi
}
