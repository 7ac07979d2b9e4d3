#!/usr/bin/env bash
# Builds and runs every test: the layer check, a normal build, the module
# for each further CPython 3.10+ on the machine with its Python tests under
# each, a build with AddressSanitizer and UndefinedBehaviorSanitizer, a build
# with ThreadSanitizer, then each fuzz target for a fixed number of inputs.
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

# Counts one build's tests from ctest's JUnit report; the module's test
# (python_module) is replaced by pytest's own report, one test per case.
# Prints "N passed, N failed, N skipped", or "not counted (why)". The run's
# verdict never rests on this count: ctest's exit status decides, and a count
# that finds a failure ctest did not report fails the run too.
count_tests() {
  /usr/bin/python3 - "$1" "$2" <<'EOF' 2>/dev/null || echo "not counted (the reports could not be read)"
import os
import sys
import xml.etree.ElementTree as ET

ctest_report, pytest_report = sys.argv[1], sys.argv[2]
passed = failed = skipped = 0
for case in ET.parse(ctest_report).getroot().iter("testcase"):
    status = case.get("status")
    if case.get("name") == "python_module" and status != "notrun" and os.path.exists(pytest_report):
        bad = 0
        for suite in ET.parse(pytest_report).getroot().iter("testsuite"):
            n = int(suite.get("tests", 0))
            f = int(suite.get("failures", 0)) + int(suite.get("errors", 0))
            s = int(suite.get("skipped", 0))
            passed += n - f - s
            failed += f
            skipped += s
            bad += f
        # pytest that failed after writing its report (a crash at exit)
        # still counts as a failure.
        if status == "fail" and bad == 0:
            failed += 1
        continue
    if status == "run":
        passed += 1
    elif status == "fail":
        failed += 1
    elif status == "disabled":
        skipped += 1
    else:
        # "notrun": skipped by the test itself, or not run at all (no
        # program), which ctest counts as a failure.
        reason = case.find("skipped")
        message = reason.get("message", "") if reason is not None else ""
        if message.startswith("SKIP_"):
            skipped += 1
        else:
            failed += 1
print(f"{passed} passed, {failed} failed, {skipped} skipped")
EOF
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
  { cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null && cmake --build "$dir" -j "$jobs"; } || { counts+=("$name build FAILED"); stage_done "$name" $(( $(date +%s) - t0 )) 0; finish 1; }
  t1=$(date +%s)
  trees
  local rc=0
  run_tests "$name" "$dir" "$@" || rc=$?
  t2=$(date +%s)
  stage_done "$name" $((t1 - t0)) $((t2 - t1))
  [ "$rc" = 0 ] || finish 1
}

# ---- the module under further interpreters ---------------------------------------

# The CPython builds on the machine beside Debian's /usr/bin/python3: every
# python3.<minor> of pyenv's installations, /usr/local/bin and /usr/bin that
# is 3.10 or later, has its headers and is not Debian's default itself. One
# path a line.
other_pythons() {
  local default seen=" " py real
  default=$(readlink -f /usr/bin/python3 2>/dev/null || true)
  for py in "${PYENV_ROOT:-${HOME:-/root}/.pyenv}"/versions/*/bin/python3.* /root/.pyenv/versions/*/bin/python3.* \
            /usr/local/bin/python3.* /usr/bin/python3.*; do
    [[ "$(basename "$py")" =~ ^python3\.[0-9]+$ ]] && [ -x "$py" ] || continue
    real=$(readlink -f "$py")
    [ "$real" != "$default" ] && [[ "$seen" != *" $real "* ]] || continue
    seen+="$real "
    "$py" -c 'import os, sys, sysconfig
sys.exit(sys.version_info < (3, 10) or not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' \
      2>/dev/null && echo "$py"
  done
  return 0
}

# Counts one pytest run from its JUnit report and exit status: "N passed,
# N failed, N skipped". A run that failed with no failure in its report (a
# crash, no report at all) counts one failure.
count_pytest() {
  /usr/bin/python3 - "$1" "$2" <<'EOF' 2>/dev/null || echo "0 passed, 1 failed, 0 skipped"
import os
import sys
import xml.etree.ElementTree as ET

report, status = sys.argv[1], sys.argv[2]
passed = failed = skipped = 0
if os.path.exists(report):
    for suite in ET.parse(report).getroot().iter("testsuite"):
        n = int(suite.get("tests", 0))
        f = int(suite.get("failures", 0)) + int(suite.get("errors", 0))
        s = int(suite.get("skipped", 0))
        passed += n - f - s
        failed += f
        skipped += s
if status != "0" and failed == 0:
    failed += 1
print(f"{passed} passed, {failed} failed, {skipped} skipped")
EOF
}

# Where pytest cannot run, the interpreter ($py) imports the module from its
# own folder and runs the README's first example, as printed, against the
# demonstration's stand-in supervisor. Arguments: the module's folder, the
# stand-in, the README. Its last line is "N passed, N failed, 0 skipped".
readme_example() {
  "$py" - "$@" <<'EOF'
import os
import re
import subprocess
import sys
import tempfile

module_dir, farm_path, readme = (os.path.abspath(a) for a in sys.argv[1:4])
passed = failed = 0
sys.path.insert(0, module_dir)
try:
    import _hx
    where = os.path.dirname(os.path.realpath(_hx.__file__))
    assert where == os.path.realpath(module_dir), "imported from " + where
    print("import: ok,", os.path.basename(_hx.__file__), "version", _hx.version())
    passed += 1
except Exception as e:
    print("import: FAILED:", repr(e))
    failed += 1

with open(readme, encoding="utf-8") as f:
    section = f.read().split("### A first example", 1)[1]
example = re.search(r"```python\n(.*?)```", section, re.S).group(1)
with tempfile.TemporaryDirectory() as root:
    # A folder like the repository's root: its build/python is the module's folder.
    os.mkdir(os.path.join(root, "build"))
    os.symlink(module_dir, os.path.join(root, "build", "python"))
    with open(os.path.join(root, "first.py"), "w") as f:
        f.write(example)
    farm = subprocess.Popen([farm_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = farm.stdout.readline().strip()
        env = dict(os.environ, HX_SUPERVISOR="127.0.0.1:" + port)
        run = subprocess.run([sys.executable, "first.py"], cwd=root, env=env,
                             capture_output=True, text=True, timeout=300)
    finally:
        farm.stdin.close()
        farm.wait(timeout=60)
out = run.stdout.splitlines()
# ana's job first, then the two hosts, and ten lines in all (see the README).
if run.returncode == 0 and len(out) == 10 and out[0].startswith("100 lighting ") \
        and out[1] == "['node01', 'node02']":
    print("README example: ok")
    passed += 1
else:
    print("README example: FAILED, status", run.returncode)
    print(run.stdout + run.stderr)
    failed += 1
print(f"{passed} passed, {failed} failed, 0 skipped")
EOF
}

# One interpreter's run, in build/python-<version>/ (its first argument): the
# module's pytest suite, or the README's example where pytest cannot run.
# Leaves there the log (test.log), how it ran (how) and its count (count).
# Debian's pytest is found through Debian's package folder when the
# interpreter has none of its own.
run_other_python() {
  local out=$1 py=$2 path= status=0
  rm -f "$out/pytest.xml" "$out/how" "$out/count"
  "$py" -m pytest --version >/dev/null 2>&1 || path=/usr/lib/python3/dist-packages
  if PYTHONPATH=$path "$py" -m pytest --version >"$out/pytest-version.log" 2>&1; then
    echo pytest >"$out/how"
    env HX_MODULE_DIR="$top/$out" HX_DEMO_FARM="$top/build/hx_demo_farm" PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$path \
      timeout 900 "$py" -m pytest -q -p no:cacheprovider -p no:warnings --junitxml="$top/$out/pytest.xml" tests/python \
      >"$out/test.log" 2>&1 || status=$?
    count_pytest "$out/pytest.xml" "$status" >"$out/count"
  else
    echo "example (no pytest: $(grep -v '^ ' "$out/pytest-version.log" | tail -n 1))" >"$out/how"
    py=$py readme_example "$out" build/hx_demo_farm README.md >"$out/test.log" 2>&1 || true
    tail -n 1 "$out/test.log" | grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' >"$out/count" ||
      echo "0 passed, 1 failed, 0 skipped" >"$out/count"
  fi
}

# Builds the module for each interpreter of other_pythons in the normal tree
# (its static library is reused: only the module's own sources compile
# again), then runs every interpreter's tests at once (run_other_python).
other_pythons_stage() {
  echo "== other pythons"
  local t0 t1 t2 list=() py
  t0=$(date +%s)
  while IFS= read -r py; do list+=("$py"); done < <(other_pythons)
  if [ ${#list[@]} = 0 ]; then
    echo "other pythons: none found beside Debian's /usr/bin/python3; nothing more to build or test"
    counts+=("other-pythons none found")
    stage_done "other pythons" 0 0
    return 0
  fi
  local rc=0 target dir version line
  cmake -S . -B build "-DHX_EXTRA_PYTHONS=$(IFS=';'; echo "${list[*]}")" >/dev/null ||
    { counts+=("other-pythons configure FAILED"); stage_done "other pythons" $(( $(date +%s) - t0 )) 0; finish 1; }
  # One line a module (python-extra.txt), then whether it was built.
  local modules=() targets=() built=() all=0
  while read -r target dir version py; do
    echo "-- CPython $version ($py): build/$dir/"
    modules+=("$target $dir $version $py")
    targets+=("$target")
  done < build/python-extra.txt
  # All the modules in one build; when it fails, each again alone tells
  # which (the others are then up to date).
  cmake --build build -j "$jobs" --target "${targets[@]}" </dev/null || all=$?
  for line in "${modules[@]}"; do
    read -r target dir version py <<<"$line"
    if [ "$all" = 0 ] || cmake --build build -j "$jobs" --target "$target" </dev/null >/dev/null 2>&1; then
      built+=(yes); run_other_python "build/$dir" "$py" &
    else
      built+=(no); rc=1
    fi
  done
  t1=$(date +%s)
  trees
  wait

  local how counted i=0 tested=()
  for line in "${modules[@]}"; do
    read -r target dir version py <<<"$line"
    if [ "${built[$i]}" = no ]; then
      echo "CPython $version ($py): build FAILED"
      counts+=("python-$version build FAILED")
      tested+=("$version (build FAILED)")
    else
      how=$(cat "build/$dir/how" 2>/dev/null || echo "not run")
      counted=$(cat "build/$dir/count" 2>/dev/null || echo "0 passed, 1 failed, 0 skipped")
      echo "CPython $version ($py), $how: $counted"
      case "$counted" in
        *" 0 failed,"*) ;;
        *) rc=1; echo "== CPython $version failed; the end of build/$dir/test.log:"; tail -n 60 "build/$dir/test.log" ;;
      esac
      counts+=("python-$version ${how%% *} $counted")
      tested+=("$version (${how%% *})")
    fi
    i=$((i + 1))
  done
  echo "other pythons: built and tested ${tested[*]}; Debian's /usr/bin/python3 in the stages above"
  # Passed: the modules keep their code and still run, but give back their
  # debug information (about 100 MB each, the library's included).
  if [ "$rc" = 0 ]; then
    for line in "${modules[@]}"; do
      read -r target dir version py <<<"$line"
      strip --strip-debug build/"$dir"/_hx*.so
    done
  fi
  t2=$(date +%s)
  stage_done "other pythons" $((t1 - t0)) $((t2 - t1))
  [ "$rc" = 0 ] || finish 1
}

# ---- the stages ----------------------------------------------------------------

# The normal tree builds the module for Debian's interpreter alone; the
# other interpreters' modules are added once its tests have passed, when its
# objects but the static library's (which those modules link) are gone.
stage normal build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_EXTRA_PYTHONS=
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
{ CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_FUZZ=ON >/dev/null &&
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
