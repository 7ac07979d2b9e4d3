"""Counts a test run from its JUnit reports and prints "N passed, N failed,
N skipped".

    count_tests.py --ctest CTEST_XML [--pytest PYTEST_XML] [--status STATUS]
    count_tests.py --pytest PYTEST_XML --status STATUS

With ctest's report, each test case counts once, but the module's pytest run
(python_module), which pytest's own report replaces, one test per case.
STATUS is the exit status of the run (ctest's, or pytest's when its report
comes alone): a run that failed with no failure in its report (a crash at
exit, no report at all) counts one failure. A report that cannot be read
(ctest's missing, either malformed) ends this program with a status other
than 0 and prints nothing: the caller says what that means.
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ET


def count_pytest(report, failed_run):
    """(passed, failed, skipped) of pytest's report; failed_run: whether
    the run itself failed."""
    passed = failed = skipped = 0
    if os.path.exists(report):
        for suite in ET.parse(report).getroot().iter("testsuite"):
            n = int(suite.get("tests", 0))
            f = int(suite.get("failures", 0)) + int(suite.get("errors", 0))
            s = int(suite.get("skipped", 0))
            passed += n - f - s
            failed += f
            skipped += s
    if failed_run and failed == 0:
        failed = 1
    return passed, failed, skipped


def count_ctest(report, pytest_report, failed_run):
    passed = failed = skipped = 0
    for case in ET.parse(report).getroot().iter("testcase"):
        status = case.get("status")
        if case.get("name") == "python_module" and status != "notrun" and pytest_report \
                and os.path.exists(pytest_report):
            p, f, s = count_pytest(pytest_report, status == "fail")
            passed, failed, skipped = passed + p, failed + f, skipped + s
        elif status == "run":
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
    if failed_run and failed == 0:
        failed = 1
    return passed, failed, skipped


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--ctest")
    parser.add_argument("--pytest")
    parser.add_argument("--status")
    args = parser.parse_args()
    if args.ctest:
        counted = count_ctest(args.ctest, args.pytest, args.status not in (None, "0"))
    elif args.pytest and args.status is not None:
        counted = count_pytest(args.pytest, args.status != "0")
    else:
        parser.error("give --ctest, or --pytest with --status")
    print("%d passed, %d failed, %d skipped" % counted)


if __name__ == "__main__":
    sys.exit(main())
