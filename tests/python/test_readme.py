"""The README's first example, run as printed against the demonstration's
stand-in supervisor, so that the example cannot go stale."""
import importlib.util
import os
import socket
import subprocess
import sys

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def load_runner():
    """tools/readme_example.py, the runner the further interpreters' stage
    of tools/test.sh uses where pytest cannot run."""
    spec = importlib.util.spec_from_file_location("readme_example", os.path.join(ROOT, "tools", "readme_example.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


readme_example = load_runner()


def example_folder(tmp_path):
    """A folder like the repository's root for the example, holding the
    module under test where the README says it lands; gives the example's
    environment and the stand-in."""
    farm_path = os.environ.get("HX_DEMO_FARM")
    module_dir = os.environ.get("HX_MODULE_DIR")
    if not farm_path or not module_dir:
        pytest.skip("needs the build's stand-in and module (run through ctest)")
    return readme_example.make_folder(str(tmp_path), module_dir, farm_path), farm_path


def test_shell_lines_run_again_in_the_same_folder(tmp_path):
    # A second run finds the first run's farm.port: it must still wait for
    # its own stand-in's port. This interpreter runs first.py in place of
    # Debian's (the same one under ctest's default build).
    env, _ = example_folder(tmp_path)
    for attempt in (1, 2):
        run = subprocess.run(["bash", "-c", readme_example.shell_lines(sys.executable)], cwd=tmp_path, env=env,
                             capture_output=True, text=True, timeout=120)
        assert run.returncode == 0, (attempt, run.stdout + run.stderr)
        assert run.stdout.startswith("100 lighting "), (attempt, run.stdout + run.stderr)


def test_first_example_runs_as_printed(tmp_path):
    env, farm_path = example_folder(tmp_path)
    run = readme_example.run(str(tmp_path), env, farm_path)
    assert run.returncode == 0, run.stdout + run.stderr
    assert readme_example.wrong_output(run.stdout.splitlines()) == "", run.stdout + run.stderr


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
