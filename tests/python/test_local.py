"""Functions that answer without a supervisor: ranges, constants, password
encryption, configuration and package texts, and the argument reading of the
request functions."""
import pytest

import _hx

BUILT_IN_CIPHER = ("43da7d78fa8ef47cc4003e742ef505c73c3bf0123b97feed08d41926f19d8c31"
                   "1af9222c53a376dbc9cd4a81f928f63ab074b391bc45701eb5515acdefba92c0")


@pytest.mark.parametrize("args, want", [
    (("1-3", "7"), ["1", "2", "3", "7"]),
    (("3-1",), ["3", "2", "1"]),
    (("1-3", "2"), ["1", "2", "3", "2"]),          # written order, duplicates kept
    (("shot[01-03]",), ["shot01", "shot02", "shot03"]),
    (("a[1-2]", "b[9-10]"), ["a1", "a2", "b9", "b10"]),   # padding from the written width
    ((2**32 + 5,), ["2147483647"]),                 # an int's whole text: past the
    ((2**70 + 4,), ["2147483647"]),                 # frames, as its str() is
    ((True, None, 1.5), ["1"]),                     # other values are empty texts
    ((), None),
])
def test_rangesplit(args, want):
    assert _hx.rangesplit(*args) == want


@pytest.mark.parametrize("args, want", [
    ((2, "1-5"), ["1-2", "3-4", "5"]),
    ((2, "5", "1-3"), ["1-2", "3", "5"]),           # sorted, a chunk never spans a gap
    ((2, "1-3", "2-4"), ["1-2", "3-4"]),            # duplicates removed
    (("2", "1-5"), ["1-2", "3-4", "5"]),            # numeric str size
    (("2 frames", "1-5"), ["1-2", "3-4", "5"]),
    ((0, "1-5"), []),
    ((-3, "1-5"), []),
    ((1.5, "1-5"), []),                             # other types give size 0
    ((2**64 + 2, "1-5"), ["1-2", "3-4", "5"]),      # low 64 bits, no OverflowError
    ((2**32 + 2, "1-5"), ["1-2", "3-4", "5"]),      # then the low 32
    ((2,), []),
    ((), []),
])
def test_rangechunk(args, want):
    assert _hx.rangechunk(*args) == want


# Past the bounds of what a range expands to (16777216 members, 64 MB of
# names) the call raises instead of answering an empty or cut list, which a
# submission script would take for a short agenda. Within them, and for
# empty or unreadable texts, the answers stay.
LONG = "x" * 1000


@pytest.mark.parametrize("call, args, want", [
    ("rangesplit", ("1-5600000",), ValueError),
    ("rangesplit", ("1-20000000",), ValueError),
    ("rangesplit", ("a", "shot[1-20000000]"), ValueError),
    ("rangesplit", (LONG + "[1-70000]",), ValueError),
    ("rangesplit", (LONG + "[1-60000]",), 60000),
    ("rangesplit", ("",), 0),
    ("rangesplit", ("1-",), 0),
    ("rangechunk", (1000, "1-16777217"), ValueError),
    ("rangechunk", (1000, "1-8000000", "8000001-16777217"), ValueError),
    ("rangechunk", (1000, "1-16777216"), 16778),
    ("rangechunk", (10, ""), 0),
    ("rangechunk", (10, "1-"), 0),
])
def test_ranges_past_their_bound_raise(call, args, want):
    if want is ValueError:
        with pytest.raises(ValueError, match=r"range too large to expand \(limit 16777216 members, 67108864 bytes\)"):
            getattr(_hx, call)(*args)
    else:
        assert len(getattr(_hx, call)(*args)) == want


@pytest.mark.parametrize("name, want", [
    ("HX_COMMAND_KILL_JOB", 207),
    ("HX_COMMAND_REMOVE_JOB", 201),
    ("HX_COMMAND_RESET_JOB", 231),
    ("HX_COMMAND_KILL_WORK", 605),
    ("HX_COMMAND_RETIRE_WORK", 615),
    ("HX_ADMIN_ORDER_ACTION_RESET", 8),
    ("HX_ADMIN_ORDER_ACTION_REVERIFY_WORKERS", 12),
    ("HX_REVERSE", 1),
    ("HX_COMMAND_INTERRUPT_JOB", 0),                # no entry for 208
    ("hx_command_kill_work", 0),
    ("HX_COMMAND_KILL_WORK ", 0),
    ("", 0),
])
def test_CONST(name, want):
    assert _hx.CONST(name) == want


@pytest.mark.parametrize("args, error", [((), TypeError), ((207,), TypeError), (("a", "b"), TypeError)])
def test_CONST_argument_errors(args, error):
    with pytest.raises(error):
        _hx.CONST(*args)


@pytest.mark.parametrize("args, want", [
    (("correct horse battery staple 32",), BUILT_IN_CIPHER),
    (("",), ""),
    ((5,), ""),                  # not a str: empty, and no error left behind
    ((None,), ""),
    ((), ""),
    (("a", "b"), ""),
    (("a\0b",), ""),
])
def test_encryptpassword(args, want):
    assert _hx.encryptpassword(*args) == want


def test_encryptpassword_is_deterministic_hex():
    one = _hx.encryptpassword("secret\u00e9")
    assert one == _hx.encryptpassword("secret\u00e9")
    assert len(one) == 64 and set(one) <= set("0123456789abcdef")


@pytest.mark.parametrize("args, want", [
    ((), 0), (("a", "b", "c", "d"), 0),          # counts outside 1-3: 0, no request
])
def test_updatepassword_counts(args, want):
    assert _hx.updatepassword(*args) == want


@pytest.mark.parametrize("fn, args, error", [
    ("updatepassword", (1,), TypeError),
    ("updatepassword", ("user", None), TypeError),
    ("checkpassword", ("x",), TypeError),
    ("waitfor", ("x", "5"), TypeError),
    ("waitfor", (1,), TypeError),
    ("waitfor", (), TypeError),
    ("trigger", (None,), TypeError),
])
def test_request_argument_reading(fn, args, error):
    with pytest.raises(error) as info:
        getattr(_hx, fn)(*args)
    assert info.type is error            # never SystemError from a leftover error


@pytest.mark.parametrize("args, want", [
    (({"a": "1", "c": "3"}, "a=0\n# x\nb=2\n"),
     "a = 1\n# x\n#b=2\n# these are not included in the template\nc = 3\n\n"),
    (({}, 5), "5\n"),                                # template by _py_string
    (({"n": 2**32 + 5, "t": True, "f": 1.5, 7: "x"}, None),
     "# these are not included in the template\nn = 4294967301\nt = 1\nf = \n7 = x\n\n"),
    (({"a": "\udcff"}, ""),                          # lone surrogate: its byte, shown replaced
     "# these are not included in the template\na = \ufffd\n\n"),
    (({"a": "\ud800"}, ""),                          # not a byte escape: "?"
     "# these are not included in the template\na = ?\n\n"),
    ((["a"], "a=1\n"), ""),
    (("a=1", "a=1\n"), ""),
    (({"a": "1"},), ""),
    ((), ""),
])
def test_configDictToStr(args, want):
    assert _hx.configDictToStr(*args) == want


def test_configDictToStr_takes_dict_subclasses():
    class D(dict):
        pass
    assert _hx.configDictToStr(D(a="1"), "a=0\n") == "a = 1\n"


@pytest.mark.parametrize("text, want", [
    ("b=1\na=2\n", [("b", "1"), ("a", "2")]),       # option order kept
    ("[sec]\n# c\nx = 1 # y\n", [("x", "1")]),
    ("x=1\nx=2\n", [("x", "2")]),
    ("", []),
    ("# only a comment\n", []),
])
def test_configStrToDict(text, want):
    got = _hx.configStrToDict(text)
    assert list(got.items()) == want


@pytest.mark.parametrize("fn", ["configStrToDict", "packageStrToDict"])
@pytest.mark.parametrize("args", [(), (1,), (None,), ("a", "b")])
def test_text_functions_need_one_str(fn, args):
    with pytest.raises(TypeError):
        getattr(_hx, fn)(*args)


@pytest.mark.parametrize("text, want", [
    ("", None),
    ("(=x)", "x"),
    ("(=(a=1)(b=(=x)(=y)))", {"a": "1", "b": ["x", "y"]}),
    ("(=(=a)(=b))", ["a", "b"]),
    ("(=(a=1)(a=2))", {"a": "2"}),                   # a later equal name replaces
    ("(=(a=1)(=2))", {"a": "1", "": "2"}),          # unnamed after named: key ""
    ("(=(=)(=z))", [None, "z"]),
    ("(=(a=\\(\\)\\=\\\\))", {"a": "()=\\"}),
    ("garbage", None),
    ("(" * 5000, None),                               # deep nesting is cut, not recursed
    ("(=(k=caf\u00e9))", {"k": "caf\u00e9"}),
])
def test_packageStrToDict(text, want):
    assert _hx.packageStrToDict(text) == want
