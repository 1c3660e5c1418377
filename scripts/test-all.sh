#!/usr/bin/env bash
# Builds all five presets and runs every test: the native unit tests, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the native quarry against lavapipe, the
# Windows unit tests under Wine, the import-table check, the end-to-end tests under Wine, the
# fault sweeps, a Valgrind run of quarry, a bounded run of each fuzz target, and the Windows
# executables built with clang against mingw-w64 through the same end-to-end tests; last, the
# release archive built twice from two clones, compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
for preset in native native-sanitize windows windows-clang fuzz; do
  echo "== $preset: configure and build"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
done

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for preset in native native-sanitize windows windows-clang fuzz; do
  echo "== $preset: test"
  ctest --preset "$preset" -j "$jobs" || status=1
done
echo "== release archive: reproducible from two clones"
bash scripts/check-reproducible.sh || status=1
exit $status
