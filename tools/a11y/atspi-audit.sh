#!/usr/bin/env bash
# Reads the program's accessibility tree over AT-SPI, as a screen reader does: a private
# X display (Xvfb), a private D-Bus session with the AT-SPI bus, the virtual instrument on
# a pseudo-terminal, and the program with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1. It opens
# every window, reads all items once with two items refused, and prints per window how
# many controls there are, how many have no name, how many read-only fields claim to be
# editable and how many names carry an access letter or an invisible character; then what
# a screen reader is told during the read.
#
#   tools/a11y/atspi-audit.sh [--orca] [en|ja] [BUILD_DIR]     (default: en, build)
#
# --orca runs the Orca screen reader (Debian package orca) alongside and prints what it said
# during the read and as the keyboard reached a row; no speech synthesizer is needed (Orca
# logs what it says). A11Y_KEEP_LOG=FILE keeps Orca's whole log there.
#
# Needs Xvfb, dbus, at-spi2-core and the system's python3-gi with gir1.2-atspi-2.0
# (python3-pyatspi brings both). Uses X display :79 (A11Y_DISPLAY overrides it). A check by
# hand, not part of the test suite: it waits on a live desktop stack and a screen reader.
set -euo pipefail
cd "$(dirname "$0")/../.."
ORCA=""
if [ "${1:-}" = "--orca" ]; then
  ORCA=1
  shift
fi
LANG_CODE="${1:-en}"
BUILD="${2:-build}"
case "$LANG_CODE" in
  en) LOCALE=en_US.UTF-8; STATE=resources/demo/PMX31570A_en.ini ;;
  ja) LOCALE=ja_JP.UTF-8; STATE=resources/demo/PMX31570A_ja.ini ;;
  *) echo "language must be en or ja" >&2; exit 2 ;;
esac
for program in pmx31570a pmx31570a-sim; do
  [ -x "$BUILD/bin/$program" ] || { echo "$BUILD/bin/$program is not built" >&2; exit 2; }
done
DISP="${A11Y_DISPLAY:-:79}"
WORK="$(mktemp -d)"
XVFB=""
SIM=""
cleanup() {
  if [ -n "$SIM" ]; then kill "$SIM" 2>/dev/null || true; fi
  if [ -n "$XVFB" ]; then kill "$XVFB" 2>/dev/null || true; fi
  if [ -n "${A11Y_KEEP_LOG:-}" ]; then cp "$WORK/orca.log" "$A11Y_KEEP_LOG" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
if [ ! -e "/tmp/.X11-unix/X${DISP#:}" ]; then
  Xvfb "$DISP" -screen 0 1400x900x24 >/dev/null 2>&1 &
  XVFB=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISP#:}" ] && break; sleep 0.1; done
fi

# The virtual instrument refuses two items that the demo state selects, so that the read
# has failures to tell; it answers at the pace of a 9600 baud line.
mkdir -p "$WORK/config" "$WORK/home"
"$BUILD/bin/pmx31570a-sim" --protocol korvan --instrument 1 --link "$WORK/ttyPMX" \
  --model resources/models/model-pmx31570a.txt --fault 0011=nak --fault 0012=nak --baud 9600 \
  >"$WORK/sim.out" 2>/dev/null &
SIM=$!
for _ in $(seq 50); do [ -s "$WORK/sim.out" ] && break; sleep 0.1; done
cat >"$WORK/config/KORVAN DELTRIS.conf" <<CONF
[DKR4073]
Protocol=KORVAN
DevNo=1
Speed=9600
Databit=7 bit
Stopbit=1 bit
Party=EVEN
Port=COM1
Timout=300

[Ports]
COM1=$WORK/ttyPMX
CONF
cp "$STATE" "$WORK/home/PMX31570A.ini"
cp resources/models/model-pmx31570a.txt "$WORK/home/"

env -u LC_ALL -u LC_MESSAGES -u DBUS_SESSION_BUS_ADDRESS -u AT_SPI_BUS_ADDRESS \
  DISPLAY="$DISP" LANG="$LOCALE" XDG_CONFIG_HOME="$WORK/config" PMX31570A_HOME="$WORK/home" \
  XDG_RUNTIME_DIR="$WORK" NO_AT_BRIDGE=0 \
  dbus-run-session -- /usr/bin/python3 tools/a11y/atspi-audit.py "$BUILD/bin/pmx31570a" \
  "$LANG_CODE" ${ORCA:+"$WORK/orca.log"}
