"""The process around the module: a script that ends while daemon threads
are inside calls, and Ctrl-C while a call waits. Every script runs in a
child interpreter with a bound, so that an abort or a hang fails one row."""
import os
import signal
import subprocess
import threading
import time

import pytest

from conftest import child_command, run_child, said

# Scripts that end (with status 7) while daemon threads are inside calls
# that released the interpreter lock, or are about to take it back.
EXITS = [
    ("twelve threads on a refused supervisor", """
        import threading
        started = threading.Semaphore(0)
        def loop():
            _hx.kill(1)
            _hx.hostinfo()
            started.release()
            while True:
                _hx.kill(1)
                _hx.hostinfo()
        for _ in range(12):
            threading.Thread(target=loop, daemon=True).start()
        for _ in range(12):
            started.acquire()
        sys.exit(7)
    """),
    ("one thread in jobinfo on a silent supervisor", """
        import os, socket, threading
        listener = socket.create_server(("127.0.0.1", 0))
        os.environ["HX_SUPERVISOR"] = "127.0.0.1:%d" % listener.getsockname()[1]
        _hx.settimeout(60000)
        threading.Thread(target=_hx.jobinfo, daemon=True).start()
        conn, _ = listener.accept()
        conn.recv(1)  # the request is under way: the thread waits for its answer
        sys.exit(7)
    """),
]


@pytest.mark.parametrize("name,code", EXITS, ids=[n for n, _ in EXITS])
def test_script_ends_with_its_own_status_while_threads_are_inside_calls(name, code):
    for run in range(20):
        status, _, errors = run_child(code)
        assert status == 7, f"{name}, run {run}: status {status}\n{errors}"


# Calls that wait on a supervisor that never answers them (the first
# `silent` requests), SIGINT from this process while they wait, then a call
# that must reach the supervisor again; the tags the supervisor received.
INTERRUPTED = [
    ("jobinfo", 1, "_hx.jobinfo()", "_hx.jobinfo()", [100, 100]),
    ("hostinfo", 1, "_hx.hostinfo()", "_hx.hostinfo()", [101, 101]),
    # Registration (1100), the unregistration as the wait ends (1102), and
    # a trigger (803) after it.
    ("waitfor", 0, "_hx.waitfor('never')", "_hx.trigger('x')", [1100, 1102, 803]),
]


@pytest.mark.parametrize("name,silent,call,after,tags", INTERRUPTED, ids=[r[0] for r in INTERRUPTED])
def test_sigint_ends_a_wait_with_keyboard_interrupt(fake_supervisor, tmp_path, name, silent, call, after, tags):
    fake = fake_supervisor(silent)
    command, env = child_command(f"""
        import signal
        _hx.settimeout(60000)
        try:
            {call}
            say("returned")
        except KeyboardInterrupt:
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            say("KeyboardInterrupt")
        try:
            {after}
        except Exception:
            pass
    """, HX_SUPERVISOR="127.0.0.1:%d" % fake.port)
    with open(tmp_path / "stderr", "w+") as errors:
        child = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=errors, text=True)
        lines, ended = [], threading.Event()

        def read_lines():
            for line in child.stdout:
                lines.append(line)
                ended.set()

        reader = threading.Thread(target=read_lines, daemon=True)
        reader.start()
        try:
            assert fake.taken.wait(60), f"{name}: no request came"
            # Sent again until the call ends: a signal that lands just
            # before the wait begins is seen by the interpreter but wakes no
            # wait.
            # The call's own time-out is 60 s: one that ends within half of
            # it ended by the signal, however loaded the machine.
            first = time.monotonic()
            child.send_signal(signal.SIGINT)
            while not ended.wait(0.25) and time.monotonic() - first < 30:
                child.send_signal(signal.SIGINT)
            took = time.monotonic() - first
            if ended.is_set():
                child.wait(60)
        finally:
            if child.poll() is None:
                child.kill()
                child.wait()
        reader.join()
        errors.seek(0)
        assert took < 30, f"{name}: still waiting {took:.1f} s after SIGINT"
        assert (child.returncode, said("".join(lines))) == (0, ["KeyboardInterrupt"]), f"{name}:\n{errors.read()[-3000:]}"
    assert fake.tags == tags, name


# A periodic signal whose handler does not raise (an interval timer, as
# programs use for progress output) while waitfor waits: each signal resumes
# the wait for what is left of it, so waitfor(name, 1) returns after about
# a second, not never.
@pytest.mark.parametrize("period", [0.05, 0.4])
def test_waitfor_returns_within_its_time_under_a_periodic_signal(fake_supervisor, period):
    fake = fake_supervisor()
    command, env = child_command(f"""
        import signal, time
        ticks = []
        signal.signal(signal.SIGALRM, lambda *_: ticks.append(1))
        signal.setitimer(signal.ITIMER_REAL, {period}, {period})
        start = time.monotonic()
        result = _hx.waitfor('never', 1)
        took = time.monotonic() - start
        signal.setitimer(signal.ITIMER_REAL, 0)
        say(result, took < 30, len(ticks) > 1)
    """, HX_SUPERVISOR="127.0.0.1:%d" % fake.port)
    try:
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        pytest.fail(f"period {period}: waitfor(name, 1) still waiting after 60 s")
    assert said(result.stdout) == ["1 True True"], f"period {period}:\n{result.stderr[-3000:]}"
    assert fake.tags == [1100, 1102], f"period {period}"
