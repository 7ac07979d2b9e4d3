"""The README's first example, run as printed against the demonstration's
stand-in supervisor, so that the example cannot go stale."""
import os
import re
import shlex
import socket
import subprocess
import sys

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def readme_example():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        section = f.read().split("### A first example", 1)[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def readme_shell():
    """The indented shell lines that start the stand-in and run first.py,
    with this interpreter in place of Debian's (the same one under ctest's
    default build; another one where the module was built for another)."""
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        blocks = re.findall(r"(?:^    .*\n)+", f.read(), re.M)
    block = next(b for b in blocks if "hx_demo_farm > farm.port" in b)
    assert "/usr/bin/python3 first.py" in block, block
    block = block.replace("/usr/bin/python3 first.py", shlex.quote(sys.executable) + " first.py")
    return "".join(line[4:] + "\n" for line in block.splitlines())


def example_folder(tmp_path):
    """A folder like the repository's root for the example: its build/
    holds the module under test (as build/python, wherever the build put it)
    and the build's stand-in, and first.py holds the example."""
    farm_path = os.environ.get("HX_DEMO_FARM")
    module_dir = os.environ.get("HX_MODULE_DIR")
    if not farm_path or not module_dir:
        pytest.skip("needs the build's stand-in and module (run through ctest)")
    (tmp_path / "build").mkdir()
    os.symlink(os.path.abspath(module_dir), tmp_path / "build" / "python")
    os.symlink(os.path.abspath(farm_path), tmp_path / "build" / "hx_demo_farm")
    (tmp_path / "first.py").write_text(readme_example())
    return farm_path


def test_shell_lines_run_again_in_the_same_folder(tmp_path):
    # A second run finds the first run's farm.port: it must still wait for
    # its own stand-in's port.
    example_folder(tmp_path)
    env = {k: v for k, v in os.environ.items() if k != "HX_SUPERVISOR"}
    for attempt in (1, 2):
        run = subprocess.run(["bash", "-c", readme_shell()], cwd=tmp_path, env=env,
                             capture_output=True, text=True, timeout=120)
        assert run.returncode == 0, (attempt, run.stdout + run.stderr)
        assert run.stdout.startswith("100 lighting "), (attempt, run.stdout + run.stderr)


def test_first_example_runs_as_printed(tmp_path):
    farm_path = example_folder(tmp_path)
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


FAILURE_PROBE = """
import sys
sys.path.insert(0, sys.argv[1])
import _hx
_hx.settimeout(1000)
calls = {"jobinfo": lambda: _hx.jobinfo(["id"], {}), "hostinfo": lambda: _hx.hostinfo(),
         "submit": lambda: _hx.submit([{"name": "x", "agenda": [{"name": "1"}]}], False)}
try:
    print(repr(calls[sys.argv[2]]()))
except RuntimeError as e:
    print("RuntimeError", str(e))
print(_hx.error())
"""


@pytest.mark.parametrize("function,supervisor,result,cause,stderr_line", [
    ("jobinfo", None, "RuntimeError unable to contact supervisor.", "unable to contact supervisor.",
     "ERROR: unable to contact supervisor."),
    ("jobinfo", "refused", "RuntimeError unable to contact supervisor.", "unable to contact supervisor.",
     "ERROR: unable to contact supervisor."),
    ("jobinfo", "silent", "RuntimeError unable to contact supervisor.", "unable to contact supervisor.",
     "ERROR: unable to contact supervisor."),
    ("hostinfo", "refused", "[]", "unable to contact supervisor.", None),
    ("submit", None, "False", "unable to contact supervisor.", None),
    ("submit", "refused", "False", "unable to connect to host", None),
    ("submit", "silent", "False", "select read timeout", None),
])
def test_failures_show_as_the_readme_says(function, supervisor, result, cause, stderr_line):
    module_dir = os.environ.get("HX_MODULE_DIR")
    if not module_dir:
        pytest.skip("needs the build's module (run through ctest)")
    if supervisor is None and os.path.exists("/etc/hx.conf"):
        pytest.skip("this machine's /etc/hx.conf may name a supervisor")
    env = {k: v for k, v in os.environ.items() if k not in ("HX_SUPERVISOR", "HX_DOMAIN")}
    # A refused port: bound, never listened on; a silent one: listening,
    # never answering (the connection waits in the backlog).
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        if supervisor == "silent":
            sock.listen(8)
        if supervisor is not None:
            env["HX_SUPERVISOR"] = "127.0.0.1:%d" % sock.getsockname()[1]
        run = subprocess.run([sys.executable, "-c", FAILURE_PROBE, module_dir, function], env=env,
                             capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[-2:] == [result, cause], run.stdout
    errors = run.stderr.splitlines()
    if stderr_line is None:
        assert not any(line.startswith("ERROR") for line in errors), errors
    else:
        assert stderr_line in errors, errors
