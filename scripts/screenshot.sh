#!/usr/bin/env bash
# Pictures of the reader under Xvfb, each from a portable copy of its own in a temporary folder:
#
#   main   docs/main-window.png       the window with a small catalogue of folders and feeds
#   light  docs/screenshot.png        a folder of real feeds from ../shared/corpus/public/, served
#                                     by a private nginx on loopback, selected and shown
#   dark   docs/screenshot-dark.png   the same with a dark palette for the widgets and the page
#
# Usage: scripts/screenshot.sh [all|main|light|dark] [output.png]   (default: all three)
#        scripts/screenshot.sh output.png                            (main, to that file)
#
# The real feeds' descriptions name pictures and pages on the internet. The reader runs with
# pictures off, and, where the system allows it, the whole run goes into a network namespace of its
# own with nothing but loopback, so that the browser can reach no other host, nor look up a name.
# Needs xvfb, xdotool, imagemagick and nginx-light (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

mode=${1:-all}
out_arg=${2:-}
case "$mode" in
*.png) out_arg=$mode mode=main ;;
all | main | light | dark) ;;
*) echo "usage: $0 [all|main|light|dark] [output.png]" >&2; exit 2 ;;
esac
[ "$mode" = all ] && [ -n "$out_arg" ] && { echo "screenshot.sh: one output file needs one mode" >&2; exit 2; }

BUILD=${BUILD:-build-release}
CORPUS=${CORPUS:-$repo/../shared/corpus/public}

# Into a network namespace with loopback alone, once (as root, or mapped to root in a user
# namespace of our own); without one the reader still has pictures off and a browser whose
# requests for other hosts go to a proxy that nobody runs.
isolated=${TOVEL_SCREENSHOT_ISOLATED:-}
if [ -z "$isolated" ] && command -v unshare >/dev/null && command -v ip >/dev/null; then
    for flags in -n -rn; do
        if unshare $flags true 2>/dev/null; then
            # Build first: the namespace has no network, and a build needs none, but keep it simple.
            if [ ! -x "$BUILD/src/app/tovelrss" ]; then
                cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVEL_BUILD_TESTS=OFF \
                    -DTOVEL_BUILD_BENCH=OFF >/dev/null
            fi
            cmake --build "$BUILD" --target tovelrss -j "$(nproc)" >/dev/null
            exec unshare $flags env TOVEL_SCREENSHOT_ISOLATED=1 BUILD="$BUILD" CORPUS="$CORPUS" \
                bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
        fi
    done
fi
if [ "$isolated" = 1 ]; then
    echo "screenshot.sh: running in a network namespace with loopback only"
else
    echo "screenshot.sh: no network namespace available; pictures stay off and the browser uses a dead proxy"
fi

if [ ! -x "$BUILD/src/app/tovelrss" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVEL_BUILD_TESTS=OFF \
        -DTOVEL_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$BUILD" --target tovelrss -j "$(nproc)" >/dev/null

work=$(mktemp -d)
xvfb_pid=""
reader_pid=""
nginx_pid=""
stop_all() {
    if [ -n "$reader_pid" ]; then kill "$reader_pid" 2>/dev/null || true; wait "$reader_pid" 2>/dev/null || true; fi
    if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    reader_pid="" nginx_pid="" xvfb_pid=""
}
cleanup() {
    stop_all
    rm -rf "$work"
}
trap cleanup EXIT

# One catalogue entry of "feeds.data": name, url ("" for a folder), id, parent, aggregated.
# Quotes inside a text are doubled, as the file format wants.
item() {
    local q="'" qq="''"
    printf '    item\r\n      FeedName = %s\r\n' "'${1//$q/$qq}'"
    [ -n "$2" ] && printf '      FeedURL = %s\r\n' "'$2'"
    printf "      FeedID = '%s'\r\n      ParentID = '%s'\r\n      AggInclude = %s\r\n      ShowAuthor = False\r\n    end" \
        "$3" "$4" "${5:-True}"
}
# The entries given as lines "name|url|id|parent", in order.
catalogue() {
    local first=1 name url id parent
    printf 'object TFeedList\r\n  Items = <\r\n'
    while IFS='|' read -r name url id parent; do
        [ -n "$name" ] || continue
        [ $first = 1 ] || printf '\r\n'
        first=0
        item "$name" "$url" "$id" "$parent"
    done
    printf '>\r\nend\r\n'
}

# A fresh portable copy of the reader in $1: program, templates, marker, and settings in $1/home.
portable_copy() {
    local dir=$1
    mkdir -p "$dir/bin" "$dir/home/.config/tovelsoft" "$dir/runtime"
    chmod 700 "$dir/runtime"
    cp "$BUILD/src/app/tovelrss" "$dir/bin/"
    cp -r "$BUILD/src/app/template" "$dir/bin/"
    touch "$dir/bin/tovelrss.portable"
}

start_xvfb() { # width height
    exec 3<> <(:)
    Xvfb -displayfd 3 -screen 0 "${1}x${2}x24" -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    local display=""
    for _ in $(seq 50); do
        read -r -t 0.2 display <&3 || true
        [ -n "$display" ] && break
    done
    exec 3<&-
    [ -n "$display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$display"
}

# A private nginx serving $1/www on 127.0.0.1 and a free port (set in nginx_port).
start_nginx() {
    local dir=$1 port conf
    mkdir -p "$dir/temp"
    for _ in $(seq 20); do
        port=$((20000 + RANDOM % 20000))
        conf="$dir/nginx.conf"
        {
            echo "daemon off; master_process off; worker_processes 1;"
            [ "$(id -u)" -eq 0 ] && echo "user root root;"
            echo "pid $dir/nginx.pid; error_log $dir/error.log warn;"
            echo "events { worker_connections 256; }"
            echo "http {"
            echo "    access_log $dir/access.log;"
            echo "    client_body_temp_path $dir/temp/body;"
            for module in proxy fastcgi uwsgi scgi; do
                /usr/sbin/nginx -V 2>&1 | grep -q -- "--without-http_${module}_module" ||
                    echo "    ${module}_temp_path $dir/temp/$module;"
            done
            echo "    default_type application/octet-stream;"
            echo "    types { text/xml xml rss rdf; application/atom+xml atom; }"
            echo "    server { listen 127.0.0.1:$port; root $dir/www; }"
            echo "}"
        } >"$conf"
        /usr/sbin/nginx -p "$dir" -c "$conf" >>"$dir/error.log" 2>&1 &
        nginx_pid=$!
        for _ in $(seq 30); do
            if curl -s -o /dev/null --noproxy '*' "http://127.0.0.1:$port/" 2>/dev/null ||
                ! kill -0 "$nginx_pid" 2>/dev/null; then
                break
            fi
            sleep 0.1
        done
        if kill -0 "$nginx_pid" 2>/dev/null &&
            curl -sI --noproxy '*' "http://127.0.0.1:$port/" 2>/dev/null | grep -qi '^Server: nginx'; then
            nginx_port=$port
            return 0
        fi
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
        nginx_pid=""
    done
    echo "screenshot.sh: nginx did not start" >&2
    cat "$dir/error.log" >&2
    exit 1
}

# Starts the reader of the portable copy in $1 with the extra arguments after it, and waits for
# its window (set in window).
start_reader() {
    local dir=$1
    shift
    # Qt WebEngine refuses to start as root with its sandbox on.
    local sandbox=()
    [ "$(id -u)" -eq 0 ] && sandbox=(QTWEBENGINE_DISABLE_SANDBOX=1)
    local flags="${CHROMIUM_FLAGS:-}"
    [ "$isolated" = 1 ] || flags="$flags --proxy-server=http://127.0.0.1:9"
    env "${sandbox[@]}" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" XDG_RUNTIME_DIR="$dir/runtime" \
        QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="$flags" "$dir/bin/tovelrss" "$@" >"$dir/reader.log" 2>&1 &
    reader_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "Tovel RSS Reader" | head -n 1) || {
        echo "screenshot.sh: the window did not appear" >&2
        cat "$dir/reader.log" >&2
        exit 1
    }
}

save_window() { # output
    mkdir -p "$(dirname "$1")"
    import -window "$window" "$1"
    echo "screenshot.sh: saved $1"
}

stop_reader() {
    kill -TERM "$reader_pid"
    wait "$reader_pid" || true
    reader_pid=""
}

# The window with folders and feeds whose addresses point at this machine's discard port: nothing
# is selected but All Feeds, so nothing is refreshed.
shoot_main() {
    local out=$1 dir="$work/main"
    portable_copy "$dir"
    catalogue >"$dir/bin/feeds.data" <<'EOF'
Technology||F-TECH|root
Kernel news|http://127.0.0.1:9/kernel.xml|F-KERNEL|F-TECH
Compiler notes|http://127.0.0.1:9/compilers.rss|F-CC|F-TECH
Desktop||F-DESK|F-TECH
Wayland notes|http://127.0.0.1:9/wayland.atom|F-WM|F-DESK
World||F-WORLD|root
Morning briefing|http://127.0.0.1:9/briefing.rss|F-BRIEF|F-WORLD
Science weekly|http://127.0.0.1:9/science.rss|F-SCI|F-WORLD
Project blog|http://127.0.0.1:9/blog.rss|F-BLOG|root
Release announcements|http://127.0.0.1:9/releases.atom|F-REL|root
EOF
    start_xvfb 1024 700
    start_reader "$dir"
    sleep 2
    # Open every folder: the tree starts with All Feeds selected, and "*" expands all below it.
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" asterisk
    sleep 1
    save_window "$out"
    stop_reader
    stop_all
}

# The feeds of the public corpus that the pictures show: file|name|folder.
CORPUS_FEEDS='RSParser-rubenerd.rss|Rubenerd|F-BLOGS
RSParser-DaringFireball.atom|Daring Fireball|F-BLOGS
RSParser-scriptingNews.rss|Scripting News|F-BLOGS
RSParser-manton.rss|Manton Reece|F-BLOGS
feedjira-SignalvsNoise.xml|Signal vs. Noise|F-BLOGS
feedjira-JoelonSoftware.xml|Joel on Software|F-BLOGS
feedjira-MartinFowlersBliki.xml|Martin Fowler'"'"'s Bliki|F-BLOGS
rss-parser-heise.atom|heise developer|F-NEWS
feedjira-Slashdot.xml|Slashdot|F-NEWS
rss-parser-rss-1.rss|Science|F-SCIENCE
RSParser-bio.rdf|bioRxiv: Plant Biology|F-SCIENCE
feedjira-Techmeme.xml|Techmeme|F-NEWS'

# A widget palette for the dark picture, given to Qt's standard -stylesheet option.
DARK_STYLE='
QWidget { background-color: #202327; color: #e6edf3; selection-background-color: #2f6db3; selection-color: #ffffff; }
QMainWindow::separator { background: #30363d; width: 4px; }
QMenuBar, QToolBar, QStatusBar { background-color: #2a2e33; border: none; }
QMenuBar::item:selected, QMenu::item:selected { background-color: #2f6db3; }
QMenu { background-color: #2a2e33; border: 1px solid #444c56; }
QToolButton { background: transparent; border: 1px solid transparent; border-radius: 4px; padding: 2px; }
QToolButton:hover { border-color: #444c56; background-color: #343a40; }
QToolButton:checked { background-color: #3a4048; border-color: #58616b; }
QComboBox { background-color: #2f343a; border: 1px solid #444c56; border-radius: 3px; padding: 2px 6px; }
QComboBox QAbstractItemView { background-color: #2a2e33; }
QTreeView { background-color: #1b1e22; border: 1px solid #30363d; }
QTreeView::item:selected { background-color: #2f6db3; color: #ffffff; }
QSplitter::handle { background-color: #30363d; }
QStatusBar QLabel { color: #c9d1d9; background: transparent; }
QScrollBar { background: #202327; }
'

# A folder of real feeds selected and shown; $2 is light or dark.
shoot_corpus() {
    local out=$1 theme=$2 dir="$work/$2"
    if [ ! -f "$CORPUS/MANIFEST.tsv" ]; then
        echo "screenshot.sh: SKIPPED $out: the public feed corpus is absent ($CORPUS)" >&2
        return 0
    fi
    portable_copy "$dir"
    mkdir -p "$dir/www"
    start_nginx "$dir"
    local base="http://127.0.0.1:$nginx_port" lines file name parent
    lines=$'Blogs||F-BLOGS|root\nNews||F-NEWS|root\nScience||F-SCIENCE|root'
    while IFS='|' read -r file name parent; do
        [ -f "$CORPUS/$file" ] || { echo "screenshot.sh: $file is missing from the corpus, left out" >&2; continue; }
        cp "$CORPUS/$file" "$dir/www/"
        lines+=$'\n'"$name|$base/$file|F-${file%%.*}|$parent"
    done <<<"$CORPUS_FEEDS"
    catalogue <<<"$lines" >"$dir/bin/feeds.data"
    # Every item, whatever its age; pictures off, as the real descriptions point at other hosts.
    printf '[General]\nNewsFilter=5\nShowPics=0\n' >"$dir/home/.config/tovelsoft/Pelmora.conf"

    local args=()
    CHROMIUM_FLAGS=""
    if [ "$theme" = dark ]; then
        printf '%s\n' "$DARK_STYLE" >"$dir/dark.qss"
        args=(-style Fusion -stylesheet "$dir/dark.qss")
        # Qt 6.4 has no colour-scheme setting of its own: the page's prefers-color-scheme from Blink.
        CHROMIUM_FLAGS="--blink-settings=preferredColorScheme=0"
    fi
    start_xvfb 1280 800
    start_reader "$dir" "${args[@]}"
    sleep 2
    xdotool windowsize --sync "$window" 1240 760 2>/dev/null || xdotool windowsize "$window" 1240 760
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    # Expand the tree, then move from All Feeds to its first child (feeds sort before folders, and
    # there is none at the top), the folder "Blogs": the
    # selection refreshes the folder from nginx and shows its items.
    xdotool key --window "$window" asterisk
    sleep 0.5
    xdotool key --window "$window" Down
    local feeds
    feeds=$(grep -c '' <<<"$(grep '|F-BLOGS$' <<<"$CORPUS_FEEDS")")
    for _ in $(seq 100); do
        [ -f "$dir/access.log" ] && [ "$(grep -c 'GET /' "$dir/access.log")" -ge "$feeds" ] &&
            grep -q 'class="item[ "]' "$dir/bin/gen.html" 2>/dev/null && break
        sleep 0.2
    done
    if ! grep -q 'class="item[ "]' "$dir/bin/gen.html" 2>/dev/null; then
        echo "screenshot.sh: the folder's news were not shown; the window is in ${out%.png}-failed.png" >&2
        import -window "$window" "${out%.png}-failed.png" || true
        cat "$dir/reader.log" "$dir/access.log" >&2
        exit 1
    fi
    # Let the view load and paint the page.
    sleep 4
    save_window "$out"
    stop_reader
    stop_all
}

case "$mode" in
main) shoot_main "$(realpath -m "${out_arg:-docs/main-window.png}")" ;;
light) shoot_corpus "$(realpath -m "${out_arg:-docs/screenshot.png}")" light ;;
dark) shoot_corpus "$(realpath -m "${out_arg:-docs/screenshot-dark.png}")" dark ;;
all)
    shoot_main "$repo/docs/main-window.png"
    shoot_corpus "$repo/docs/screenshot.png" light
    shoot_corpus "$repo/docs/screenshot-dark.png" dark
    ;;
esac
