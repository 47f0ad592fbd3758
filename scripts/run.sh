#!/usr/bin/env bash
# Installs what is missing, builds, and starts Glove Monitor. Arguments go to the program,
# e.g. scripts/run.sh --port /dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
exec build/default/src/glove-monitor "$@"
