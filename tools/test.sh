#!/usr/bin/env bash
# Builds and runs every test: the layer check, a normal build, the module
# for each further CPython 3.10+ on the machine with its Python tests under
# each and its C++ tests under the newest (tools/test_pythons.sh), a build
# with AddressSanitizer and UndefinedBehaviorSanitizer, a build with
# ThreadSanitizer, then each fuzz target for a fixed number of inputs.
# Each stage prints its time and the disk its build trees take; the last line
# counts what ran: tests passed, failed and skipped per build and per further
# interpreter (the module's Python tests one by one), and the fuzz targets.
#
# Each tree gives back its object files once its tests have passed, so that
# the four trees never hold more than about 3 GB together: the programs stay,
# so one test can still be run again (`cd build-san && ctest -R <name>`), the
# benchmarks and the demonstration still run from build/, and the next build
# in a tree compiles from scratch. A stage that fails keeps its tree whole and
# ends the run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
started=$(date +%s)

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

# ---- figures -----------------------------------------------------------------

peak=0
counts=()
times=()

# Sets size to the bytes the build trees take now; the largest seen is kept
# in peak. (du fails for the trees not made yet; its total still counts.)
size=0
trees() {
  size=$(du -scb build build-san build-tsan build-fuzz 2>/dev/null | tail -n 1 | cut -f 1 || true)
  size=${size:-0}
  if [ "$size" -gt "$peak" ]; then peak=$size; fi
}
gb() { awk -v b="$1" 'BEGIN { printf "%.2f GB", b / 1e9 }'; }

# One stage's figures: its name, the seconds its build and its run took.
stage_done() {
  local name=$1 built=$2 ran=$3
  trees
  times+=("$name $((built + ran)) s")
  echo "== $name: built in ${built} s, ran in ${ran} s; build trees now $(gb "$size"), peak $(gb "$peak")"
}

# The closing lines: time and peak disk of the whole run, then the counts.
finish() {
  local status=$1
  trees
  local spent summary
  spent=$(printf '%s, ' "${times[@]}")
  summary=$(printf '%s; ' "${counts[@]}")
  echo "time: $(( $(date +%s) - started )) s (${spent%, }); build trees: peak $(gb "$peak"), at the end $(gb "$size")"
  echo "total: ${summary%; }"
  exit "$status"
}

# Counts one build's tests from ctest's JUnit report, the module's pytest
# run (python_module) replaced by pytest's own report, one test per case
# (tools/count_tests.py). Prints "N passed, N failed, N skipped", or "not
# counted (why)". The run's verdict never rests on this count: ctest's exit
# status decides, and a count that finds a failure ctest did not report
# fails the run too.
count_tests() {
  /usr/bin/python3 tools/count_tests.py --ctest "$1" --pytest "$2" 2>/dev/null ||
    echo "not counted (the reports could not be read)"
}

# Runs one build's tests: ctest with its log and JUnit report in the tree,
# pytest's report beside it. Arguments: the stage name, the tree, then the
# environment of the run.
run_tests() {
  local name=$1 dir=$2; shift 2
  rm -f "$dir/ctest.xml" "$dir/pytest.xml"
  local rc=0
  (cd "$dir" && env "$@" PYTEST_ADDOPTS="${PYTEST_ADDOPTS:-} --junitxml=$top/$dir/pytest.xml" \
     ctest --output-on-failure -j "$jobs" --output-junit "$top/$dir/ctest.xml") 2>&1 | tee "$dir/ctest.log" || rc=$?
  local counted
  counted=$(count_tests "$dir/ctest.xml" "$dir/pytest.xml")
  counts+=("$name $counted")
  case "$counted" in
    *" 0 failed,"*|"not counted"*) ;;
    *) if [ "$rc" = 0 ]; then rc=1; fi ;;
  esac
  return "$rc"
}

# Gives back a tree's objects and library archive; its programs stay.
drop_objects() {
  find "$1" \( -name '*.o' -o -name '*.a' \) -type f -delete
}

# Ninja for a new tree; a tree made before (by tools/run.sh, or by hand with
# another generator) keeps its own, which cmake refuses to change.
generator() {
  [ -f "$1/CMakeCache.txt" ] || echo "-G Ninja"
}

# One build-and-test stage: name, tree, cmake options; the test environment
# follows "--".
stage() {
  local name=$1 dir=$2; shift 2
  local options=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  echo "== $name build"
  local t0 t1 t2
  t0=$(date +%s)
  { cmake -S . -B "$dir" $(generator "$dir") "${options[@]}" >/dev/null && cmake --build "$dir" -j "$jobs"; } || { counts+=("$name build FAILED"); stage_done "$name" $(( $(date +%s) - t0 )) 0; finish 1; }
  t1=$(date +%s)
  trees
  local rc=0
  run_tests "$name" "$dir" "$@" || rc=$?
  t2=$(date +%s)
  stage_done "$name" $((t1 - t0)) $((t2 - t1))
  [ "$rc" = 0 ] || finish 1
}

# ---- the module under further interpreters ---------------------------------------

# tools/test_pythons.sh builds the module for each further interpreter in the
# normal tree, and the module's C++ tests for the newest, then runs their
# tests; its groups join the total line.
other_pythons_stage() {
  echo "== other pythons"
  local t0 t1 t2 rc=0 group
  t0=$(date +%s)
  tools/test_pythons.sh build build "$jobs" ||
    { counts+=("other-pythons configure FAILED"); stage_done "other pythons" $(( $(date +%s) - t0 )) 0; finish 1; }
  t1=$(date +%s)
  trees
  rm -f build/python-counts.txt
  tools/test_pythons.sh test build build/python-counts.txt "$jobs" || rc=$?
  # As in run_tests, a count that finds a failure fails the stage too.
  if [ -s build/python-counts.txt ]; then
    while IFS= read -r group; do
      counts+=("$group")
      case "$group" in
        *" 0 failed,"*|"other-pythons none found") ;;
        *) if [ "$rc" = 0 ]; then rc=1; fi ;;
      esac
    done <build/python-counts.txt
  else
    counts+=("other-pythons not counted (status $rc)")
    if [ "$rc" = 0 ]; then rc=1; fi
  fi
  t2=$(date +%s)
  stage_done "other pythons" $((t1 - t0)) $((t2 - t1))
  [ "$rc" = 0 ] || finish 1
}

# ---- the stages ----------------------------------------------------------------

# The normal tree builds the module for Debian's interpreter alone; the
# other interpreters' modules are added once its tests have passed, when its
# objects but the static library's (which those modules link) are gone.
stage normal build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_EXTRA_PYTHONS= -DHX_EXTRA_PYTHON_TESTS=
find build \( -name '*.o' -o -name '*.a' \) -type f ! -path 'build/CMakeFiles/hx.dir/*' ! -path build/libhx.a -delete
other_pythons_stage
drop_objects build

stage sanitizer build-san -DCMAKE_BUILD_TYPE=Debug -DHX_SANITIZE=ON -- \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
drop_objects build-san

# The whole suite again, the many-thread stress tests among them: any data
# race or lock-order inversion they reach fails the run.
stage thread-sanitizer build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_TSAN=ON -- \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
drop_objects build-tsan

echo "== fuzz targets"
t0=$(date +%s)
{ CC=clang CXX=clang++ cmake -S . -B build-fuzz $(generator build-fuzz) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_FUZZ=ON >/dev/null &&
  cmake --build build-fuzz -j "$jobs" --target hx_fuzzers; } || { counts+=("fuzz build FAILED"); finish 1; }
t1=$(date +%s)
trees
runs=${HX_FUZZ_RUNS:-200000}
secs=${HX_FUZZ_SECONDS:-30}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# One target per fuzz/fuzz_<name>.cpp; corpora, logs and crash inputs stay
# next to the binaries in build-fuzz/fuzz (fuzz_<name>.corpus, .log, and
# -artifact_prefix for crash-, slow-unit-, timeout- and oom- files). Each
# target also starts from its checked-in seeds in fuzz/corpus/<name> (read
# only), valid forms that take the short runs past the first checks at once.
# Each writes its verdict to fuzz_<name>.result, so that every target runs
# and is counted even when one fails.
rm -f build-fuzz/fuzz/*.result
for src in fuzz/fuzz_*.cpp; do basename "$src" .cpp; done | xargs -P "$jobs" -I{} sh -c \
  'bin=build-fuzz/fuzz/$1; seeds=fuzz/corpus/$1; [ -d "$seeds" ] || seeds=; mkdir -p "$bin.corpus" &&
   "$bin" -runs='"$runs"' -max_total_time='"$secs"' -rss_limit_mb=2048 -artifact_prefix="$bin." "$bin.corpus" $seeds >"$bin.log" 2>&1 \
   && { echo ok >"$bin.result"; echo "fuzz ok: $1"; } || { echo FAILED >"$bin.result"; echo "fuzz FAILED: $1"; }' _ {}
t2=$(date +%s)
targets=$(ls fuzz/fuzz_*.cpp | wc -l)
fuzz_ok=$(cat build-fuzz/fuzz/*.result 2>/dev/null | grep -c '^ok$' || true)
fuzz_bad=$((targets - fuzz_ok))
for f in build-fuzz/fuzz/*.result; do
  [ -e "$f" ] || continue
  if [ "$(cat "$f")" != ok ]; then
    echo "== $(basename "$f" .result) failed; the end of its log:"
    tail -n 40 "${f%.result}.log"
  fi
done
stage_done fuzz $((t1 - t0)) $((t2 - t1))
if [ "$fuzz_bad" = 0 ]; then
  counts+=("fuzz $targets targets ok")
  drop_objects build-fuzz
  finish 0
fi
counts+=("fuzz $fuzz_ok targets ok, $fuzz_bad failed")
finish 1
