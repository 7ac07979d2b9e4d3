"""The README's first example, run as printed against the demonstration's
stand-in supervisor, so that the example cannot go stale."""
import os
import re
import subprocess
import sys

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def readme_example():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        section = f.read().split("### A first example", 1)[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def test_first_example_runs_as_printed(tmp_path):
    farm_path = os.environ.get("HX_DEMO_FARM")
    module_dir = os.environ.get("HX_MODULE_DIR")
    if not farm_path or not module_dir:
        pytest.skip("needs the build's stand-in and module (run through ctest)")
    # The example runs from the repository's root and imports from
    # build/python: here, a folder whose build/ is this build tree.
    os.symlink(os.path.dirname(os.path.abspath(module_dir)), tmp_path / "build")
    (tmp_path / "first.py").write_text(readme_example())
    farm = subprocess.Popen([farm_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = farm.stdout.readline().strip()
        env = dict(os.environ, HX_SUPERVISOR="127.0.0.1:" + port)
        run = subprocess.run([sys.executable, "first.py"], cwd=tmp_path, env=env,
                             capture_output=True, text=True, timeout=120)
    finally:
        farm.stdin.close()
        farm.wait(timeout=60)
    assert run.returncode == 0, run.stdout + run.stderr
    out = run.stdout.splitlines()
    # ana's job, the two hosts, then the new job through modify, command,
    # its output of four frames (the first line led by the job's id) and kill.
    assert len(out) > 2 and out[0].startswith("100 lighting "), out
    jobid = re.fullmatch(r"\['(\d+)'\]", out[2])
    assert jobid, out
    j = jobid.group(1)
    assert out[1:] == ["['node01', 'node02']", "['%s']" % j, "{'jobids': ['%s']}" % j,
                       "%s frame 1 done" % j, "frame 2 done", "frame 3 done", "frame 4 done",
                       "", "['%s']" % j], out
