#!/usr/bin/env bash
# What tansy, the fifth probe, costs the default inventory under Wine, and how close the default
# comes to its critical path. Times with hyperfine inventory.exe in a folder with all five probes
# and in one without tansy.exe (tansy then cannot start, at once), both side by side (the
# default) and --sequential. Then, from 10 default runs, each one's critical path: the longest
# chain of runs that must follow one another (fennel then its brindle run, quarry, sorrel,
# tansy; tansy then its runs per adapter when there were some), from the seconds each run took
# in that same inventory, after inventory.exe's own start (the mean of --help), against the
# inventory's whole time. Not a test: it only reports.
# Needs a built windows preset; BENCH_RUNS sets hyperfine's runs (default 30).
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=${BENCH_RUNS:-30}
win=$PWD/build/windows
out=$PWD/build/bench
mkdir -p "$out"
with=$(mktemp -d "$out/with-tansy.XXXXXX")
without=$(mktemp -d "$out/without-tansy.XXXXXX")
for probe in inventory fennel quarry brindle sorrel tansy; do cp "$win/bin/$probe.exe" "$with/"; done
for probe in inventory fennel quarry brindle sorrel; do cp "$win/bin/$probe.exe" "$without/"; done

export WINEPREFIX="$win/wine-prefix-bench" WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
export with without runs out
xvfb-run -a bash -c '
  set -euo pipefail
  wine=/usr/lib/wine/wine64
  timeout 300 $wine wineboot -u > /dev/null 2>&1
  wineserver -p || true  # the server stays up between runs, so every run pays the same start
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$out/fifth-probe.json" \
    -n "inventory.exe" "$wine $with/inventory.exe" \
    -n "inventory.exe without tansy" "$wine $without/inventory.exe" \
    -n "inventory.exe --sequential" "$wine $with/inventory.exe --sequential" \
    -n "inventory.exe --sequential without tansy" "$wine $without/inventory.exe --sequential" \
    -n "inventory.exe --help" "$wine $with/inventory.exe --help" > "$out/fifth-probe.txt"
  for i in $(seq 10); do
    start=$(date +%s.%N)
    $wine $with/inventory.exe --json > "$out/critical-$i.json"
    end=$(date +%s.%N)
    echo "$start $end" > "$out/critical-$i.wall"
  done
  wineserver -k
'

python3 - "$out" <<'PY'
import json, sys
out = sys.argv[1]
with open(f"{out}/fifth-probe.json") as f:
    results = {r["command"]: r for r in json.load(f)["results"]}
for name, base in (("inventory.exe", "inventory.exe without tansy"),
                   ("inventory.exe --sequential", "inventory.exe --sequential without tansy")):
    t, b = results[name], results[base]
    print("%-28s %8.1f ms (sd %5.1f)  %-42s %8.1f ms (sd %5.1f)  +%6.1f ms  ratio %.2f" % (
        name, t["mean"] * 1e3, t["stddev"] * 1e3, base, b["mean"] * 1e3, b["stddev"] * 1e3,
        (t["mean"] - b["mean"]) * 1e3, t["mean"] / b["mean"]))
own_start = results["inventory.exe --help"]["mean"]
print("\ninventory.exe's own start (--help): %.1f ms" % (own_start * 1e3))
print("run  whole s  critical path s  ratio  (chain)")
ratios = []
for i in range(1, 11):
    with open(f"{out}/critical-{i}.json") as f:
        d = json.load(f)
    with open(f"{out}/critical-{i}.wall") as f:
        start, end = map(float, f.read().split())
    brindle = max((a["brindle"]["seconds"] for a in d["adapters"]), default=0)
    tansy = d["tansy"]["seconds"] + max((r["seconds"] for r in d.get("tansyPerAdapter", [])), default=0)
    chains = {"fennel+brindle": d["fennel"]["seconds"] + brindle, "quarry": d["quarry"]["seconds"],
              "sorrel": d["sorrel"]["seconds"], "tansy": tansy}
    chain, critical = max(chains.items(), key=lambda c: c[1])
    critical += own_start
    ratios.append((end - start) / critical)
    print("%3d  %7.3f  %16.3f  %5.2f  (%s)" % (i, end - start, critical, ratios[-1], chain))
ratios.sort()
print("median ratio of the whole to its critical path: %.2f" % ratios[len(ratios) // 2])
PY
