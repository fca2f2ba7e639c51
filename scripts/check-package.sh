#!/usr/bin/env bash
# Installs the Debian package on this machine, runs the installed programs once and
# removes the package again.
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
echo "== installing $deb"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "$deb"

# The programs run as an ordinary user with a home of their own, as on a workstation:
# /usr/bin is not writable then, so the state file and csvdata go to the user's data
# folder. Root would be allowed to write beside the program, which is not what users see.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody:nogroup "$home"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
run() {
  env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 "${as_user[@]}" "$@"
}

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

echo "== pmx31570a, offscreen for 2 seconds"
status=0
run env QT_QPA_PLATFORM=offscreen timeout 2 pmx31570a || status=$?
# 124: still running when the time was up, which is what a healthy window does.
if [ "$status" -ne 0 ] && [ "$status" -ne 124 ]; then
  echo "pmx31570a ended with status $status" >&2
  exit 1
fi
data="$home/.local/share/KORVAN DELTRIS/PMX31570A"
if [ ! -d "$data/csvdata" ]; then
  echo "pmx31570a did not make its csvdata folder in $data" >&2
  exit 1
fi
if [ -e /usr/bin/csvdata ]; then
  echo "pmx31570a wrote into /usr/bin" >&2
  exit 1
fi
echo "data folder: $data"

echo "== removing pmx31570a"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y pmx31570a
echo "package checked: $deb"
