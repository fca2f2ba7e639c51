#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and run the program.
# Usage: scripts/deps.sh
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# Fonts: the report and caption tests measure and embed real faces (Japanese included).
# The install tests validate the desktop entry, metainfo and man pages; the Debian
# package needs dpkg-shlibdeps (dpkg-dev) and file for its dependencies. poppler-utils:
# the report tests read the PDF's text back with pdftotext; clang and its runtime: the
# fuzz harnesses (scripts/fuzz.sh); python3-pymodbus: a Modbus server that is not ours,
# for the interoperability tests, on a pty pair made by socat. Its serial server needs
# python3-serial-asyncio, which the package only recommends.
PACKAGES=(build-essential cmake git pkg-config libgtest-dev libgl-dev
          qt6-base-dev qt6-serialport-dev qt6-svg-dev qt6-translations-l10n qt6-qpa-plugins
          fonts-dejavu-core fonts-noto-cjk
          desktop-file-utils appstream groff-base dpkg-dev file clang-format-14
          socat poppler-utils clang libclang-rt-14-dev python3-pymodbus
          python3-serial python3-serial-asyncio)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
