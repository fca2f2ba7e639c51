#!/usr/bin/env bash
# Builds the fuzz harnesses of tests/fuzz with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ (the other builds are untouched) and runs
# each for SECONDS (default 30) from its seed corpus. A broken property or a sanitizer
# report fails the run; the input is kept as build-fuzz/crashes/<harness>-*. Inputs that
# reached new code stay in build-fuzz/corpus/<harness> for the next run.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
SECONDS_EACH="${1:-30}"
export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPMX_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_UNITY_BUILD="${PMX_UNITY:-OFF}" >/dev/null
HARNESSES=()
for src in tests/fuzz/fuzz_*.cpp; do
  name="$(basename "$src" .cpp)"
  HARNESSES+=("${name#fuzz_}")
done
cmake --build build-fuzz -j2 --target "${HARNESSES[@]/#/fuzz_}"
mkdir -p build-fuzz/crashes
status=0
for name in "${HARNESSES[@]}"; do
  mkdir -p "build-fuzz/corpus/$name"
  log="build-fuzz/$name.log"
  echo "== $name: ${SECONDS_EACH}s"
  if ! "build-fuzz/fuzz/fuzz_$name" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="build-fuzz/crashes/$name-" \
      "build-fuzz/corpus/$name" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    status=1
  fi
  # The last status line (coverage, corpus, executions) and the run count.
  grep -E '^#[0-9]+' "$log" | tail -n 1 || true
  grep -E '^Done [0-9]+ runs' "$log" || true
done
exit "$status"
