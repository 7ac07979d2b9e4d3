#!/usr/bin/env bash
# Builds and runs every test: a normal build, a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, a build with ThreadSanitizer, then each fuzz
# target for a fixed number of inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== layers"
# Includes point down only: a folder may include the ones before it in this
# list, never one after it (net may use crypto, crypto never uses net).
layers="core expr config model/job model/farm crypto net api python"
bad=0
set -- $layers
while [ $# -gt 1 ]; do
  low=$1; shift
  above=$(echo "$@" | tr ' ' '|')
  if [ -d "$low" ] && grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($above)/" "$low"; then
    echo "layers FAILED: $low/ includes from a folder above it"; bad=1
  fi
done
[ "$bad" = 0 ] || exit 1
echo "layers ok"

tools/setup.sh
jobs=$(nproc)

echo "== normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs") | tee build/ctest.log

echo "== sanitizer build"
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHX_SANITIZE=ON >/dev/null
cmake --build build-san -j "$jobs"
(cd build-san && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs") | tee build-san/ctest.log

echo "== thread sanitizer build"
# The whole suite again, the many-thread stress tests among them: any data
# race or lock-order inversion they reach fails the run.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_TSAN=ON >/dev/null
cmake --build build-tsan -j "$jobs"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
   ctest --output-on-failure -j "$jobs") | tee build-tsan/ctest.log

echo "== fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$jobs" --target hx_fuzzers
runs=${HX_FUZZ_RUNS:-200000}
secs=${HX_FUZZ_SECONDS:-30}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# One target per fuzz/fuzz_<name>.cpp; corpora, logs and crash inputs stay
# next to the binaries in build-fuzz/fuzz. Each target also starts from its
# checked-in seeds in fuzz/corpus/<name> (read only), valid forms that take
# the short runs past the first checks at once.
for src in fuzz/fuzz_*.cpp; do basename "$src" .cpp; done | xargs -P "$jobs" -I{} sh -c \
  'bin=build-fuzz/fuzz/$1; seeds=fuzz/corpus/$1; [ -d "$seeds" ] || seeds=; mkdir -p "$bin.corpus" &&
   "$bin" -runs='"$runs"' -max_total_time='"$secs"' -rss_limit_mb=2048 -artifact_prefix="$bin." "$bin.corpus" $seeds >"$bin.log" 2>&1 \
   && echo "fuzz ok: $1" || { echo "fuzz FAILED: $1"; tail -n 40 "$bin.log"; exit 255; }' _ {}
# One closing line for the whole run: the tests of the three builds and the fuzz targets.
count() { sed -n 's/.*tests failed out of \([0-9][0-9]*\).*/\1/p' "$1" | tail -n 1; }
fuzzers=$(ls fuzz/fuzz_*.cpp | wc -l)
echo "total: $(( $(count build/ctest.log) + $(count build-san/ctest.log) + $(count build-tsan/ctest.log) + fuzzers )) passed, 0 failed"
