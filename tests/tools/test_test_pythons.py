"""The further interpreters' stage of tools/test.sh (tools/test_pythons.sh),
its test step run on a tree of one module whose interpreter is a stand-in:
the stage fails exactly when a run failed, and counts what ran."""
import os
import stat
import subprocess

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

# The stand-in interpreter: `-m pytest --version` tells whether it has
# pytest; a pytest run writes a report of TESTS tests, FAILURES of them
# failed (none when TESTS is empty), and exits STATUS; the README's example
# prints its count line and exits STATUS.
STAND_IN = """#!/bin/sh
case "$1" in
  -m)
    if [ "$3" = --version ]; then [ "{pytest}" = yes ]; exit; fi
    for a; do case "$a" in --junitxml=*) report=${{a#--junitxml=}};; esac; done
    if [ -n "{tests}" ]; then
      echo '<testsuites><testsuite tests="{tests}" failures="{failures}" errors="0" skipped="1"/></testsuites>' >"$report"
    fi
    exit {status} ;;
  *readme_example.py)
    echo "{example}"
    exit {status} ;;
esac
exit 99
"""

# The C++ tests, as ctest finds them in the tree by their label.
CTEST_FILE = """add_test(python-9.9/Pass /bin/true)
add_test(python-9.9/Other /bin/true)
add_test(python-9.9/Last {last})
set_tests_properties(python-9.9/Pass python-9.9/Other python-9.9/Last PROPERTIES LABELS python-9.9)
add_test(unlabelled /bin/false)
"""


@pytest.mark.parametrize("row", [
    # what ran, built, pytest, tests, failures, status, example, C++ last, stage status, lines
    ("five failed", "yes", "yes", 7, 5, 1, "", None, 1, ["pytest 1 passed, 5 failed, 1 skipped"]),
    ("all passed", "yes", "yes", 7, 0, 0, "", None, 0, ["pytest 6 passed, 0 failed, 1 skipped"]),
    ("failed after its report", "yes", "yes", 7, 0, 1, "", None, 1, ["pytest 6 passed, 1 failed, 1 skipped"]),
    ("crashed, no report", "yes", "yes", "", 0, 139, "", None, 1, ["pytest 0 passed, 1 failed, 0 skipped"]),
    ("example failed", "yes", "no", "", 0, 1, "1 passed, 1 failed, 0 skipped", None, 1,
     ["example 1 passed, 1 failed, 0 skipped"]),
    ("example ended badly", "yes", "no", "", 0, 1, "2 passed, 0 failed, 0 skipped", None, 1,
     ["example 0 passed, 1 failed, 0 skipped"]),
    ("example passed", "yes", "no", "", 0, 0, "2 passed, 0 failed, 0 skipped", None, 0,
     ["example 2 passed, 0 failed, 0 skipped"]),
    ("not built", "no", "yes", 7, 0, 0, "", None, 1, ["build FAILED"]),
    ("C++ test failed", "yes", "yes", 7, 0, 0, "", "/bin/false", 1,
     ["pytest 6 passed, 0 failed, 1 skipped", "hx_py_tests 2 passed, 1 failed, 0 skipped"]),
    ("C++ tests passed", "yes", "yes", 7, 0, 0, "", "/bin/true", 0,
     ["pytest 6 passed, 0 failed, 1 skipped", "hx_py_tests 3 passed, 0 failed, 0 skipped"]),
], ids=lambda row: row[0])
def test_the_stage_fails_when_a_run_fails_and_counts_it(tmp_path, row):
    _, built, has_pytest, tests, failures, status, example, last, want_status, want_groups = row
    stand_in = tmp_path / "python9.9"
    stand_in.write_text(STAND_IN.format(pytest=has_pytest, tests=tests, failures=failures, status=status,
                                        example=example))
    stand_in.chmod(stand_in.stat().st_mode | stat.S_IXUSR)
    tree = tmp_path / "tree"
    (tree / "python-9.9").mkdir(parents=True)
    (tree / "python-9.9" / "built").write_text(built + "\n")
    cxx = "-"
    if last is not None:
        cxx = "hx_py_tests_9.9"
        (tree / "CTestTestfile.cmake").write_text(CTEST_FILE.format(last=last))
    (tree / "python-extra.txt").write_text("_hx_9.9 python-9.9 9.9.9 %s %s\n" % (cxx, stand_in))
    results = tmp_path / "results"
    run = subprocess.run(["bash", os.path.join(ROOT, "tools", "test_pythons.sh"), "test", str(tree), str(results), "2"],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == want_status, run.stdout + run.stderr
    assert results.read_text().splitlines() == ["python-9.9.9 " + g for g in want_groups], run.stdout
