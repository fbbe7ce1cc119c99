#!/usr/bin/env bash
# Builds with warnings as errors and runs every test: normally, under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threading tests under ThreadSanitizer, then each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh

JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
export QT_QPA_PLATFORM=offscreen
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DTOVEL_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$JOBS"
}

echo "== Build and test (at ${SECONDS} s)"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$JOBS"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer (at ${SECONDS} s)"
# The window and the program are tested here too; tests that need Qt WebEngine (label webengine)
# are left out, since Chromium inside it is not built for the sanitizers. -O1, as AddressSanitizer
# advises: exact reports, and a build a minute shorter than with -O2.
configure_and_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" \
    -DTOVEL_SANITIZE=address,undefined -DTOVEL_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$JOBS" -LE webengine

echo "== ThreadSanitizer (threading tests) (at ${SECONDS} s)"
# Without the window: Qt is not built for ThreadSanitizer, so its own threads would be reported.
configure_and_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVEL_SANITIZE=thread \
    -DTOVEL_BUILD_BENCH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j "$JOBS" -L threads --no-tests=ignore

echo "== Fuzzing (${FUZZ_SECONDS} s per target) (at ${SECONDS} s)"
CC=clang CXX=clang++ configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVEL_FUZZ=ON
fuzz_failed=0
fuzz_count=0
for target in build-fuzz/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    work=$(mktemp -d)
    seeds="fuzz/corpus/$name"
    mkdir -p "$work/new"
    args=("$work/new")
    [ -d "$seeds" ] && args+=("$seeds")
    fuzz_count=$((fuzz_count + 1))
    if "$target" -max_total_time="$FUZZ_SECONDS" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$work/" "${args[@]}" >"$work/log" 2>&1; then
        echo "fuzz $name: ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$') runs)"
        rm -rf "$work"
    else
        echo "fuzz $name: FAILED (log and crash input in $work)"
        tail -n 60 "$work/log"
        fuzz_failed=$((fuzz_failed + 1))
    fi
done
echo "fuzz: $((fuzz_count - fuzz_failed)) passed, $fuzz_failed failed"
echo "== Done in ${SECONDS} s"
[ "$fuzz_failed" -eq 0 ]
