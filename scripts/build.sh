#!/usr/bin/env bash
# Installs what is missing, configures and builds.
#   scripts/build.sh [--sanitize] [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then
  sanitize=ON
  shift
fi
build=${1:-$([ "$sanitize" = ON ] && echo build-asan || echo build)}
type=RelWithDebInfo
[ "$sanitize" = ON ] && type=Debug
werror=OFF
[ -n "${CI:-}" ] && werror=ON

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
  -DBREVICAST_WERROR="$werror" -DBREVICAST_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)"
