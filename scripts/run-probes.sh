#!/usr/bin/env bash
# Builds the probes and runs each once: the native quarry, then quarry.exe, fennel.exe,
# sorrel.exe, tansy.exe and brindle.exe (for the first adapter that fennel lists) under Wine
# with a virtual X server, and ends with the answers joined by LUID (inventory.exe).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
for preset in native windows; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target quarry $( [ "$preset" = windows ] && echo brindle fennel sorrel tansy gpu_inventory_tool )
done

echo "== quarry (Linux)"
build/native/bin/quarry || echo "exit code $?"

export WINEPREFIX="$PWD/build/windows/wine-prefix-run" WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
xvfb-run -a bash -c '
  wine=/usr/lib/wine/wine64
  bin=build/windows/bin
  timeout 300 $wine wineboot -u >/dev/null 2>&1
  for probe in quarry fennel sorrel tansy; do
    echo "== $probe.exe (Wine)"
    timeout 120 $wine $bin/$probe.exe || echo "exit code $?"
  done
  luid=$(timeout 120 $wine $bin/fennel.exe | python3 -c "import json,sys; a=json.load(sys.stdin).get(\"adapters\") or [{}]; print(a[0].get(\"luidLowPart\",0), a[0].get(\"luidHighPart\",0))")
  echo "== brindle.exe --luid-low ${luid% *} --luid-high ${luid#* } (Wine)"
  timeout 120 $wine $bin/brindle.exe --luid-low "${luid% *}" --luid-high "${luid#* }" || echo "exit code $?"
  echo "== the answers joined by LUID (inventory.exe)"
  timeout 300 $wine $bin/inventory.exe || echo "exit code $?"
  wineserver -k
'
