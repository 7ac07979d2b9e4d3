"""The module at work against build/hx_demo_farm, the project's in-memory
stand-in for a supervisor on 127.0.0.1: local helpers, then a submission,
queries, commands, a modification, a job's output and a failure."""
import os
import subprocess
import sys

print("This talks to build/hx_demo_farm, the project's in-memory stand-in for a supervisor, "
      "not a real one: the stand-in starts with job 100 and hosts node01 and node02 loaded, "
      "so that the first queries have something to show.", flush=True)

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.join(here, "..", "build")
# The module is not installed anywhere: it is imported from the build tree.
sys.path.insert(0, os.path.join(build, "python"))

farm = subprocess.Popen([os.path.join(build, "hx_demo_farm")], stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE, text=True)
port = farm.stdout.readline().strip()
# "host:port"; a bare "host" would mean the supervisor port of /etc/hx.conf
# (50001 when it names none).
os.environ["HX_SUPERVISOR"] = "127.0.0.1:" + port

import _hx  # noqa: E402  (the supervisor is named before the first call)

try:
    print("module version", _hx.version())
    print("frames of 1-10x3:", _hx.rangesplit("1-10x3"))
    print("supervisor:", os.environ["HX_SUPERVISOR"])
    _hx.settimeout(10000)  # milliseconds
    print("time-out:", _hx.gettimeout(), "ms")

    for j in _hx.jobinfo(["id", "name", "user", "status"]):
        print("  job", j["id"], j["name"], j["user"], j["status"])
    print("hosts:", [h["name"] for h in _hx.hostinfo()])

    job = {"name": "comp", "cpus": 2, "agenda": [{"name": f} for f in _hx.rangesplit("1-4")]}
    submitted = _hx.submit([job], False)
    jobid = submitted[0]["id"]
    print("submitted:", [(j["id"], j["name"], len(j["agenda"])) for j in submitted])

    print("modify priority of", jobid, "->", _hx.modify({"priority": 10}, jobid))
    print("block", jobid, "->", _hx.command({"action": 210, "jobids": [str(jobid)]}))
    for j in _hx.jobinfo(["id", "name", "status", "priority"], {"user": "ana"}):
        print("  ana's job", j["id"], j["name"], j["status"], "priority", j["priority"])
    for log in _hx.stdout(["100"], 0, 4096):
        print("  stdout of", log["jobid"], repr(log["data"]))
    print("kill", jobid, "->", _hx.kill(jobid))
    for j in _hx.jobinfo(["id", "name", "status", "priority"]):
        print("  job", j["id"], j["name"], j["status"], "priority", j["priority"])

    # A failure: a host without a port goes to the configured supervisor
    # port, where nothing answers here. The module writes its line on
    # standard error; jobinfo() raises, and error() gives the cause.
    _hx.setsupervisor("127.0.0.1")
    try:
        _hx.jobinfo()
    except RuntimeError as e:
        print("jobinfo() raised RuntimeError:", repr(str(e)), "- error():", repr(_hx.error()))
    _hx.setsupervisor("")  # back to HX_SUPERVISOR
    print("jobs again:", [j["id"] for j in _hx.jobinfo()])
finally:
    farm.stdin.close()
    farm.wait()
