"""The module at work: local helpers, then a submission, a query and a
command against an in-memory supervisor on 127.0.0.1 (build/hx_demo_farm)."""
import os
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.join(here, "..", "build")
sys.path.insert(0, os.path.join(build, "python"))

farm = subprocess.Popen([os.path.join(build, "hx_demo_farm")], stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE, text=True)
port = farm.stdout.readline().strip()
os.environ["HX_SUPERVISOR"] = "127.0.0.1:" + port

import _hx  # noqa: E402  (the supervisor is named before the first call)

try:
    print("module version", _hx.version())
    print("frames of 1-10x3:", _hx.rangesplit("1-10x3"))
    print("supervisor:", os.environ["HX_SUPERVISOR"])

    job = {"name": "comp", "cpus": 2, "agenda": [{"name": f} for f in _hx.rangesplit("1-4")]}
    submitted = _hx.submit([job], False)
    print("submitted:", [(j["id"], j["name"], len(j.get("agenda", []))) for j in submitted])

    for j in _hx.jobinfo({"fields": ["id", "name", "status", "user"]}):
        print("  job", j["id"], j["name"], j["status"])
    print("hosts:", [h["name"] for h in _hx.hostinfo()])

    print("kill", submitted[0]["id"], "->", _hx.kill(submitted[0]["id"]))
    for j in _hx.jobinfo():
        print("  job", j["id"], j["name"], j["status"])
finally:
    farm.stdin.close()
    farm.wait()
