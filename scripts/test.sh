#!/usr/bin/env bash
# Builds and runs every test twice: a normal build, then one with
# AddressSanitizer and UndefinedBehaviorSanitizer (halting on the first error).
# A Release build of the two daemon binaries follows, compiled only: the
# optimiser's own warnings must hold under -Werror too.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
status=0
bash scripts/check-format.sh || status=1
for variant in release asan; do
  dir=build/test-$variant
  flags=()
  [ "$variant" = asan ] && flags=(-DVELMARD_SANITIZE=ON)
  echo "== $variant build"
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $variant tests"
  export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  if ! ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300; then
    status=1
  fi
done
echo "== Release build of the daemon binaries"
cmake -S . -B build/test-optimised -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test-optimised -j "$jobs" --target velmard velmard-sim || status=1
exit $status
