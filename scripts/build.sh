#!/usr/bin/env bash
# Configures and builds into build/ (programs in build/bin).
# Usage: scripts/build.sh [TARGET...]   (no target: everything, tests included)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build -j"$(nproc)" --target "$@"
else
  cmake --build build -j"$(nproc)"
fi
