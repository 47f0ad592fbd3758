#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs their smoke tests: each fuzzer for a while
# from its seeds (GLOVE_FUZZ_SECONDS, 20 by default), then every regression input once.
# Further arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset fuzz -DGLOVE_FUZZ_SECONDS="${GLOVE_FUZZ_SECONDS:-20}" >/dev/null
# The build preset builds only the fuzz targets: the window and the tests are not needed.
cmake --build --preset fuzz -j "$(nproc)"
ctest --preset fuzz -j "$(nproc)" "$@"
