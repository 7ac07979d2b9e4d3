"""Every module function called many times keeps memory flat: the Python
objects it makes (tracemalloc) and the library's own allocations (resident
size; skipped under AddressSanitizer, whose quarantine holds freed memory)."""
import atexit
import gc
import os
import shutil
import tempfile
import tracemalloc

import pytest

import _hx
from test_module import METHODS

# A job file for the functions that read one. Its texts are longer than one
# character throughout: the interpreter shares one object per one-character
# text (and per small int), so a leaked reference to such a value would show
# in no count of memory.
JOB_DIR = tempfile.mkdtemp(prefix="hxleaks")
atexit.register(shutil.rmtree, JOB_DIR, True)
JOB_FILE = os.path.join(JOB_DIR, "job.xml")
_hx.archivejob(JOB_FILE, {
    "name": "a job of some name", "user": "somebody", "notes": "notes of some length",
    "package": {"first key": ["a value", None], "second key": "another value"},
    "env": {"SOME_NAME": "some value"}, "cwd": "/some/directory",
    "agenda": [{"name": "frame %d" % i, "data": "data of frame %d" % i} for i in range(5)],
    "subjobs": [{"id": 1, "data": "subjob data"}], "callbacks": [{"code": "some code", "language": "python"}],
    "pathmap": {"directmap": {"/from/here": "/to/there"}}}, 2)

# One call per function: the arguments reach the function's deepest path that
# this build has (errors count too; their objects must go as well). Texts
# that come back are longer than one character, as above.
CALLS = {
    "rangesplit": ("1-50", "shot[01-20]"),
    "rangechunk": (3, "1-100", "7"),
    "CONST": ("HX_COMMAND_RETIRE_WORK",),
    "encryptpassword": ("a password of some length",),
    "updatepassword": ("a", "b", "c", "d"),
    "waitfor": ("event", "5"),
    "trigger": (None,),
    "configDictToStr": ({"alpha": "first value", "beta": 22, "gamma": "\udcff and more"},
                        "alpha=0\n# gamma\ndelta=1\n"),
    "configStrToDict": ("alpha=first value\nbeta = 22 # comment\n[section]\ngamma=third value\n",),
    "packageStrToDict": ("(=(alpha=one)(beta=(=xyz)(=(gamma=\u00e9t\u00e9))))",),
    "convertpath": ("/PROJ/x", {"directmap": {"/proj": "/mnt/p", "C:/": "/c/"}}),
    # Commands, history and modify read every argument before the last one
    # stops them short of the network.
    "kill": ({"user": ("a", None, ">5"), "n": {"x": 1}}, "12", "3.1-4", 1.5),
    "killwork": ({"jobids": "12", "workids": ["1:f", 2**40], "filters": [{"name": "a", "fields": [{"value": ">1"}]}]},),
    "hist": ({"user": "a"}, "1-3", 2**40),
    "modify": ({"priority": "3", "env": {"A": "b"}, "package": {"x": [1, None]}, "groups": "ab"}, 1.5),
    "stdout": (["12", "13.1", 14], 0, 10),
    "command": (5,),
    # A whole job read from its dict; format 3 writes no file.
    "archivejob": ("/nonexistent/job", {
        "name": "j", "sourcehost": "10.0.0.5", "package": {"a": [1, None]}, "env": {"A": "b"},
        "agenda": [{"name": str(i), "resultpackage": {"r": i}} for i in range(5)],
        "subjobs": [{"id": 1}], "callbacks": [{"language": "python"}], "cpustally": {"running": 2},
        "children": [{"name": "c", "agenda": [{"name": "1"}]}]}, 3),
    "recoverjob": (JOB_FILE,),
    "submit": ({"name": "not in a list"}, True),
    # The job process in development mode (the packed assignment sets only
    # its develop flag): requests and reports stay in the process.
    "_assignment": (b"\x00\x00\x00\x01\x00\x09\x00\x06\x01", 5),
    "_setjob": (JOB_FILE,),
    "reportwork": ({"name": "1", "status": "running", "resultpackage": {"r": [1]}},),
    "reportjob": ({"status": "running", "package": ["x"]},),
}


# Functions that would talk to a supervisor with any arguments: their leak
# checks run against the fake supervisor in the C++ module tests.
NETWORK = {"getusers", "getresources", "currenttime", "supervisorconfig", "checkpassword",
           "getpipelinevariables", "bannedworkers", "jobtagvalues"}
# Functions that wait for hours of retries when no worker answers.
BLOCKING = {"_init_assign"}


# Functions of the job process, called in development mode only (on the job
# file): with a worker's assignment they would wait for the supervisor.
JOB_PROCESS = {"requestwork", "reportwork", "reportjob", "workerpathmap", "jobobj", "subjobobj"}


def call(name):
    if name in JOB_PROCESS:
        _hx._setjob(JOB_FILE)
    try:
        getattr(_hx, name)(*CALLS.get(name, ()))
    except (NotImplementedError, TypeError, RuntimeError, OSError):
        pass


def rss_pages():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1])


def traced_growth(name, calls):
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(calls):
            call(name)
        gc.collect()
        return tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()


@pytest.mark.parametrize("name", [n for n, _ in METHODS if n not in NETWORK | BLOCKING])
def test_python_objects_stay_flat(name):
    for _ in range(200):
        call(name)
    gc.collect()
    # A leak grows both windows; the interpreter's own tables (the interned
    # texts) may grow once, in either.
    grown = min(traced_growth(name, 1000), traced_growth(name, 1000))
    assert grown < 4096, f"{name}: {grown} bytes kept after 1000 calls, twice"


@pytest.mark.skipif(os.environ.get("HX_SANITIZED") == "1", reason="quarantine keeps freed memory resident")
def test_resident_size_stays_flat():
    names = [n for n, _ in METHODS if n not in NETWORK | BLOCKING]
    for _ in range(500):
        for n in names:
            call(n)
    before = rss_pages()
    for _ in range(5000):
        for n in names:
            call(n)
    grown_kib = (rss_pages() - before) * os.sysconf("SC_PAGE_SIZE") // 1024
    # 465000 calls: one leaked byte each would show as about 450 KiB.
    assert grown_kib < 256, f"resident size grew by {grown_kib} KiB"
