#!/usr/bin/env bash
# Builds the program and starts it. Its data lives in BREVICAST_HOME when that
# is set, otherwise beside the executable (build/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh build
exec ./build/bin/brevicast "$@"
