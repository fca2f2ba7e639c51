#!/usr/bin/env bash
# Regenerates the user guide's screenshots in docs/, in English and Japanese, and the
# main window on a dark theme (main-window-dark-LANG.png).
#
#   tools/shots/make-shots.sh [BUILD_DIR]     (default: build)
#
# Needs pmx31570a-shots and pmx31570a-sim built in BUILD_DIR/bin, Xvfb and the Noto CJK
# fonts. Uses X display :77 (SHOTS_DISPLAY overrides it) and starts an Xvfb there when
# none is running, so a desktop session is never disturbed.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD="${1:-build}"
DISP="${SHOTS_DISPLAY:-:77}"
SHOTS="$BUILD/bin/pmx31570a-shots"
[ -x "$SHOTS" ] || { echo "$SHOTS is not built" >&2; exit 2; }

XVFB=""
DARK="$(mktemp -d)"
cleanup() {
  rm -rf "$DARK"
  if [ -n "$XVFB" ]; then kill "$XVFB" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ ! -e "/tmp/.X11-unix/X${DISP#:}" ]; then
  Xvfb "$DISP" -screen 0 1400x900x24 >/dev/null 2>&1 &
  XVFB=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISP#:}" ] && break; sleep 0.1; done
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
