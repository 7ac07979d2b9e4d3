"""Runs the README's first example, as printed, against the demonstration's
stand-in supervisor, with the module of one build folder, as the README says
to run it: from a folder like the repository's root, the module's folder as
build/python (Debian's interpreter's), or, for a further interpreter's
folder build/python-<major>.<minor>, that folder on PYTHONPATH.

tests/python/test_readme.py runs the example through the functions here. As
a program, for an interpreter that has no pytest:

    python3.x tools/readme_example.py <module folder> <stand-in program>

imports the module from its folder, then runs the example under the same
interpreter; its last line is "N passed, N failed, 0 skipped" and its exit
status 0 only when both passed.
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def readme():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        return f.read()


def example():
    """The Python text of the first example."""
    section = readme().split("### A first example", 1)[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def shell_lines(python):
    """The indented shell lines that start the stand-in and run first.py,
    with `python` in place of Debian's interpreter."""
    blocks = re.findall(r"(?:^    .*\n)+", readme(), re.M)
    block = next(b for b in blocks if "hx_demo_farm > farm.port" in b)
    if "/usr/bin/python3 first.py" not in block:
        raise ValueError("the README's shell lines no longer run /usr/bin/python3 first.py:\n" + block)
    block = block.replace("/usr/bin/python3 first.py", shlex.quote(python) + " first.py")
    return "".join(line[4:] + "\n" for line in block.splitlines())


def make_folder(root, module_dir, farm_path):
    """Makes `root` like the repository's root for the example: its build/
    holds the module's folder under its own name (python, python-3.13, ...)
    and the stand-in, and first.py holds the example. Gives the environment
    the example runs in (a further interpreter's folder on PYTHONPATH)."""
    build = os.path.join(root, "build")
    os.makedirs(build, exist_ok=True)
    name = os.path.basename(os.path.normpath(module_dir))
    os.symlink(os.path.abspath(module_dir), os.path.join(build, name))
    os.symlink(os.path.abspath(farm_path), os.path.join(build, "hx_demo_farm"))
    with open(os.path.join(root, "first.py"), "w", encoding="utf-8") as f:
        f.write(example())
    env = {k: v for k, v in os.environ.items() if k != "HX_SUPERVISOR"}
    if name != "python":
        env["PYTHONPATH"] = os.path.join("build", name)
    return env


def run(root, env, farm_path, python=sys.executable, timeout=120):
    """Runs first.py in `root` against a stand-in of its own; gives the
    finished process (its output as text)."""
    farm = subprocess.Popen([farm_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = farm.stdout.readline().strip()
        env = dict(env, HX_SUPERVISOR="127.0.0.1:" + port)
        return subprocess.run([python, "first.py"], cwd=root, env=env, capture_output=True, text=True,
                              timeout=timeout)
    finally:
        farm.stdin.close()
        farm.wait(timeout=60)


def wrong_output(lines):
    """Empty when the example's output is the one the stand-in gives, else
    what differs. The output: ana's job, the two hosts, then the new job through modify,
    command, its output of four frames (the first line led by the job's id)
    and kill."""
    if len(lines) < 3 or not lines[0].startswith("100 lighting "):
        return "the first line is not ana's job 100: %r" % lines
    jobid = re.fullmatch(r"\['(\d+)'\]", lines[2])
    if not jobid:
        return "the third line is not the modified job's id: %r" % lines
    j = jobid.group(1)
    want = ["['node01', 'node02']", "['%s']" % j, "{'jobids': ['%s']}" % j, "%s frame 1 done" % j,
            "frame 2 done", "frame 3 done", "frame 4 done", "", "['%s']" % j]
    if lines[1:] != want:
        return "got %r, want %r after the first line" % (lines, want)
    return ""


def main():
    module_dir, farm_path = (os.path.abspath(a) for a in sys.argv[1:3])
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
    with tempfile.TemporaryDirectory() as root:
        env = make_folder(root, module_dir, farm_path)
        done = run(root, env, farm_path, timeout=300)
    wrong = "status %d" % done.returncode if done.returncode != 0 else wrong_output(done.stdout.splitlines())
    if not wrong:
        print("README example: ok")
        passed += 1
    else:
        print("README example: FAILED,", wrong)
        print(done.stdout + done.stderr)
        failed += 1
    print("%d passed, %d failed, 0 skipped" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
