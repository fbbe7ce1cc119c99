#!/usr/bin/env bash
# Installs the Debian packages that are missing, only those:
#   scripts/install-deps.sh          what the reader needs to be built and run (./run.sh)
#   scripts/install-deps.sh --tests  that and the tests', benchmarks', fuzzing's and
#                                    screenshots' tools (./test.sh)
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ pkg-config
    # Catalogue files and OPML (pugixml), the HTML5 parser that cleans feed markup (gumbo), the
    # item store (SQLite), JSON Feed documents (nlohmann-json).
    libpugixml-dev libgumbo-dev libsqlite3-dev nlohmann-json3-dev
    # https (OpenSSL and the system's CA store), compressed bodies, time zones.
    libssl-dev zlib1g-dev ca-certificates tzdata
    # The window: Qt 6 Widgets, its SVG images, the news view, and the platforms it runs on.
    qt6-base-dev qt6-svg-dev qt6-webengine-dev qt6-wayland libgl-dev fonts-dejavu-core
)
TEST_PACKAGES=(
    # The tests, the benchmarks and the diagnostic command the tests run.
    libgtest-dev libgmock-dev libbenchmark-dev
    # Fuzzing (clang's libFuzzer and sanitizer runtimes), a faster linker and the compiler cache.
    clang-14 libclang-rt-14-dev lld ccache
    # Private servers and clients on loopback; the openssl command makes the tests' certificates;
    # a locale whose decimal separator is a comma.
    nginx-light curl openssl locales
    # The check of the items read against another parser's (tests/news/peer_compare.py).
    python3-feedparser
    # Headless runs of the window (the screenshots) and the install's checks.
    xvfb xauth x11-utils xdotool imagemagick desktop-file-utils
)
TESTS=0
if [ "${1:-}" = "--tests" ]; then
    TESTS=1
    PACKAGES+=("${TEST_PACKAGES[@]}")
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The tests write and read numbers under a locale whose decimal separator is a comma.
if [ "$TESTS" -eq 1 ] && ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    if [ -f /etc/locale.gen ] && grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen; then
        $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    else
        echo "de_DE.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
    $SUDO locale-gen >/dev/null 2>&1 || echo "warning: could not generate de_DE.UTF-8; those tests will skip"
fi
