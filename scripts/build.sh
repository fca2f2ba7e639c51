#!/usr/bin/env bash
# Configures and builds into build/ (programs in build/bin).
# Usage: scripts/build.sh [TARGET...]   (no target: everything, tests included)
set -euo pipefail
cd "$(dirname "$0")/.."
# A compiler cache, where one is installed, makes rebuilds after small changes cheap.
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# PMX_UNITY=ON compiles a few large units instead of one per file: much less work for a
# build from scratch (CI), more for a rebuild after a small change, so it is off by default.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD="${PMX_UNITY:-OFF}" \
  "${launcher[@]}" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build -j"$(nproc)" --target "$@"
else
  cmake --build build -j"$(nproc)"
fi
