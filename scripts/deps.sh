#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and run the program.
# Usage: scripts/deps.sh             everything: the build, the tests, the fuzz harnesses
#        scripts/deps.sh --package   only what building the Debian package needs
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# The build: compiler, CMake, the Qt development files (Qt's OpenGL target needs
# libgl-dev), dpkg-dev for the hardening flags (dpkg-buildflags) and the package's
# library dependencies (dpkg-shlibdeps, which needs file; it makes the package depend on
# the Qt Charts library the trend of live items is drawn with).
BUILD=(build-essential cmake pkg-config libgl-dev qt6-base-dev qt6-serialport-dev qt6-svg-dev
       qt6-charts-dev libqt6opengl6-dev
       dpkg-dev file)
# The tests. Fonts: the report and caption tests measure and embed real faces (Japanese
# included). The install tests validate the desktop entry, metainfo and man pages and
# compare the man pages with --help (python3). poppler-utils: the report tests read the
# PDF's text back with pdftotext; clang and its runtime: the fuzz harnesses
# (scripts/fuzz.sh); python3-pymodbus: a Modbus server that is not ours, for the
# interoperability tests, on a pty pair made by socat. Its serial server needs
# python3-serial-asyncio, which the package only recommends.
TESTS=(git libgtest-dev qt6-translations-l10n qt6-qpa-plugins
       fonts-dejavu-core fonts-noto-cjk
       desktop-file-utils appstream groff-base python3 clang-format-14
       socat poppler-utils clang libclang-rt-14-dev python3-pymodbus
       python3-serial python3-serial-asyncio)
case "${1:-}" in
  "") PACKAGES=("${BUILD[@]}" "${TESTS[@]}") ;;
  --package) PACKAGES=("${BUILD[@]}") ;;
  *) echo "usage: scripts/deps.sh [--package]" >&2; exit 2 ;;
esac
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
