#!/usr/bin/env bash
# The module under the further interpreters: the stage of tools/test.sh
# after the normal build, in two steps. Paths are taken from the repository's
# root.
#
#   tools/test_pythons.sh build TREE [JOBS]
#     Finds every further CPython 3.10 or later on the machine (other_pythons
#     below), configures TREE (the normal tree) to build the module for each
#     into TREE/python-<major>.<minor>/ (its static library is reused: only
#     the module's own sources compile again) and the module's C++ tests
#     (hx_py_tests) for the newest one, beside its module; builds them. Each
#     folder's file `built` then says yes or no. Ends with a status other
#     than 0 only when the tree cannot be configured.
#
#   tools/test_pythons.sh test TREE RESULTS [JOBS]
#     For each module TREE/python-extra.txt lists (the configuration writes
#     it) that was built: its pytest suite under its interpreter, or, where
#     pytest cannot run, the README's first example (tools/readme_example.py),
#     and its C++ tests where they were built, all at once. Prints a line per
#     run and writes to RESULTS the groups of test.sh's total line, one a
#     line ("python-3.13.0 pytest N passed, N failed, N skipped"). Ends with
#     status 1 when a module was not built or a run failed; once all passed,
#     the modules and test programs give back their debug information.
set -euo pipefail
cd "$(dirname "$0")/.."

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

build_step() {
  local tree=$1 jobs=${2:-$(nproc)} list=() py newest
  while IFS= read -r py; do list+=("$py"); done < <(other_pythons)
  if [ ${#list[@]} = 0 ]; then
    cmake -S . -B "$tree" -DHX_EXTRA_PYTHONS= -DHX_EXTRA_PYTHON_TESTS= >/dev/null
    return 0
  fi
  newest=$(for py in "${list[@]}"; do
             echo "$("$py" -c 'import sys; print("%d.%d.%d" % sys.version_info[:3])') $py"
           done | sort -V | tail -n 1 | cut -d ' ' -f 2-)
  cmake -S . -B "$tree" "-DHX_EXTRA_PYTHONS=$(IFS=';'; echo "${list[*]}")" "-DHX_EXTRA_PYTHON_TESTS=$newest" >/dev/null ||
    { echo "other pythons: $tree could not be configured for them"; return 1; }
  # One line a module (python-extra.txt), then whether it was built.
  local modules=() targets=() all=0 target dir version tests
  while read -r target dir version tests py; do
    echo "-- CPython $version ($py): $tree/$dir/"
    [ "$tests" = - ] || echo "-- CPython $version's C++ tests: $tree/$dir/hx_py_tests"
    mkdir -p "$tree/$dir"
    rm -f "$tree/$dir/built"
    if [ "$tests" = - ]; then tests=; fi
    modules+=("$dir $target $tests")
    targets+=("$target" $tests)
  done < "$tree/python-extra.txt"
  # All in one build; when it fails, each module again alone tells which
  # (the others are then up to date).
  cmake --build "$tree" -j "$jobs" --target "${targets[@]}" </dev/null || all=$?
  local line
  for line in "${modules[@]}"; do
    read -r dir target tests <<<"$line"
    if [ "$all" = 0 ] || cmake --build "$tree" -j "$jobs" --target "$target" $tests </dev/null >/dev/null 2>&1; then
      echo yes >"$tree/$dir/built"
    else
      echo no >"$tree/$dir/built"
    fi
  done
}

# One interpreter's run in its module's folder (its first argument): the
# module's pytest suite, or the README's example where pytest cannot run.
# Leaves there the log (test.log), how it ran (how) and its count (count).
# Debian's pytest is found through Debian's package folder when the
# interpreter has none of its own.
run_python() {
  local out=$1 py=$2 farm=$3 path='' status=0
  rm -f "$out/pytest.xml" "$out/how" "$out/count"
  "$py" -m pytest --version >/dev/null 2>&1 || path=/usr/lib/python3/dist-packages
  if PYTHONPATH=$path "$py" -m pytest --version >"$out/pytest-version.log" 2>&1; then
    echo pytest >"$out/how"
    env HX_MODULE_DIR="$out" HX_DEMO_FARM="$farm" PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$path \
      timeout 900 "$py" -m pytest -q -p no:cacheprovider -p no:warnings --junitxml="$out/pytest.xml" tests/python \
      >"$out/test.log" 2>&1 || status=$?
    /usr/bin/python3 tools/count_tests.py --pytest "$out/pytest.xml" --status "$status" >"$out/count" 2>/dev/null ||
      echo "0 passed, 1 failed, 0 skipped" >"$out/count"
  else
    echo "example (no pytest: $(grep -v '^ ' "$out/pytest-version.log" | tail -n 1))" >"$out/how"
    timeout 900 "$py" tools/readme_example.py "$out" "$farm" >"$out/test.log" 2>&1 || status=$?
    tail -n 1 "$out/test.log" | grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' >"$out/count" ||
      echo "0 passed, 1 failed, 0 skipped" >"$out/count"
    if [ "$status" != 0 ] && grep -q ' 0 failed,' "$out/count"; then
      echo "0 passed, 1 failed, 0 skipped" >"$out/count"
    fi
  fi
}

# The C++ tests of one module's folder (arguments: the tree, the folder, the
# jobs), through ctest in the tree by their label, the folder's name. Leaves
# in the folder ctest.log and its count (cxx-count).
run_cxx() {
  local tree=$1 dir=$2 jobs=$3 status=0
  rm -f "$tree/$dir/ctest.xml" "$tree/$dir/cxx-count"
  (cd "$tree" && ctest -L "^${dir//./\\.}\$" -j "$jobs" --no-tests=error --output-on-failure \
     --output-junit "$tree/$dir/ctest.xml") >"$tree/$dir/ctest.log" 2>&1 || status=$?
  /usr/bin/python3 tools/count_tests.py --ctest "$tree/$dir/ctest.xml" --status "$status" >"$tree/$dir/cxx-count" 2>/dev/null ||
    echo "0 passed, 1 failed, 0 skipped" >"$tree/$dir/cxx-count"
}

test_step() {
  local shown=$1 results=$2 jobs=${3:-$(nproc)} tree
  tree=$(cd "$shown" && pwd)
  : >"$results"
  local modules=() line dir version tests py
  while read -r _ dir version tests py; do modules+=("$dir $version $tests $py"); done < "$tree/python-extra.txt"
  if [ ${#modules[@]} = 0 ]; then
    echo "other pythons: none found beside Debian's /usr/bin/python3; nothing more to build or test"
    echo "other-pythons none found" >"$results"
    return 0
  fi
  for line in "${modules[@]}"; do
    read -r dir version tests py <<<"$line"
    [ "$(cat "$tree/$dir/built" 2>/dev/null)" = yes ] || continue
    run_python "$tree/$dir" "$py" "$tree/hx_demo_farm" &
    [ "$tests" = - ] || run_cxx "$tree" "$dir" "$jobs" &
  done
  wait

  local rc=0 how counted tested=() ways
  for line in "${modules[@]}"; do
    read -r dir version tests py <<<"$line"
    if [ "$(cat "$tree/$dir/built" 2>/dev/null)" != yes ]; then
      echo "CPython $version ($py): build FAILED"
      echo "python-$version build FAILED" >>"$results"
      tested+=("$version (build FAILED)")
      rc=1
      continue
    fi
    how=$(cat "$tree/$dir/how" 2>/dev/null || echo "not run")
    counted=$(cat "$tree/$dir/count" 2>/dev/null || echo "0 passed, 1 failed, 0 skipped")
    echo "CPython $version ($py), $how: $counted"
    case "$counted" in
      *" 0 failed,"*) ;;
      *) rc=1; echo "== CPython $version failed; the end of $shown/$dir/test.log:"; tail -n 60 "$tree/$dir/test.log" ;;
    esac
    echo "python-$version ${how%% *} $counted" >>"$results"
    ways=${how%% *}
    if [ "$tests" != - ]; then
      counted=$(cat "$tree/$dir/cxx-count" 2>/dev/null || echo "0 passed, 1 failed, 0 skipped")
      echo "CPython $version ($py), C++ tests (hx_py_tests): $counted"
      case "$counted" in
        *" 0 failed,"*) ;;
        *) rc=1; echo "== CPython $version's C++ tests failed; the end of $shown/$dir/ctest.log:"; tail -n 60 "$tree/$dir/ctest.log" ;;
      esac
      echo "python-$version hx_py_tests $counted" >>"$results"
      ways+=", hx_py_tests"
    fi
    tested+=("$version ($ways)")
  done
  echo "other pythons: built and tested ${tested[*]}; Debian's /usr/bin/python3 in the stages above"
  # Passed: the modules and test programs keep their code and still run,
  # but give back their debug information (the library's included).
  if [ "$rc" = 0 ]; then
    for line in "${modules[@]}"; do
      read -r dir _ <<<"$line"
      for f in "$tree/$dir"/_hx*.so "$tree/$dir/hx_py_tests"; do
        if [ -f "$f" ]; then strip --strip-debug "$f"; fi
      done
    done
  fi
  return "$rc"
}

case "${1:-}" in
  build) shift; build_step "$@" ;;
  test) shift; test_step "$@" ;;
  *) echo "usage: $0 build TREE [JOBS] | test TREE RESULTS [JOBS]" >&2; exit 2 ;;
esac
