#!/usr/bin/env bash
# Runs one Windows executable under Wine for ctest. The prefix lives in the build
# tree (WINEPREFIX may name another); a crash ends the run instead of opening winedbg.
set -u
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=${WINE_EXEC_PREFIX:-$PWD/wine-prefix}}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree,mshtml=}"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
exec timeout --kill-after=10 "${WINE_EXEC_TIMEOUT:-300}" "$wine" "$@"
