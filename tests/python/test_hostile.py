"""Hostile Python values: calls whose conversion runs out of memory,
containers that drop their own values while the module reads them, and
paths holding a NUL byte. The first two run in child processes, so that a
crash fails one row instead of the whole run."""
import os

import pytest

import _hx
from conftest import run_child

SANITIZED = os.environ.get("HX_SANITIZED") == "1"


# Ten million ids, given to each function in one of its forms: converting
# them would take gigabytes, far beyond the child's address-space limit.
MEMORY_CALLS = [
    ("A = (L, 0, 10)", "_hx.stdout(*A)", "MemoryError"),
    ("A = (L, 0, 10)", "_hx.stderr(*A)", "MemoryError"),
    ("A = ({'jobids': L},)", "_hx.top(*A)", "MemoryError"),
    # Ids given as arguments are counted before anything is made: the bound
    # of one call refuses them first.
    ("A = tuple(L)", "_hx.bottom(*A)", "too many ids in one call (limit 1048576)"),
    ("A = ({'jobids': L, 'priority': 1},)", "_hx.modify(*A)", "MemoryError"),
    ("A = ({'fields': [{'value': 'priority'}] * len(L), 'priority': 1}, 12)", "_hx.modify(*A)", "MemoryError"),
    # Converted whole, then too large to pack: the library fails the call
    # for want of memory, and the module still raises MemoryError.
    ("A = ([{'name': 'x' * (100 << 20)}], False)", "_hx.submit(*A)", "MemoryError"),
    # A package value of ten million items: the half-built package is freed
    # while MemoryError is on its way, without taking memory itself.
    ("A = ({'package': L}, 12)", "_hx.modify(*A)", "MemoryError"),
    ("A = ([{'name': 'x', 'package': L}], False)", "_hx.submit(*A)", "MemoryError"),
    ("A = ({'resultpackage': L},)", "_hx.reportwork(*A)", "MemoryError"),
    ("A = ('/nonexistent/x.job', {'package': L}, 1)", "_hx.archivejob(*A)", "MemoryError"),
]


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves more address space than a limit leaves")
@pytest.mark.parametrize("setup,call,outcome", MEMORY_CALLS)
def test_memory_running_out_raises_memory_error(setup, call, outcome):
    status, said, errors = run_child(f"""
        import gc, resource
        L = ["12"] * 10_000_000
        {setup}
        with open("/proc/self/status") as f:
            size = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
        limit = size + (256 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            {call}
            say("returned")
        except MemoryError:
            say("MemoryError")
        except RuntimeError as e:
            say(e)
        del A, L
        # The interpreter goes on: the same call with one id, the collector on.
        say(_hx.stdout(["12"], 0, 1), gc.isenabled())
        """)
    assert status == 0, errors
    assert said == [outcome, "[] True"]


# Shapes that drop a value from its container while the module reads it.
# The dropped containers are subclasses, which the interpreter frees at
# once instead of keeping them for reuse, so that a later read meets freed
# memory: under the debug allocator it is overwritten, under the sanitizer
# build it is poisoned.
SHAPES = """
class D(dict):
    pass

class Gone(list):
    '''A list that runs drop() when its first item is read.'''
    def __init__(self, items, drop):
        super().__init__(items)
        self.drop = drop
    def __getitem__(self, i):
        drop, self.drop = self.drop, None
        if drop:
            drop()
        return list.__getitem__(self, i)

def gone(d, key, items):
    '''d with d[key] a list that removes itself from d when read.'''
    d[key] = Gone(items, lambda: d.pop(key))
    return d

class PopMap:
    '''A mapping whose keys() removes it from its dict.'''
    def __init__(self, owner, key):
        self.owner, self.key = owner, key
    def keys(self):
        self.owner.pop(self.key)
        return ["first key", "second key"]
    def __getitem__(self, k):
        return "value of " + k

class ClearsKeys:
    '''A mapping whose keys() gives its own list, which its __getitem__
    clears: the keys, made here, are freed with it.'''
    def __init__(self):
        self.names = ["key %d" % i for i in range(3)]
    def keys(self):
        return self.names
    def __getitem__(self, k):
        self.names.clear()
        return "value"

class Clearing(str):
    '''A str key whose __hash__ clears another dict once armed.'''
    victim = None
    def __hash__(self):
        if self.victim is not None:
            self.victim.clear()
        return str.__hash__(self)
    __eq__ = str.__eq__
"""

FREED_VALUES = [
    ("command filters", "",
     "_hx.kill(gone({}, 'filters', [{'name': 'user'}, {'name': 'name'}]))"),
    ("command jobids", "", "_hx.kill(gone({}, 'jobids', ['12', '13', '14']))"),
    ("command workids", "", "_hx.killwork(gone({}, 'workids', ['12:a', '12:b']))"),
    ("command groups", "", "_hx.command(gone({'action': 207}, 'groups', ['one group', 'another']))"),
    ("filter fields", "",
     "_hx.kill({'filters': [gone(D(name='user'), 'fields', [{'value': 'ann'}, {'value': 'bob'}])]})"),
    ("query fields", "", "_hx.jobinfo(gone({}, 'fields', [{'value': 'id'}, {'value': 'name'}]))"),
    ("query filters", "", "_hx.hostinfo(gone({}, 'filters', [{'name': 'name'}, {'name': 'cluster'}]))"),
    ("modify fields", "", "_hx.modify(gone({}, 'fields', [{'value': 'priority'}, {'value': 'name'}]), 12)"),
    ("modify job",
     "outer = {'fields': [{'value': 'name'}]}\n"
     "outer['job'] = D(name='x', agenda=Gone([{'name': '1'}, {'name': '2'}], lambda: outer.pop('job')))",
     "_hx.modify(outer, 12)"),
    ("modify package", "outer = {'priority': 1}\nouter['package'] = PopMap(outer, 'package')",
     "_hx.modify(outer, 12)"),
    ("order filters", "", "_hx.admincommand(gone({'action': 5}, 'filters', [{'name': 'a'}, {'name': 'b'}]))"),
    ("order userlist", "", "_hx.admincommand(gone({'action': 3}, 'userlist', ['ann', 'bob']))"),
    ("order config section",
     "key = Clearing('an option')\nconfig = {'section': D({key: 'its value'})}\nkey.victim = config",
     "_hx.admincommand({'action': 1, 'config': config})"),
    ("submitted job",
     "jobs = []\njobs.append(D(name='j', agenda=Gone([{'name': '1'}, {'name': '2'}], jobs.clear)))",
     "_hx.submit(jobs, False)"),
    ("package keys cleared", "", "_hx.submit([{'name': 'j', 'package': ClearsKeys()}], False)"),
    ("work report package", "w = {'name': '1'}\nw['resultpackage'] = PopMap(w, 'resultpackage')",
     "_hx.reportwork(w)"),
]


@pytest.mark.parametrize("name,setup,call", FREED_VALUES, ids=[row[0] for row in FREED_VALUES])
def test_values_dropped_while_read_are_never_read_freed(name, setup, call):
    # Freed memory is overwritten, so that reading it again goes wrong at
    # once, also inside the interpreter (which the sanitizer build does not
    # instrument: there every object goes through its allocator as well).
    env = {"PYTHONMALLOC": "malloc_debug" if SANITIZED else "debug"}
    status, said, errors = run_child(SHAPES + setup + f"""
try:
    {call}
    say("returned")
except (RuntimeError, OSError) as e:
    say("raised")
""", **env)
    assert status == 0, (name, status, errors)
    assert said in (["returned"], ["raised"])


# Every function that hands a text to the file system, given one with a NUL
# byte after the name of a file that exists.
NUL_PATHS = [
    "_hx.archivejob(cut + '\\0.job', {'name': 'new'}, 1)",
    "_hx.archivejob(cut + '\\0.job', {'name': 'new'}, 2)",
    "_hx.recoverjob(cut + '\\0.job')",
    "_hx._setjob(cut + '\\0.job')",
    "_hx.jobtypeavailable(str(tmp_path) + '\\0/elsewhere')",
    "_hx.setlogpath(cut + '\\0.log')",
]


@pytest.mark.parametrize("call", NUL_PATHS)
def test_paths_holding_a_nul_raise_value_error(call, tmp_path, capfd):
    cut = str(tmp_path / "report.txt")
    assert _hx.archivejob(cut, {"name": "kept"}, 2) > 0
    with open(cut, "rb") as f:
        before = f.read()
    with pytest.raises(ValueError, match="embedded null character"):
        eval(call)
    with open(cut, "rb") as f:
        assert f.read() == before
    assert os.listdir(tmp_path) == ["report.txt"]
    # Nothing read the file at the cut name either.
    assert "loading development environment" not in capfd.readouterr().out


# Every function that hands a text to the file system, given a path holding
# a lone surrogate: it has no encoding (open() raises UnicodeEncodeError),
# so the call raises that and touches neither the path nor the one that a
# replacement character makes of it.
SURROGATE_PATHS = [
    "_hx.archivejob(d + '/\\ud800x.job', {'name': 'new'}, 1)",
    "_hx.archivejob(d + '/\\ud800x.job', {'name': 'new'}, 2)",
    "_hx.recoverjob(d + '/\\ud800x.job')",
    "_hx._setjob(d + '/\\ud800x.job')",
    "_hx.jobtypeavailable(d + '/\\ud800')",
]


def files(top):
    """Every file under top with its bytes."""
    return sorted((os.path.join(where, name), open(os.path.join(where, name), "rb").read())
                  for where, _, names in os.walk(top) for name in names)


@pytest.mark.parametrize("call", SURROGATE_PATHS)
def test_paths_holding_a_lone_surrogate_raise_unicode_encode_error(call, tmp_path, capfd):
    d = str(tmp_path)
    assert _hx.archivejob(d + "/?x.job", {"name": "kept"}, 2) > 0
    os.makedirs(d + "/?/kind")
    with open(d + "/?/kind/job.conf", "w") as f:
        f.write("version = 1\n")
    before = files(d)
    with pytest.raises(UnicodeEncodeError, match="surrogates not allowed"):
        eval(call)
    assert files(d) == before
    assert "loading development environment" not in capfd.readouterr().out


# An int given as a path names the file of its whole decimal text, as str()
# gives it: never its low 32 bits. One with more digits than the
# interpreter turns into text raises as str() does, and touches nothing.
@pytest.mark.parametrize("number, name", [
    (2**31, "2147483648"),
    (2**63, "9223372036854775808"),
    (-1, "-1"),
    (2**70 + 3, "1180591620717411303427"),
    (10**5000, ValueError),
], ids=["2**31", "2**63", "-1", "2**70+3", "10**5000"])
def test_an_int_as_a_path_is_its_whole_decimal_text(number, name, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for form in (1, 2):
        if name is ValueError:
            with pytest.raises(ValueError, match="integer string conversion"):
                _hx.archivejob(number, {"name": "n %d" % form}, form)
            assert os.listdir(tmp_path) == []
            continue
        assert _hx.archivejob(number, {"name": "n %d" % form}, form) > 0
        assert os.listdir(tmp_path) == [name]
        assert _hx.recoverjob(number)["name"] == "n %d" % form


def test_surrogate_escaped_bytes_reach_the_file_system_as_os_fsencode_gives(tmp_path):
    # A surrogate that stands for a byte (as os.fsdecode reads a name that
    # is not UTF-8) is that byte again.
    d = str(tmp_path)
    path = d + "/\udcffx.job"
    for form in (1, 2):
        assert _hx.archivejob(path, {"name": "escaped %d" % form}, form) > 0
        assert os.listdir(tmp_path) == [os.fsdecode(b"\xffx.job")]
        assert _hx.recoverjob(path)["name"] == "escaped %d" % form
    _hx._setjob(path)
    assert _hx.jobobj()["name"] == "escaped 2"
    os.makedirs(os.fsencode(d + "/\udcfe/kind"))
    with open(os.fsencode(d + "/\udcfe/kind/job.conf"), "w") as f:
        f.write("version = 1\n")
    assert "kind" in _hx.jobtypeavailable(d + "/\udcfe")
