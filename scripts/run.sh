#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program.
#
#   scripts/run.sh            against the virtual instrument, in a demo settings scope
#                             (build/demo) that never touches your own settings
#   scripts/run.sh --real     with your own settings and a real instrument
#   scripts/run.sh --protocol ascii|rtu   the demo with a Modbus instrument
#   scripts/run.sh --tcp      the demo instrument on a loopback TCP port, as behind a
#                             device server (COM1 maps to tcp://127.0.0.1:PORT)
#
# Without --real the demo is used unless your own settings already map a port
# (section [Ports] in ~/.config/KORVAN DELTRIS.conf).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
REAL=0
PROTOCOL=korvan
TCP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --real) REAL=1 ;;
    --demo) REAL=-1 ;;
    --protocol) PROTOCOL="$2"; shift ;;
    --tcp) TCP=1; REAL=-1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
scripts/deps.sh
scripts/build.sh pmx31570a pmx31570a-sim pmx31570a-cli

USER_CONF="${XDG_CONFIG_HOME:-$HOME/.config}/KORVAN DELTRIS.conf"
if [ "$REAL" -eq 0 ] && [ -f "$USER_CONF" ] && grep -q '^\[Ports\]' "$USER_CONF"; then
  REAL=1
fi
if [ "$REAL" -eq 1 ]; then
  exec build/bin/pmx31570a
fi

# Demo: a virtual instrument on a pseudo-terminal (or a loopback TCP port), mapped to COM1
# in a private scope.
DEMO="$ROOT/build/demo"
mkdir -p "$DEMO/config" "$DEMO/home"
case "$PROTOCOL" in
  korvan) PROTO_TEXT="KORVAN" ;;
  ascii) PROTO_TEXT="Modbus ASCII" ;;
  rtu) PROTO_TEXT="Modbus RTU" ;;
  *) echo "--protocol must be korvan, ascii or rtu" >&2; exit 2 ;;
esac
rm -f "$DEMO/sim.out"
if [ "$TCP" -eq 1 ]; then
  WHERE=(--tcp 0)
else
  WHERE=(--link "$DEMO/ttyPMX")
fi
build/bin/pmx31570a-sim --protocol "$PROTOCOL" --instrument 1 "${WHERE[@]}" \
  --model resources/models/model-pmx31570a.txt --log "$DEMO/instrument.log" \
  --live 0001:sine:20:400 --live 0002:sine:20:380 --live 0003:ramp:30:150 >"$DEMO/sim.out" &
SIM=$!
trap 'kill $SIM 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$DEMO/sim.out" ] && break; sleep 0.1; done
DEVICE="$DEMO/ttyPMX"
if [ "$TCP" -eq 1 ]; then DEVICE="$(head -1 "$DEMO/sim.out")"; fi
cat >"$DEMO/config/KORVAN DELTRIS.conf" <<CONF
[DKR4073]
Protocol=$PROTO_TEXT
DevNo=1
Speed=9600
Databit=7 bit
Stopbit=1 bit
Party=EVEN
Port=COM1
Timout=300

[Ports]
COM1=$DEVICE
CONF
if [ ! -f "$DEMO/home/PMX31570A.ini" ]; then
  case "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" in
    ja*) cp resources/demo/PMX31570A_ja.ini "$DEMO/home/PMX31570A.ini" ;;
    *) cp resources/demo/PMX31570A_en.ini "$DEMO/home/PMX31570A.ini" ;;
  esac
fi
cp -n resources/models/model-pmx31570a.txt resources/models/model-pmx31570a.profile \
  "$DEMO/home/" 2>/dev/null || true
# The sample model's profile, found by its model name (live items, units, ranges).
mkdir -p "$DEMO/home/profiles"
cp -n resources/models/model-pmx31570a.profile "$DEMO/home/profiles/PMX-31570A.profile" \
  2>/dev/null || true
echo "Virtual instrument ($PROTO_TEXT, instrument 1) on $(head -1 "$DEMO/sim.out"); its log: $DEMO/instrument.log"
XDG_CONFIG_HOME="$DEMO/config" PMX31570A_HOME="$DEMO/home" build/bin/pmx31570a
