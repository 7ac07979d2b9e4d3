import os
import socket
import subprocess
import sys
import textwrap
import threading
import zlib

import pytest

# The module under test is the one the build made; ctest passes its folder.
_dir = os.environ.get("HX_MODULE_DIR")
if _dir:
    sys.path.insert(0, _dir)


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def child_command(code, **env):
    """The command and environment of a new interpreter that runs code with
    the module imported and names a supervisor nobody listens on (unless env
    names another). The code may print lines with say()."""
    import _hx
    full = dict(os.environ, HX_SUPERVISOR="127.0.0.1:%d" % closed_port())
    full.update(env)
    prelude = ("import sys\nsys.path.insert(0, %r)\nimport _hx\n"
               "def say(*what):\n    print('=>', *what, flush=True)\n") % os.path.dirname(_hx.__file__)
    return [sys.executable, "-c", prelude + textwrap.dedent(code)], full


def said(stdout):
    """The lines a child printed with say() (the library's own left out)."""
    return [line[3:] for line in stdout.splitlines() if line.startswith("=> ")]


def run_child(code, **env):
    """Runs code in a child (see child_command). Gives the exit status, the
    lines the code printed with say(), and the end of its standard error."""
    command, full = child_command(code, **env)
    result = subprocess.run(command, env=full, capture_output=True, text=True, timeout=120)
    return result.returncode, said(result.stdout), result.stderr[-3000:]


class FakeSupervisor:
    """A supervisor on 127.0.0.1 that records the tag of every request, one
    connection at a time. The first `silent` requests get no answer (their
    connections stay open); every later one is answered with a refusal (tag
    3), which ends the conversation as delivered. `taken` is set once the
    first request was read and, when answered, answered."""

    # The refusal: a message holding only its tag, packed and framed.
    REFUSAL_MESSAGE = b"\x00\x00\x00\x01" + b"\x00\x01\x00\x01" + b"\x00\x00\x00\x03"

    def __init__(self, silent=0):
        self.silent = silent
        self.tags = []
        self.taken = threading.Event()
        self._held = []
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    @staticmethod
    def _read(conn, n):
        data = b""
        while len(data) < n:
            part = conn.recv(n - len(data))
            if not part:
                raise EOFError
            data += part
        return data

    def _serve(self):
        while True:
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            try:
                header = self._read(conn, 9)
                payload = zlib.decompress(self._read(conn, int.from_bytes(header[1:5], "big")))
                self.tags.append(int.from_bytes(payload[8:12], "big"))
                if len(self.tags) <= self.silent:
                    self._held.append(conn)
                else:
                    packed = zlib.compress(self.REFUSAL_MESSAGE)
                    conn.sendall(b"\x02" + len(packed).to_bytes(4, "big")
                                 + len(self.REFUSAL_MESSAGE).to_bytes(4, "big") + packed)
                    conn.close()
            except (OSError, EOFError, zlib.error):
                conn.close()
            self.taken.set()

    def close(self):
        # Shutting the listener down wakes the accept() it waits in.
        self._listener.shutdown(socket.SHUT_RDWR)
        self._listener.close()
        self._thread.join()
        for conn in self._held:
            conn.close()


@pytest.fixture
def fake_supervisor():
    """Makes fake supervisors (FakeSupervisor(silent)) closed after the test."""
    made = []

    def make(silent=0):
        made.append(FakeSupervisor(silent))
        return made[-1]

    yield make
    for fake in made:
        fake.close()
