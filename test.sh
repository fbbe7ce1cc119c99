#!/usr/bin/env bash
# Builds with warnings as errors and runs every test once, in four builds:
#   plain      the reader, the benchmarks (built, not run), the tests that need Qt WebEngine and
#              the install check: what the sanitizers cannot run;
#   asan       every other test, under AddressSanitizer and UndefinedBehaviorSanitizer;
#   tsan       the threading tests (label threads) once more, under ThreadSanitizer;
#   fuzz       each libFuzzer target over its seeds, then FUZZ_SECONDS (5) of fuzzing.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh --tests

JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-5}
export QT_QPA_PLATFORM=offscreen
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi

configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DTOVEL_WERROR=ON "$@" >/dev/null
}

STAGES=()
stage_start=0
stage() {
    if [ ${#STAGES[@]} -gt 0 ]; then
        STAGES[-1]="${STAGES[-1]} $((SECONDS - stage_start)) s"
    fi
    stage_start=$SECONDS
    [ -n "$1" ] || return 0
    STAGES+=("$1")
    echo "== $2 (at ${SECONDS} s)"
}

stage plain "Build, the WebEngine tests and the install check"
# Every build of the gate is made by clang, which compiles this code in about half the time GCC
# takes; ./run.sh's release build is GCC's. Line tables only (-g1) in the sanitizer builds: enough
# for their backtraces. This build runs only tests whose time is the browser's, so it is not
# optimised: it compiles in half the time.
export CC=clang-14 CXX=clang++-14
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -DNDEBUG" \
    -DTOVEL_TESTS_WEBENGINE_ONLY=ON
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

stage asan "AddressSanitizer + UndefinedBehaviorSanitizer: every other test"
# The window and the program are tested here too; tests that need Qt WebEngine (label webengine)
# are not built, since Chromium inside it is not built for the sanitizers. -O1, as AddressSanitizer
# advises: exact reports, and a build a minute shorter than with -O2 (the tests' own files at -O0).
configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DTOVEL_SANITIZE=address,undefined -DTOVEL_BUILD_BENCH=OFF
cmake --build build-asan -j "$JOBS" --target tovel_tests
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$JOBS" -LE webengine

stage tsan "ThreadSanitizer: the threading tests"
# Without the window: Qt is not built for ThreadSanitizer, so its own threads would be reported.
configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DTOVEL_SANITIZE=thread \
    -DTOVEL_BUILD_BENCH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
cmake --build build-tsan -j "$JOBS" --target tovel_threads_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j "$JOBS" -L threads --no-tests=ignore

stage fuzz "Fuzzing (${FUZZ_SECONDS} s per target, ${JOBS} at a time)"
# The fuzz build holds the core libraries and the fuzz targets only.
configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DTOVEL_FUZZ=ON
cmake --build build-fuzz -j "$JOBS"
fuzz_one() { # target work-folder
    local target=$1 work=$2 name seeds
    name=$(basename "$target")
    seeds="fuzz/corpus/$name"
    mkdir -p "$work/new"
    local args=("$work/new")
    [ -d "$seeds" ] && args+=("$seeds")
    if "$target" -max_total_time="$FUZZ_SECONDS" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$work/" "${args[@]}" >"$work/log" 2>&1; then
        echo "fuzz $name: ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$') runs)" \
            >"$work/result"
    else
        echo "fuzz $name: FAILED (log and crash input in $work)" >"$work/result"
    fi
}
works=()
running=0
for target in build-fuzz/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    work=$(mktemp -d)
    works+=("$work")
    fuzz_one "$target" "$work" &
    running=$((running + 1))
    if [ "$running" -ge "$JOBS" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait
fuzz_failed=0
for work in "${works[@]}"; do
    cat "$work/result"
    if grep -q FAILED "$work/result"; then
        tail -n 60 "$work/log"
        fuzz_failed=$((fuzz_failed + 1))
    else
        rm -rf "$work"
    fi
done
echo "fuzz: $((${#works[@]} - fuzz_failed)) passed, $fuzz_failed failed"

stage ""
echo "== Done in ${SECONDS} s: ${STAGES[*]/%/,}" | sed 's/,$//'
[ "$fuzz_failed" -eq 0 ]
