#!/usr/bin/env bash
# Builds the release twice, from two fresh clones of the committed tree in two
# different folders, and compares the six executables, the archive and the Python wheel byte
# for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

builds=("$work/first" "$work/second/elsewhere")
for clone in "${builds[@]}"; do
  git clone -q "$root" "$clone"
  (cd "$clone" && cmake --preset windows -DPROBES_BUILD_TESTS=OFF > /dev/null &&
     cmake --build --preset windows --target package wheel > /dev/null)
done

passed=0
failed=0
one=${builds[0]}/build/windows
two=${builds[1]}/build/windows
for file in bin/brindle.exe bin/fennel.exe bin/inventory.exe bin/quarry.exe bin/sorrel.exe bin/tansy.exe \
            "package/$(cd "$one/package" && ls gpu-probes-*-win64.zip)" \
            "package/$(cd "$one/package" && ls gpu_inventory-*-py3-none-win_amd64.whl)"; do
  if cmp -s "$one/$file" "$two/$file"; then
    passed=$((passed + 1))
  else
    echo "not reproducible: $file"
    failed=$((failed + 1))
  fi
done
echo "reproducible: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
