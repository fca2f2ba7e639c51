#!/usr/bin/env bash
# Builds the Debian package: installs what building it needs (not the test tool chain),
# builds Release into build-package/ and runs CPack. Prints the path of the .deb as its
# last line.
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --package
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# A tree of its own, so the package never picks up a debug build; no tests or benchmarks
# in it. Release takes the hardening flags of dpkg-buildflags (CMakeLists.txt).
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DPMX_BENCHMARKS=OFF -DPMX_HARDENING=ON -DCMAKE_UNITY_BUILD="${PMX_UNITY:-OFF}" "${launcher[@]}" \
  >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/pmx31570a_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls "$PWD"/build-package/pmx31570a_*_amd64.deb)
dpkg-deb --field "$deb" Package Version Depends Recommends >&2
echo "$deb"
