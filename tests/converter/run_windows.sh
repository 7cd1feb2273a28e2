#!/usr/bin/env bash
# Runs the converter's process tests against the Windows build of Quilmo
# through Wine. Each run is also made with the native build, which must print
# the same report (Windows line ends aside), end with the same status and
# write the same bytes.
#
#   run_windows.sh <converter_tests> <Windows build folder>
#
# The tested build is Quilmo.exe, the 32-bit program, wherever this machine
# can start 32-bit programs (a kernel with its 32-bit emulation off cannot,
# and then neither can Wine's 32-bit half). Elsewhere Quilmo64.exe, the same
# sources built for 64-bit Windows, stands in for it, and this says so.
set -euo pipefail

tests=$1
win=$(cd "$2" && pwd)
export WINEDEBUG=-all
export WINEPREFIX="$win/wineprefix"

# Wine keeps one server per prefix; keep it up for the whole run, and end it.
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

# Starts `exe` with no arguments: the usage line and status 2 show that it
# runs. The first start also sets up the prefix.
starts() {
  local status=0 out
  out=$("$@" 2>/dev/null) || status=$?
  [ "$status" -eq 2 ] && [[ "$out" == *"USAGE: Quilmo infile outfile"* ]]
}

program=""
runner=""
if [ -x /usr/lib/wine/wine ] && starts wine "$win/Quilmo.exe"; then
  program="$win/Quilmo.exe"
  runner="wine"
else
  echo "NOTE: this machine cannot start the 32-bit Quilmo.exe under Wine" \
       "(32-bit programs do not run here, or Wine's 32-bit half is not installed);" \
       "testing Quilmo64.exe, the same sources built for 64-bit Windows, instead."
  export WINELOADER=/usr/lib/wine/wine64
  if [ -f "$win/Quilmo64.exe" ] && [ -x "$WINELOADER" ] && starts "$WINELOADER" "$win/Quilmo64.exe"; then
    program="$win/Quilmo64.exe"
    runner="$WINELOADER"
  fi
fi
if [ -z "$program" ]; then
  echo "ERROR: Wine cannot start a Windows build of Quilmo here" \
       "(Debian packages: wine, and wine32:i386 or wine64 with g++-mingw-w64-x86-64)" >&2
  exit 1
fi

echo "Testing $program through $runner"
QUILMO_PROGRAM="$program" QUILMO_RUNNER="$runner" "$tests"
