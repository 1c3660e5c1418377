#!/usr/bin/env bash
# Times each probe against a minimal program that makes only the same platform calls, with
# hyperfine: the native quarry (and vulkaninfo --summary) on lavapipe, and the five probes'
# .exe under Wine with a virtual X server (sorrel's baseline also without its PDH part: what
# the counters cost). Prints each probe's time as a ratio to its minimal
# program, and the peak memory (maximum resident set) of each. Then inventory.exe: one probe at
# a time against a shell script that runs the same probes back to back plus inventory.exe's own
# start (--help), and the default (up to four at once) against one at a time. Last, natively,
# how long the parent takes to judge a mebibyte of a probe's output in the shapes that cost a
# reader most, beside nlohmann's callback parser on smaller ones; and what the library's DXGI
# order in the calling process costs under Wine. Not a test: it only reports.
# BENCH_EARLIER_BIN, a folder with an earlier release's executables, also times that release's
# inventory.exe beside this one's, in the same session.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
runs=${BENCH_RUNS:-30}
earlier=${BENCH_EARLIER_BIN:+$(realpath "$BENCH_EARLIER_BIN")}
for preset in native windows; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" -j "$(nproc)" > /dev/null
done

out=build/bench
mkdir -p "$out"
native=build/native
win=build/windows

peak_kib() {  # the maximum resident set of one run, in KiB
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}

echo "== native, lavapipe through the system Vulkan loader"
hyperfine -N --warmup 3 --runs "$runs" --export-json "$out/native.json" \
  -n quarry "$native/bin/quarry" \
  -n minimal_vulkan "$native/bench/minimal_vulkan" \
  -n "vulkaninfo --summary" "vulkaninfo --summary" > "$out/native.txt"
{
  echo "quarry $(peak_kib "$native/bin/quarry")"
  echo "minimal_vulkan $(peak_kib "$native/bench/minimal_vulkan")"
  echo "vulkaninfo --summary $(peak_kib vulkaninfo --summary)"
} > "$out/native-peak.txt"

echo "== Windows executables under Wine"
export WINEPREFIX="$PWD/build/windows/wine-prefix-bench" WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
xvfb-run -a bash -c '
  set -euo pipefail
  wine=/usr/lib/wine/wine64
  timeout 300 $wine wineboot -u > /dev/null 2>&1
  wineserver -p || true  # keep the server up between runs, so every run pays the same start
  luid=$($wine '"$win"'/bin/fennel.exe | python3 -c "import json,sys; a=json.load(sys.stdin)[\"adapters\"][0]; print(a[\"luidLowPart\"], a[\"luidHighPart\"])")
  low=${luid% *}; high=${luid#* }
  hyperfine -N --warmup 3 --runs '"$runs"' --export-json '"$out"'/wine.json \
    -n fennel.exe "$wine '"$win"'/bin/fennel.exe" \
    -n minimal_dxgi.exe "$wine '"$win"'/bench/minimal_dxgi.exe" \
    -n quarry.exe "$wine '"$win"'/bin/quarry.exe" \
    -n minimal_vulkan.exe "$wine '"$win"'/bench/minimal_vulkan.exe" \
    -n brindle.exe "$wine '"$win"'/bin/brindle.exe --luid-low $low --luid-high $high" \
    -n minimal_opencl.exe "$wine '"$win"'/bench/minimal_opencl.exe $low $high" \
    -n sorrel.exe "$wine '"$win"'/bin/sorrel.exe" \
    -n minimal_sorrel.exe "$wine '"$win"'/bench/minimal_sorrel.exe" \
    -n "minimal_sorrel.exe --no-counters" "$wine '"$win"'/bench/minimal_sorrel.exe --no-counters" \
    -n tansy.exe "$wine '"$win"'/bin/tansy.exe" \
    -n minimal_tansy.exe "$wine '"$win"'/bench/minimal_tansy.exe" > '"$out"'/wine.txt
  peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
  {
    echo "fennel.exe $(peak $wine '"$win"'/bin/fennel.exe)"
    echo "minimal_dxgi.exe $(peak $wine '"$win"'/bench/minimal_dxgi.exe)"
    echo "quarry.exe $(peak $wine '"$win"'/bin/quarry.exe)"
    echo "minimal_vulkan.exe $(peak $wine '"$win"'/bench/minimal_vulkan.exe)"
    echo "brindle.exe $(peak $wine '"$win"'/bin/brindle.exe --luid-low $low --luid-high $high)"
    echo "minimal_opencl.exe $(peak $wine '"$win"'/bench/minimal_opencl.exe $low $high)"
    echo "sorrel.exe $(peak $wine '"$win"'/bin/sorrel.exe)"
    echo "minimal_sorrel.exe $(peak $wine '"$win"'/bench/minimal_sorrel.exe)"
    echo "minimal_sorrel.exe --no-counters $(peak $wine '"$win"'/bench/minimal_sorrel.exe --no-counters)"
    echo "tansy.exe $(peak $wine '"$win"'/bin/tansy.exe)"
    echo "minimal_tansy.exe $(peak $wine '"$win"'/bench/minimal_tansy.exe)"
  } > '"$out"'/wine-peak.txt
  bin='"$win"'/bin
  cat > '"$out"'/back-to-back.sh <<SCRIPT
$wine $bin/fennel.exe > /dev/null
$wine $bin/quarry.exe > /dev/null
$wine $bin/sorrel.exe > /dev/null
$wine $bin/tansy.exe > /dev/null
$wine $bin/brindle.exe --luid-low $low --luid-high $high > /dev/null
$wine $bin/inventory.exe --help > /dev/null
SCRIPT
  hyperfine -N --warmup 3 --runs '"$runs"' --export-json '"$out"'/inventory.json \
    -n "probes back to back" "bash '"$out"'/back-to-back.sh" \
    -n "inventory.exe --sequential" "$wine $bin/inventory.exe --sequential" \
    -n inventory.exe "$wine $bin/inventory.exe" \
    '"${earlier:+-n 'earlier inventory.exe' '/usr/lib/wine/wine64 $earlier/inventory.exe'}"' > '"$out"'/inventory.txt
  # The DXGI order of the calling process, as the library reads it, with and without dxgi.dll kept loaded.
  {
    $wine '"$win"'/bench/this_process_order.exe
    $wine '"$win"'/bench/this_process_order.exe --dxgi-loaded
  } > '"$out"'/this-process.txt
  wineserver -k
'

python3 - "$out" <<'PY'
import json, sys
out = sys.argv[1]
def load(name):
    with open(f"{out}/{name}.json") as f:
        return {r["command"]: r for r in json.load(f)["results"]}
def peaks(name):
    result = {}
    with open(f"{out}/{name}-peak.txt") as f:
        for line in f:
            command, _, kib = line.strip().rpartition(" ")
            result[command] = int(kib)
    return result
rows = [("native", "quarry", "minimal_vulkan"), ("native", "vulkaninfo --summary", "minimal_vulkan"),
        ("wine", "fennel.exe", "minimal_dxgi.exe"), ("wine", "quarry.exe", "minimal_vulkan.exe"),
        ("wine", "brindle.exe", "minimal_opencl.exe"), ("wine", "sorrel.exe", "minimal_sorrel.exe"),
        ("wine", "minimal_sorrel.exe", "minimal_sorrel.exe --no-counters"), ("wine", "tansy.exe", "minimal_tansy.exe")]
print("%-22s %10s %-34s %10s %8s %12s %12s" % ("program", "mean ms", "baseline", "base ms", "ratio",
                                              "peak KiB", "base KiB"))
for group, program, base in rows:
    times, peak = load(group), peaks(group)
    t, b = times[program], times[base]
    print("%-22s %10.1f %-34s %10.1f %8.3f %12d %12d" % (program, t["mean"] * 1e3, base, b["mean"] * 1e3,
          t["mean"] / b["mean"], peak[program], peak[base]))
times = load("inventory")
print()
print("%-28s %10s %-28s %10s %8s" % ("program", "mean ms", "baseline", "base ms", "ratio"))
pairs = [("inventory.exe --sequential", "probes back to back"), ("inventory.exe", "inventory.exe --sequential")]
if "earlier inventory.exe" in times:
    pairs.append(("inventory.exe", "earlier inventory.exe"))
for program, base in pairs:
    t, b = times[program], times[base]
    print("%-28s %10.1f %-28s %10.1f %8.3f" % (program, t["mean"] * 1e3, base, b["mean"] * 1e3,
          t["mean"] / b["mean"]))
PY

echo
echo "== the library's DXGI order in the calling process, under Wine"
cat "$out/this-process.txt"

echo
echo "== judging a probe's output (inventory/), fastest of 10 runs"
"$native/bench/reader_benchmark" 10 | tee "$out/reader.txt"
