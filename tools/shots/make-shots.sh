#!/usr/bin/env bash
# Regenerates the user guide's screenshots in docs/, in English and Japanese, and the
# main window on a dark theme (main-window-dark-LANG.png).
#
#   tools/shots/make-shots.sh [BUILD_DIR]            (default: build)
#   tools/shots/make-shots.sh --laptop OUTDIR [BUILD_DIR]
#
# --laptop takes the same pictures on a 1366 x 768 screen at 150 % (QT_SCALE_FACTOR=1.5)
# into OUTDIR instead, to look at every window as a laptop shows it; docs/ is left alone.
#
# PMX_SHOTS_ONLY=profile pmx31570a-shots DIR takes only the instrument profile's pictures
# (profile-*.png), against an instrument whose measured values move.
#
# Needs pmx31570a-shots and pmx31570a-sim built in BUILD_DIR/bin, Xvfb and the Noto CJK
# fonts. Uses X display :77 (:78 with --laptop; SHOTS_DISPLAY overrides it) and starts an
# Xvfb there when none is running, so a desktop session is never disturbed.
set -euo pipefail
cd "$(dirname "$0")/../.."
LAPTOP=""
if [ "${1:-}" = "--laptop" ]; then
  LAPTOP="${2:?--laptop needs OUTDIR}"
  shift 2
fi
BUILD="${1:-build}"
SHOTS="$BUILD/bin/pmx31570a-shots"
[ -x "$SHOTS" ] || { echo "$SHOTS is not built" >&2; exit 2; }
if [ -n "$LAPTOP" ]; then
  DISP="${SHOTS_DISPLAY:-:78}"
  SCREEN="1366x768x24"
else
  DISP="${SHOTS_DISPLAY:-:77}"
  SCREEN="1400x900x24"
fi

XVFB=""
DARK="$(mktemp -d)"
cleanup() {
  rm -rf "$DARK"
  if [ -n "$XVFB" ]; then kill "$XVFB" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ ! -e "/tmp/.X11-unix/X${DISP#:}" ]; then
  Xvfb "$DISP" -screen 0 "$SCREEN" >/dev/null 2>&1 &
  XVFB=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISP#:}" ] && break; sleep 0.1; done
fi

if [ -n "$LAPTOP" ]; then
  mkdir -p "$LAPTOP"
  for lang in en_US.UTF-8 ja_JP.UTF-8; do
    env -u LC_ALL -u LC_MESSAGES DISPLAY="$DISP" QT_QPA_PLATFORM=xcb LANG="$lang" \
      QT_SCALE_FACTOR=1.5 "$SHOTS" "$LAPTOP"
  done
  exit 0
fi

mkdir -p docs
for lang in en_US.UTF-8 ja_JP.UTF-8; do
  env -u LC_ALL -u LC_MESSAGES DISPLAY="$DISP" QT_QPA_PLATFORM=xcb LANG="$lang" \
    "$SHOTS" docs
  # PMX_SHOTS_DARK=1: the same pictures on a dark theme; the guide shows the main window.
  env -u LC_ALL -u LC_MESSAGES DISPLAY="$DISP" QT_QPA_PLATFORM=xcb LANG="$lang" \
    PMX_SHOTS_DARK=1 "$SHOTS" "$DARK"
  short="${lang%%_*}"
  cp "$DARK/main-window-$short.png" "docs/main-window-dark-$short.png"
done
