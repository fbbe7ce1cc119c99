#!/usr/bin/env bash
# Starts the reader under Xvfb with a small catalogue of folders and feeds, in a portable folder of
# its own, and saves a picture of its main window as docs/main-window.png (or the path given).
# Needs xvfb, xdotool and imagemagick (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/main-window.png}")
BUILD=${BUILD:-build-release}

if [ ! -x "$BUILD/src/app/tovelrss" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVEL_BUILD_TESTS=OFF \
        -DTOVEL_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$BUILD" --target tovelrss -j "$(nproc)" >/dev/null

work=$(mktemp -d)
xvfb_pid=""
reader_pid=""
cleanup() {
    [ -n "$reader_pid" ] && kill "$reader_pid" 2>/dev/null && wait "$reader_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A portable copy: the program, its templates and the marker, so the data stays in $work/bin.
mkdir -p "$work/bin" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
cp "$BUILD/src/app/tovelrss" "$work/bin/"
cp -r "$BUILD/src/app/template" "$work/bin/"
touch "$work/bin/tovelrss.portable"

# Folders and feeds; the addresses point at this machine's discard port, so nothing leaves it.
item() { # name url id parent
    printf '    item\r\n      FeedName = %s\r\n' "'$1'"
    [ -n "$2" ] && printf '      FeedURL = %s\r\n' "'$2'"
    printf "      FeedID = '%s'\r\n      ParentID = '%s'\r\n      AggInclude = True\r\n      ShowAuthor = False\r\n    end" "$3" "$4"
}
{
    printf 'object TFeedList\r\n  Items = <\r\n'
    item "Technology" "" "F-TECH" "root"; printf '\r\n'
    item "Kernel news" "http://127.0.0.1:9/kernel.xml" "F-KERNEL" "F-TECH"; printf '\r\n'
    item "Compiler notes" "http://127.0.0.1:9/compilers.rss" "F-CC" "F-TECH"; printf '\r\n'
    item "Desktop" "" "F-DESK" "F-TECH"; printf '\r\n'
    item "Wayland notes" "http://127.0.0.1:9/wayland.atom" "F-WM" "F-DESK"; printf '\r\n'
    item "World" "" "F-WORLD" "root"; printf '\r\n'
    item "Morning briefing" "http://127.0.0.1:9/briefing.rss" "F-BRIEF" "F-WORLD"; printf '\r\n'
    item "Science weekly" "http://127.0.0.1:9/science.rss" "F-SCI" "F-WORLD"; printf '\r\n'
    item "Project blog" "http://127.0.0.1:9/blog.rss" "F-BLOG" "root"; printf '\r\n'
    item "Release announcements" "http://127.0.0.1:9/releases.atom" "F-REL" "root"
    printf '>\r\nend\r\n'
} >"$work/bin/feeds.data"

exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 50); do
    read -r -t 0.2 display <&3 || true
    [ -n "$display" ] && break
done
[ -n "$display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

# Qt WebEngine refuses to start as root with its sandbox on.
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=xcb "$work/bin/tovelrss" >"$work/reader.log" 2>&1 &
reader_pid=$!

window=$(timeout 30 xdotool search --sync --onlyvisible --name "Tovel RSS Reader" | head -n 1) || {
    echo "screenshot.sh: the window did not appear" >&2
    cat "$work/reader.log" >&2
    exit 1
}
sleep 2
# Open every folder: the tree starts with All Feeds selected, and "*" expands all below it.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" asterisk
sleep 1
mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "screenshot.sh: saved $out"

kill -TERM "$reader_pid"
wait "$reader_pid" || true
reader_pid=""
