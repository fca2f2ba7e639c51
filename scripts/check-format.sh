#!/usr/bin/env bash
# Checks that every C++ file of the tree is formatted as .clang-format says.
# Usage: scripts/check-format.sh [--fix]   (--fix rewrites the files instead)
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if ! command -v clang-format-14 >/dev/null; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends clang-format-14
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format-14 -i "${files[@]}"
else
  clang-format-14 --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files checked"
fi
