"""The API settings as the module reads and sets them, without a supervisor."""
import threading

import pytest

import _hx


@pytest.fixture(autouse=True)
def fresh_settings():
    yield
    _hx.settimeout(0)
    _hx.setsupervisor("")
    _hx.setlogpath("")


def test_version():
    assert _hx.version() == "8.1-0"
    assert _hx.version("ignored") == "8.1-0"


@pytest.mark.parametrize("setter, getter, value, want", [
    ("settimeout", "gettimeout", 1, 1),
    ("settimeout", "gettimeout", 2**31 - 1, 2**31 - 1),
    ("setsupervisor", "getsupervisor", "supe.example", "supe.example"),
    ("setsupervisor", "getsupervisor", "h\u00e9te", "h\u00e9te"),
    ("setlogpath", "getlogpath", "/logs/here", "/logs/here"),
    ("setlogpath", "getlogpath", "USE_SUPERVISOR", "USE_SUPERVISOR"),
])
def test_setting_reads_back(setter, getter, value, want):
    assert getattr(_hx, setter)(value) is None
    assert getattr(_hx, getter)() == want


def test_unset_settings_fall_back_to_the_configuration():
    # Below 1 the time-out is the configuration's, never 0 or negative.
    default = _hx.gettimeout()
    assert default > 0
    for ms in (0, -5):
        _hx.settimeout(ms)
        assert _hx.gettimeout() == default
    _hx.setlogpath("/x")
    _hx.setlogpath("")
    assert _hx.getlogpath() != ""


@pytest.mark.parametrize("fn, args", [
    ("settimeout", ()), ("settimeout", ("5",)), ("settimeout", (2**40,)), ("settimeout", (1, 2)),
    ("setsupervisor", ()), ("setsupervisor", (None,)), ("setsupervisor", ("a\0b",)),
    ("setlogpath", (5,)),
    ("ping", ()), ("ping", (5,)), ("workerping", (None,)), ("hostping", ("h",)), ("hostping", ("h", "1")),
])
def test_argument_errors(fn, args):
    with pytest.raises((TypeError, ValueError, OverflowError)) as info:
        getattr(_hx, fn)(*args)
    assert info.type is not SystemError


def test_settings_read_back_whole_under_threads():
    # Writers switch between two long texts; readers never see a mixture.
    texts = ["a" * 300, "b" * 500]
    bad = []

    def writer():
        for i in range(2000):
            _hx.setsupervisor(texts[i % 2])

    def reader():
        for _ in range(2000):
            if _hx.getsupervisor() not in texts:
                bad.append(1)

    _hx.setsupervisor(texts[0])
    threads = [threading.Thread(target=f) for f in (writer, writer, reader, reader)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not bad


MAP = {"directmap": {"/proj": "/mnt/p", "C:/": "/c/"}}


@pytest.mark.parametrize("args, want", [
    (("/proj/x", MAP), "/mnt/p/x"),
    (("/PROJ/x", MAP), "/mnt/p/x"),                 # sources match caselessly
    (("C:/a/proj", MAP), "/c/a/mnt/p"),             # every source, in the map's order
    (("/proj/x", {}), "/proj/x"),                   # an empty map
    (("/proj/x", {"directmap": "x"}), "/proj/x"),   # no map from the dict: as an empty one
    (("/proj/x", {"directmap": {}}), "/proj/x"),
    (("/proj/x", 5), "/proj/x"),
    (("/proj/x", MAP, 1), "/proj/x"),               # three: the assignment's map (none here)
    (("/proj/x",), "/proj/x"),
    ((5, {}), "5"),
    ((None,), ""),
])
def test_convertpath(args, want):
    assert _hx.convertpath(*args) == want


def test_convertpath_without_arguments():
    with pytest.raises(RuntimeError, match="^insufficient number of args$"):
        _hx.convertpath()
