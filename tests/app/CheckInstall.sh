#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR, the configured prefix kept) and checks what
# lands where: the program, its templates, a valid desktop entry, the icon, and never the
# portable marker, which would make the installed program write beside itself.
set -euo pipefail
build=$1
prefix=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR=$stage cmake --install "$build" >/dev/null
root=$stage$prefix
failed=0
expect_file() {
    if [ ! -f "$root/$1" ]; then
        echo "missing after install: $prefix/$1"
        failed=1
    fi
}
expect_file bin/tovelrss
[ -x "$root/bin/tovelrss" ] || { echo "bin/tovelrss is not executable"; failed=1; }
for template in top.html item.html bottom.html; do
    expect_file "share/tovelrss/template/$template"
done
expect_file share/applications/tovelrss.desktop
expect_file share/icons/hicolor/scalable/apps/tovelrss.svg

# The shipped program answers no question by itself: the message hook of the test build
# (tovelrss-test, never installed) is not in it.
for hook in TOVELRSS_TEST_MESSAGES TOVELRSS_TEST_ANSWER; do
    if grep -qa "$hook" "$root/bin/tovelrss"; then
        echo "bin/tovelrss reads $hook: the test build's message hook is linked into it"
        failed=1
    fi
done
if found=$(find "$stage" -name 'tovelrss-test' | grep .); then
    echo "the test build must not be installed: $found"
    failed=1
fi
if found=$(find "$stage" -name 'tovelrss.portable' | grep .); then
    echo "the portable marker must not be installed: $found"
    failed=1
fi
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/share/applications/tovelrss.desktop" || failed=1
else
    echo "desktop-file-validate not found (package desktop-file-utils); entry not validated"
fi
# The entry starts the program by the name it is installed under, and names the installed icon.
grep -qx 'Exec=tovelrss' "$root/share/applications/tovelrss.desktop" || { echo "Exec is not tovelrss"; failed=1; }
grep -qx 'Icon=tovelrss' "$root/share/applications/tovelrss.desktop" || { echo "Icon is not tovelrss"; failed=1; }
exit $failed
