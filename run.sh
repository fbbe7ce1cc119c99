#!/usr/bin/env bash
# Installs what is missing, builds the release and starts the reader.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVEL_BUILD_TESTS=OFF \
    -DTOVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)"

if [ -x build-release/src/app/tovel ]; then
    exec build-release/src/app/tovel "$@"
fi
echo "The main window is not built yet; the core can be examined with tovel-inspect:"
echo
build-release/tools/tovel-inspect --help
