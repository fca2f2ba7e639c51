#!/usr/bin/env bash
# Checks of the installed layout, one CTest case per argument:
#   check_install.sh install PREFIX CMAKE BUILD_DIR   fresh `cmake --install` into PREFIX
#   check_install.sh CASE PREFIX VERSION              files | desktop_entry | metainfo |
#                                                     man_pages | programs | reference
# Exit 0 pass, 1 fail, 77 skipped (a validator is not installed).
set -uo pipefail

CASE="$1"
PREFIX="$2"
APP_ID=com.korvandeltris.pmx31570a
PROGRAMS=(pmx31570a pmx31570a-cli pmx31570a-sim)
FAILED=0

fail() {
  echo "FAIL: $*" >&2
  FAILED=1
}

skip_without() {
  if ! command -v "$1" >/dev/null; then
    echo "SKIPPED: $1 is not installed (package $2; scripts/deps.sh installs it)"
    exit 77
  fi
}

# Width and height of a PNG from its IHDR chunk, as "W H".
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}

case_install() {
  local cmake="$3" build="$4"
  # A fresh prefix, so that files left from an earlier layout cannot make a check pass.
  [ -n "$PREFIX" ] && [ "$PREFIX" != / ] || { echo "bad prefix" >&2; exit 2; }
  rm -rf "$PREFIX"
  "$cmake" --install "$build" --prefix "$PREFIX" >/dev/null || fail "cmake --install into $PREFIX"
}

case_files() {
  local version="$3"
  # Mode x: must be executable.
  local expected=(
    "x bin/pmx31570a"
    "x bin/pmx31570a-cli"
    "x bin/pmx31570a-sim"
    "- share/applications/pmx31570a.desktop"
    "- share/icons/hicolor/scalable/apps/pmx31570a.svg"
    "- share/icons/hicolor/48x48/apps/pmx31570a.png"
    "- share/icons/hicolor/256x256/apps/pmx31570a.png"
    "- share/metainfo/$APP_ID.metainfo.xml"
    "- share/man/man1/pmx31570a.1.gz"
    "- share/man/man1/pmx31570a-cli.1.gz"
    "- share/man/man1/pmx31570a-sim.1.gz"
    "- share/man/ja/man1/pmx31570a.1.gz"
    "- share/man/ja/man1/pmx31570a-cli.1.gz"
    "- share/man/ja/man1/pmx31570a-sim.1.gz"
    "- share/doc/pmx31570a/copyright"
    "- share/doc/pmx31570a/changelog.gz"
    "- share/doc/pmx31570a/user-guide.md"
    "- share/doc/pmx31570a/user-guide.ja.md"
    "- share/pmx31570a/models/model-pmx31570a.txt"
  )
  local entry mode path
  for entry in "${expected[@]}"; do
    mode="${entry%% *}"
    path="$PREFIX/${entry#* }"
    if [ ! -s "$path" ]; then
      fail "missing or empty: ${entry#* }"
    elif [ "$mode" = x ] && [ ! -x "$path" ]; then
      fail "not executable: ${entry#* }"
    fi
  done

  # Only the programs go to bin: test and benchmark programs stay in the build tree.
  local extra
  extra=$(find "$PREFIX/bin" -mindepth 1 | sed "s|^$PREFIX/bin/||" | grep -vxF -f <(printf '%s\n' "${PROGRAMS[@]}"))
  [ -z "$extra" ] || fail "unexpected in bin: $extra"

  # Each PNG icon has the size its directory names.
  local png dir size
  while IFS= read -r png; do
    dir=$(basename "$(dirname "$(dirname "$png")")")
    size=$(png_size "$png")
    [ "$size" = "${dir%x*} ${dir#*x}" ] || fail "$png is $size, not $dir"
  done < <(find "$PREFIX/share/icons/hicolor" -name '*.png')

  # Every picture a guide shows is installed beside it.
  local guide image
  for guide in "$PREFIX"/share/doc/pmx31570a/user-guide*.md; do
    while IFS= read -r image; do
      [ -f "$(dirname "$guide")/$image" ] || fail "$(basename "$guide") shows $image, which is not installed"
    done < <(grep -o '!\[[^]]*\]([^)]*)' "$guide" | sed 's/.*(\(.*\))/\1/')
  done

  # Wherever a version is named, it is the project's.
  local page
  for page in "$PREFIX"/share/man/man1/*.1.gz "$PREFIX"/share/man/ja/man1/*.1.gz; do
    zcat "$page" | grep -q "^\.TH .*\"pmx31570a $version\"" || fail "$(basename "$page") does not name version $version"
  done
  grep -q "<release version=\"$version\"" "$PREFIX/share/metainfo/$APP_ID.metainfo.xml" ||
    fail "metainfo has no release $version"
  zcat "$PREFIX/share/doc/pmx31570a/changelog.gz" | head -n 1 | grep -q "^pmx31570a ($version) " ||
    fail "the changelog's top entry is not version $version"
  # Compressed files carry no name or time stamp, so that the package is reproducible.
  local gz
  for gz in "$PREFIX"/share/man/man1/*.gz "$PREFIX"/share/man/ja/man1/*.gz "$PREFIX"/share/doc/pmx31570a/*.gz; do
    [ "$(od -An -tu1 -j4 -N4 "$gz" | tr -d ' ')" = 0000 ] || fail "$gz has a time stamp"
    [ $(( $(od -An -tu1 -j3 -N1 "$gz") & 8 )) -eq 0 ] || fail "$gz has a file name"
  done
  local stale
  stale=$(grep -ho 'pmx31570a_[0-9][0-9.]*_amd64\.deb' "$PREFIX"/share/doc/pmx31570a/*.md | sort -u |
          grep -vxF "pmx31570a_${version}_amd64.deb")
  [ -z "$stale" ] || fail "a guide names another version's package: $stale"
}

case_desktop_entry() {
  local desktop="$PREFIX/share/applications/pmx31570a.desktop"
  local exec icon
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -x "$PREFIX/bin/$exec" ] || fail "Exec=$exec is not an installed program"
  [ -n "$(find "$PREFIX/share/icons/hicolor" -name "$icon.*")" ] || fail "Icon=$icon is not in the hicolor theme"
  skip_without desktop-file-validate desktop-file-utils
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
}

case_metainfo() {
  local xml="$PREFIX/share/metainfo/$APP_ID.metainfo.xml"
  local launchable binary
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$xml")
  [ -f "$PREFIX/share/applications/$launchable" ] || fail "launchable $launchable is not installed"
  for binary in $(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$xml"); do
    [ -x "$PREFIX/bin/$binary" ] || fail "provides $binary, which is not installed"
  done
  # The screenshots are those the package ships beside the guides, by the same names.
  local image shots=0
  for image in $(sed -n 's:.*<image[^>]*>\(.*\)</image>.*:\1:p' "$xml"); do
    shots=$((shots + 1))
    [ -f "$PREFIX/share/doc/pmx31570a/${image##*/}" ] || fail "screenshot $image is not in the package"
  done
  [ "$shots" -gt 0 ] || fail "metainfo has no screenshot"
  grep -q '<url type="homepage">https://' "$xml" || fail "metainfo has no homepage"
  skip_without appstreamcli appstream
  appstreamcli validate --no-net --pedantic "$xml" || fail "appstreamcli validate"
}

case_man_pages() {
  skip_without groff groff-base
  local page warnings
  # The Japanese pages are formatted as man does for a Japanese reader: UTF-8 input
  # (preconv) and the Japanese line-breaking rules (ja.tmac).
  for page in "$PREFIX"/share/man/man1/*.1.gz "$PREFIX"/share/man/ja/man1/*.1.gz; do
    local macros=(-man)
    case "$page" in */ja/*) macros+=(-mja) ;; esac
    if ! zcat "$page" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1; then
      fail "$page is not UTF-8"
      continue
    fi
    warnings=$(zcat "$page" | preconv -e UTF-8 | groff "${macros[@]}" -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
  # Each English page has its Japanese one and no other.
  local en ja
  en=$(cd "$PREFIX/share/man/man1" && ls)
  ja=$(cd "$PREFIX/share/man/ja/man1" && ls)
  [ "$en" = "$ja" ] || fail "English pages: $en; Japanese pages: $ja"
}

# The man pages and --help name the same options (check_reference.py).
case_reference() {
  skip_without python3 python3
  python3 "$(dirname "$0")/check_reference.py" "$PREFIX" || fail "man pages and --help differ"
}

# The installed programs start without anything from the build tree and describe
# themselves; a missing library or data file would show here first.
case_programs() {
  local version="$3" home
  home=$(mktemp -d)
  trap 'rm -rf "$home"' RETURN
  local program
  # The window answers --help and --version before it needs a display.
  for program in pmx31570a pmx31570a-cli pmx31570a-sim; do
    if ! PMX31570A_HOME="$home" "$PREFIX/bin/$program" --help >"$home/out" 2>&1; then
      fail "$program --help: $(cat "$home/out")"
    elif ! grep -q "$program" "$home/out"; then
      fail "$program --help does not name the program"
    elif grep -q -- '--version' "$home/out"; then
      # A program that offers --version names the package's version.
      "$PREFIX/bin/$program" --version >"$home/version" 2>&1
      grep -qx "$program $version" "$home/version" ||
        fail "$program --version says \"$(cat "$home/version")\", not \"$program $version\""
    fi
  done
  # The virtual instrument takes the shipped sample model: it names its device only
  # once the model file has loaded.
  local device=""
  coproc SIM { exec "$PREFIX/bin/pmx31570a-sim" \
      --model "$PREFIX/share/pmx31570a/models/model-pmx31570a.txt" 2>"$home/sim.err"; }
  local sim_pid=$SIM_PID
  read -r -t 60 device <&"${SIM[0]}"
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  case "$device" in
    /dev/*) ;;
    *) fail "pmx31570a-sim with the installed sample model: $(cat "$home/sim.err")" ;;
  esac
}

case "$CASE" in
  install | files | desktop_entry | metainfo | man_pages | programs | reference) "case_$CASE" "$@" ;;
  *) echo "unknown case $CASE" >&2; exit 2 ;;
esac
exit "$FAILED"
