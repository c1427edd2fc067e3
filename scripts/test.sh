#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh [--sanitize] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
args=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  args+=(--sanitize)
  shift
fi
./scripts/build.sh "${args[@]}" "$build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2 "$@"
