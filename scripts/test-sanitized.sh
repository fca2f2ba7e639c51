#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/
# and runs the whole test suite there, leak detection on. Qt's and fontconfig's own
# leaks are suppressed by tests/sanitizers/lsan.supp; any other report, in a test or in a
# program a test starts, fails the run.
# Usage: scripts/test-sanitized.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
LOGS="$ROOT/build-asan/sanitizer-logs"
rm -rf "$LOGS"
mkdir -p "$LOGS"
# Reports also go to files, so one in a child process cannot pass unnoticed.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:log_path=$LOGS/asan"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$LOGS/ubsan"
# The benchmarks are no tests: left out. -O1 keeps the checks and compiles much faster.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" -DPMX_SANITIZE=ON \
  -DPMX_BENCHMARKS=OFF -DCMAKE_UNITY_BUILD="${PMX_UNITY:-OFF}" >/dev/null
# The build runs the test programs to list their tests: under the same options.
cmake --build build-asan -j2
status=0
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 600) || status=$?
if compgen -G "$LOGS/*" >/dev/null; then
  echo "Sanitizer reports:" >&2
  for f in "$LOGS"/*; do echo "== $f" >&2; cat "$f" >&2; done
  status=1
fi
exit "$status"
