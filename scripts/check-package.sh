#!/usr/bin/env bash
# Checks the Debian package: lintian (no error, no warning), the hardening of the programs
# (hardening-check and readelf), then installs it without recommends, runs the installed
# programs once, compares their --help with the installed man pages and removes the
# package again. The checkers (lintian, devscripts for hardening-check) are installed
# here, not with the build's or the tests' packages.
# Usage: scripts/check-package.sh [PACKAGE.deb]   (default: build it with scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ $# -gt 0 ]; then
  deb=$(realpath "$1")
else
  deb=$(scripts/package.sh | tail -n 1)
fi

checkers=()
for p in lintian devscripts python3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || checkers+=("$p")
done
if [ "${#checkers[@]}" -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${checkers[@]}"
fi

# The programs run as an ordinary user with a home of their own, as on a workstation:
# /usr/bin is not writable then, so the state file and csvdata go to the user's data
# folder. Root would be allowed to write beside the program, which is not what users see.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
chmod 755 "$home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody:nogroup "$home"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
run() {
  env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 "${as_user[@]}" "$@"
}

echo "== fields"
dpkg-deb --field "$deb" Package Version Maintainer Section Depends Recommends

# Every tag lintian shows, informational ones included; errors and warnings fail.
echo "== lintian"
cp "$deb" "$home/"
run env TMPDIR="$home" lintian --display-info --fail-on error,warning "$home/$(basename "$deb")"
echo "lintian: no error, no warning"

echo "== hardening"
unpacked="$home/unpacked"
dpkg-deb -x "$deb" "$unpacked"
fortified=0
for program in "$unpacked"/usr/bin/*; do
  name=${program#"$unpacked"}
  report=$(hardening-check --verbose "$program" | sed "s|$unpacked||") || true
  echo "$report"
  # PIE, stack protector, relro and bind now are required of each program. Fortify can
  # only guard a call whose buffer size the compiler knows; a program with no such call
  # reports "only unprotected functions", so the package as a whole must show that the
  # fortified functions are in use. Control-flow protection cannot be had on Debian 12:
  # the C library's start files, linked into every program, lack its marking.
  if ! hardening-check --quiet --nofortify --nocfprotection "$program" >/dev/null; then
    echo "$name lacks hardening (above)" >&2
    exit 1
  fi
  if grep -q 'Fortify Source functions: yes' <<<"$report"; then fortified=$((fortified + 1)); fi
  # Stripped to what runs: no symbol table, no debug info, no compiler notes.
  sections=$(readelf -SW "$program" | sed -n 's/^ *\[ *[0-9]*\] \([^ ]*\) .*/\1/p')
  needless=$(grep -xE '\.symtab|\.strtab|\.debug.*|\.comment|\.note' <<<"$sections" || true)
  if [ -n "$needless" ]; then
    echo "$name has needless sections:" $needless >&2
    exit 1
  fi
  # The same properties as readelf sees them: position independent, read-only
  # relocations, bound at start.
  readelf -hW "$program" | grep -q 'Type: *DYN' || { echo "$name is not PIE" >&2; exit 1; }
  readelf -lW "$program" | grep -q GNU_RELRO || { echo "$name has no RELRO" >&2; exit 1; }
  readelf -dW "$program" | grep -qE 'BIND_NOW|FLAGS_1.* NOW' || { echo "$name is not bound now" >&2; exit 1; }
  echo "$name: sections" $sections
done
if [ "$fortified" -eq 0 ]; then
  echo "no program calls a fortified function: built without _FORTIFY_SOURCE?" >&2
  exit 1
fi

# Without recommends: the window must start with the dependencies alone.
echo "== installing $deb without recommends"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "$deb"

echo "== versions"
# One version everywhere: the package's and each program's own.
want=$(dpkg-deb -f "$deb" Version)
for program in pmx31570a pmx31570a-cli pmx31570a-sim; do
  got=$(run "/usr/bin/$program" --version)
  if [ "$got" != "$program $want" ]; then
    echo "$program --version says \"$got\", the package is $want" >&2
    exit 1
  fi
  echo "$got"
done

echo "== /usr/bin/pmx31570a-cli ports"
run /usr/bin/pmx31570a-cli ports

# The window with the platform plugin the dependencies bring: it makes its data folder
# once it is up, and is still running then (a missing plugin or library ends it at once).
echo "== pmx31570a, offscreen"
data="$home/.local/share/KORVAN DELTRIS/PMX31570A"
# Started directly (not through the run function), so that $! is the window's process.
env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
  "${as_user[@]}" pmx31570a &
window=$!
trap 'kill "$window" 2>/dev/null; rm -rf "$home"' EXIT
for _ in $(seq 600); do
  [ -d "$data/csvdata" ] || ! kill -0 "$window" 2>/dev/null && break
  sleep 0.1
done
sleep 1
if ! kill -0 "$window" 2>/dev/null; then
  status=0
  wait "$window" || status=$?
  echo "pmx31570a ended with status $status" >&2
  exit 1
fi
kill "$window"
wait "$window" || true
trap 'rm -rf "$home"' EXIT
if [ ! -d "$data/csvdata" ]; then
  echo "pmx31570a did not make its csvdata folder in $data" >&2
  exit 1
fi
if [ -e /usr/bin/csvdata ]; then
  echo "pmx31570a wrote into /usr/bin" >&2
  exit 1
fi
echo "data folder: $data"

echo "== man pages and --help"
python3 tests/install/check_reference.py /usr
# man finds each page in the reader's language (-L: the machine may have no Japanese
# locale, and man looks the same way for LANG=ja_JP.UTF-8).
for program in pmx31570a pmx31570a-cli pmx31570a-sim; do
  for lang in C:man1 ja_JP.UTF-8:ja/man1; do
    got=$(run man -L "${lang%%:*}" -w "$program")
    want="/usr/share/man/${lang#*:}/$program.1.gz"
    [ "$got" = "$want" ] || { echo "man -L ${lang%%:*} -w $program: $got, not $want" >&2; exit 1; }
    echo "$got"
  done
done

echo "== removing pmx31570a"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y pmx31570a
echo "package checked: $deb"
