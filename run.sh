#!/usr/bin/env bash
# Installs what the reader needs and is missing, builds the release and starts the reader, tovelrss.
#   ./run.sh        as a user: the reader keeps its data beside the built program
#                   (build-release/src/app/), as a portable copy does.
#   sudo ./run.sh   builds as you, installs the reader (cmake --install, /usr/local) and starts
#                   the installed reader as you: its data then lives in ~/.local/share/tovelrss/.
#   as root         starts the built program as root, with Qt WebEngine's sandbox off.
set -euo pipefail
cd "$(dirname "$0")"

BUILD=build-release
SUDO_CALLER=""
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "${SUDO_USER}" != "root" ]; then
    SUDO_CALLER=$SUDO_USER
fi

bash scripts/install-deps.sh

# Under sudo the build stays the caller's, so that a later ./run.sh without sudo can reuse it.
as_builder() {
    if [ -n "$SUDO_CALLER" ]; then
        sudo -u "$SUDO_CALLER" -- "$@"
    else
        "$@"
    fi
}
as_builder cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVEL_BUILD_TESTS=OFF \
    -DTOVEL_BUILD_BENCH=OFF >/dev/null
# The reader alone: the diagnostic command tovel-inspect is built with the tests (./test.sh).
as_builder cmake --build "$BUILD" -j "$(nproc)" --target tovelrss

if [ ! -x "$BUILD/src/app/tovelrss" ]; then
    echo "run.sh: $BUILD/src/app/tovelrss was not built (is Qt 6 installed? see scripts/install-deps.sh)" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<MSG
run.sh: no display to open the window on: neither DISPLAY nor WAYLAND_DISPLAY is set.
Run it from a desktop session (or over ssh -X); for a look without a desktop, scripts/screenshot.sh
starts the reader under Xvfb. The program is built at $BUILD/src/app/tovelrss.
MSG
    exit 2
fi

if [ -n "$SUDO_CALLER" ]; then
    echo "run.sh: installing as root (cmake --install $BUILD), then starting tovelrss as $SUDO_CALLER"
    cmake --install "$BUILD"
    caller_uid=$(id -u "$SUDO_CALLER")
    caller_home=$(getent passwd "$SUDO_CALLER" | cut -d: -f6)
    # sudo keeps DISPLAY and XAUTHORITY but not the Wayland socket's place; the caller's own
    # runtime folder holds it.
    runtime_dir=${XDG_RUNTIME_DIR:-}
    if [ -z "$runtime_dir" ] || [ "$runtime_dir" = "/run/user/0" ]; then
        runtime_dir=/run/user/$caller_uid
    fi
    caller_env=(HOME="$caller_home" USER="$SUDO_CALLER" LOGNAME="$SUDO_CALLER" XDG_RUNTIME_DIR="$runtime_dir")
    [ -n "${DISPLAY:-}" ] && caller_env+=(DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-$caller_home/.Xauthority}")
    [ -n "${WAYLAND_DISPLAY:-}" ] && caller_env+=(WAYLAND_DISPLAY="$WAYLAND_DISPLAY")
    prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD/CMakeCache.txt")
    exec sudo -u "$SUDO_CALLER" -- env "${caller_env[@]}" "${prefix:-/usr/local}/bin/tovelrss" "$@"
fi

if [ "$(id -u)" -eq 0 ]; then
    echo "run.sh: running as root. Qt WebEngine, which shows the news, refuses to start as root with"
    echo "        its sandbox on, so QTWEBENGINE_DISABLE_SANDBOX=1 switches the sandbox off for this run."
    echo "        Run ./run.sh as a normal user (or with sudo) to keep the sandbox."
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
exec "$BUILD/src/app/tovelrss" "$@"
