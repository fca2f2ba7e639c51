#!/usr/bin/env bash
# Builds the Debian package: installs what is needed, builds Release into build-package/
# and runs CPack. Prints the path of the .deb as its last line.
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# A tree of its own, so the package never picks up a debug build; no tests in it.
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/pmx31570a_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls "$PWD"/build-package/pmx31570a_*_amd64.deb)
dpkg-deb --field "$deb" Package Version Depends >&2
echo "$deb"
