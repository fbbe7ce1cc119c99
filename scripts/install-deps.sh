#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libpugixml-dev
    # The HTML5 parser that cleans feed markup.
    libgumbo-dev pkg-config
    nginx-light curl locales tzdata
    # https (OpenSSL and the system's CA store; the openssl command makes the tests' certificates)
    # and compressed bodies.
    libssl-dev zlib1g-dev ca-certificates openssl
    # The window: Qt 6 Widgets, its SVG images, the news view, and the platforms it runs on.
    qt6-base-dev qt6-svg-dev qt6-webengine-dev qt6-wayland libgl-dev
    # Headless runs of the window (tests, the screenshot) and the install's checks.
    xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core desktop-file-utils
)

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
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    if [ -f /etc/locale.gen ] && grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen; then
        $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    else
        echo "de_DE.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
    $SUDO locale-gen >/dev/null 2>&1 || echo "warning: could not generate de_DE.UTF-8; those tests will skip"
fi
