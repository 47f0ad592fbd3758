#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; builds and checks the Debian
# package; then the unit and fault tests under the address and undefined-behaviour
# sanitizers, and a short run of each fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
ctest --preset default -j "$(nproc)"
scripts/package.sh
scripts/build.sh asan
ctest --preset asan -j "$(nproc)" -L "unit|fault"
fuzz/run.sh
