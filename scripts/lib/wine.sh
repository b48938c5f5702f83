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
# exports DISPLAY; stop it with stop_xvfb. Xvfb picks a free display number
# itself (-displayfd), so callers starting at the same moment never share one.
start_xvfb() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local number_file i
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    ORLIVAN_XVFB_PID=$!
    for i in $(seq 1 100); do
        if [ -s "$number_file" ]; then
            export DISPLAY=":$(head -n 1 "$number_file")"
            rm -f "$number_file"
            return 0
        fi
        sleep 0.05
    done
    rm -f "$number_file"
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
