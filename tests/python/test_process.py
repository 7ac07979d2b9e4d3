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
# the wait for what is left of it, and the handler's time counts, so
# waitfor(name, 1) returns after a second or two, not never, also when the
# handler works for most of the timer's period.
@pytest.mark.parametrize("period,work", [(0.05, 0), (0.4, 0), (0.001, 0.0006)])
def test_waitfor_returns_within_its_time_under_a_periodic_signal(fake_supervisor, period, work):
    fake = fake_supervisor()
    command, env = child_command(f"""
        import signal, time
        ticks = []
        def tick(*_):
            ticks.append(1)
            until = time.perf_counter() + {work}
            while time.perf_counter() < until:
                pass
        signal.signal(signal.SIGALRM, tick)
        signal.setitimer(signal.ITIMER_REAL, {period}, {period})
        start = time.monotonic()
        result = _hx.waitfor('never', 1)
        took = time.monotonic() - start
        signal.setitimer(signal.ITIMER_REAL, 0)
        say(result, took < 10, len(ticks) > 1)
    """, HX_SUPERVISOR="127.0.0.1:%d" % fake.port)
    try:
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        pytest.fail(f"period {period}: waitfor(name, 1) still waiting after 60 s")
    assert said(result.stdout) == ["1 True True"], f"period {period}:\n{result.stderr[-3000:]}"
    assert fake.tags == [1100, 1102], f"period {period}"


# A flight check written as users write it (a shell that forks for its
# command, no exec) whose request a signal handler ends by raising, once the
# command runs: the call raises, and nothing the check started is left
# holding this process's pipe. The child runs in a session of its own (no
# terminal's job); its output is read to its end.
FLIGHT_CHECKS = [
    ("lone command", "sleep 30"),
    ("compound command", "sleep 30; sleep 30"),
]


@pytest.mark.parametrize("name,check", FLIGHT_CHECKS, ids=[n for n, _ in FLIGHT_CHECKS])
def test_interrupted_flight_check_ends_whole(tmp_path, name, check):
    job = tmp_path / "job.xml"
    command, env = child_command(f"""
        import os, signal
        _hx.archivejob({str(job)!r}, {{"name": "j", "agenda": [{{"name": "1"}}],
                                       "agenda_postflights": {check!r}}}, 2)
        _hx._setjob({str(job)!r})

        def children(pid):
            try:
                with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                    return [int(p) for p in f.read().split()]
            except OSError:
                return []

        def command_runs():
            for shell in children(os.getpid()):
                for started in children(shell):
                    try:
                        with open("/proc/%d/comm" % started) as f:
                            if f.read().strip() == "sleep":
                                return True
                    except OSError:
                        pass
            return False

        def tick(*_):
            if command_runs():
                raise KeyboardInterrupt
        signal.signal(signal.SIGALRM, tick)
        signal.setitimer(signal.ITIMER_REAL, 0.02, 0.02)
        try:
            _hx.reportwork({{"name": "1", "status": "done"}})
            say("returned")
        except KeyboardInterrupt:
            say("KeyboardInterrupt")
        signal.setitimer(signal.ITIMER_REAL, 0)
    """)
    child = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             start_new_session=True)
    lines, eof = [], threading.Event()

    def read_lines():
        for line in child.stdout:
            lines.append(line)
        eof.set()

    reader = threading.Thread(target=read_lines, daemon=True)
    reader.start()
    try:
        child.wait(60)
        # A sleep of the check left running would hold the pipe for 30 s.
        held = not eof.wait(15)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        # Left over only when the row fails: the check's processes.
        for line in lines:
            if "child(" in line:
                try:
                    os.killpg(int(line.split("child(")[1].split(")")[0]), signal.SIGKILL)
                except (OSError, ValueError):
                    pass
        try:
            os.killpg(child.pid, signal.SIGKILL)
        except OSError:
            pass
    reader.join(60)
    output = "".join(lines)
    assert not held, f"{name}: the pipe was held 15 s after the call ended\n{output[-3000:]}"
    assert said(output) == ["KeyboardInterrupt"], f"{name}:\n{output[-3000:]}"


# archivejob on a disk without room for the new archive (512 KiB with
# 100 KiB free, an old archive of 60 KiB, a new one of 308 KiB) gives 0 and
# leaves the old archive byte for byte, whether the file is replaced or
# written in place. The child mounts the disk in a mount namespace of its
# own.
FULL_DISK = [
    ("plain file", ""),
    ("user attribute", "os.setxattr(path, 'user.origin', b'kept')"),
    ("folder with a default access control list", "os.setxattr(disk, 'system.posix_acl_default', struct.pack("
     "'<I' + 'HHI' * 5, 2, 1, 7, NO_ID, 2, 7, 65534, 4, 5, NO_ID, 0x10, 7, NO_ID, 0x20, 5, NO_ID))"),
    ("second hard link", "os.link(path, path + '.2')"),
]


@pytest.mark.parametrize("name,setup", FULL_DISK, ids=[n for n, _ in FULL_DISK])
def test_archivejob_on_a_full_disk_keeps_the_old_archive(tmp_path, name, setup):
    command, env = child_command(f"""
        import os, struct
        NO_ID = 0xffffffff
        disk = {str(tmp_path)!r}
        path = disk + "/job"
        if _hx.archivejob(path, {{"name": "o" * 60000}}, 1) <= 0:
            sys.exit(77)
        with open(path, "rb") as f:
            old = f.read()
        {setup}
        room = os.statvfs(disk)
        with open(disk + "/fill", "wb") as f:
            f.write(b"z" * (room.f_bavail * room.f_frsize - 100 * 1024))
        result = _hx.archivejob(path, {{"name": "n" * 308000}}, 1)
        with open(path, "rb") as f:
            say(result, f.read() == old)
    """)
    mounted = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
               'mount -t tmpfs -o size=512k hxfull "$0" 2>/dev/null || exit 78; exec "$@"', str(tmp_path)]
    try:
        result = subprocess.run(mounted + command, env=env, capture_output=True, text=True, timeout=60)
    except FileNotFoundError:
        pytest.skip("no unshare command")
    if result.returncode in (77, 78) or (result.returncode != 0 and "unshare" in result.stderr):
        pytest.skip(f"{name}: cannot make a small disk here\n{result.stderr[-500:]}")
    assert said(result.stdout)[-1:] == ["0 True"], f"{name}:\n{result.stdout[-1000:]}{result.stderr[-3000:]}"

# A call's signal is seen on the thread the interpreter takes as its main
# one, wherever that is: in an application that runs the interpreter on a
# second thread while its first blocks every signal (hx_py_embed), and in
# a child forked by another thread, or by the main one, after a call there.
# The call waits on a supervisor that never answers, with a time-out of a
# minute; a raising SIGALRM 0.5 s in, or SIGINT a second in, ends it with
# KeyboardInterrupt at once.
CALL = """
    import os, signal, socket, sys, time
    listener = socket.create_server(("127.0.0.1", 0))
    os.environ["HX_SUPERVISOR"] = "127.0.0.1:%d" % listener.getsockname()[1]
    _hx.settimeout(60000)

    def call(alarm):
        if alarm:
            def ring(*_):
                raise KeyboardInterrupt
            signal.signal(signal.SIGALRM, ring)
            signal.setitimer(signal.ITIMER_REAL, 0.5)
        print("=> calling", flush=True)
        start = time.monotonic()
        try:
            _hx.hostinfo()
            said = "returned"
        except KeyboardInterrupt:
            said = "KeyboardInterrupt"
        print("=>", said, time.monotonic() - start < 10, flush=True)
"""
FORKED = """
    import threading, warnings
    warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads

    def fork_and_call():
        _hx.gettimeout()
        pid = os.fork()
        if pid == 0:
            call(True)
            os._exit(0)
        os.waitpid(pid, 0)
"""
MAIN_THREADS = [
    ("embedded, SIGALRM", "embed", CALL + "    call(True)\n", None),
    ("embedded, SIGINT", "embed", CALL + "    call(False)\n", signal.SIGINT),
    ("forked from a thread", "child", CALL + FORKED + """
    worker = threading.Thread(target=fork_and_call)
    worker.start()
    worker.join()
""", None),
    ("forked from the main thread", "child", CALL + FORKED + "    fork_and_call()\n", None),
]


@pytest.mark.parametrize("name,how,code,sent", MAIN_THREADS, ids=[r[0] for r in MAIN_THREADS])
def test_a_calls_signal_is_seen_on_the_interpreters_main_thread(name, how, code, sent):
    import textwrap
    if how == "embed":
        embed = os.environ.get("HX_PY_EMBED")
        if not embed:
            pytest.skip("no embedding program (HX_PY_EMBED) for this interpreter")
        command, env = [embed, "import _hx\n" + textwrap.dedent(code)], dict(os.environ)
    else:
        command, env = child_command(code)
    child = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        lines = []
        for line in child.stdout:
            lines.append(line)
            if line.startswith("=> calling") and sent is not None:
                time.sleep(1)
                child.send_signal(sent)
        child.wait(60)
        errors = child.stderr.read()
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert said("".join(lines)) == ["calling", "KeyboardInterrupt True"], f"{name}:\n{errors[-3000:]}"
