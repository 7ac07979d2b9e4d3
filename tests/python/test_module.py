"""The module as the interpreter sees it: initialisers, method table,
constants and the calling convention."""
import importlib.machinery
import importlib.util

import pytest

import _hx

METHODS = [
    ('_init_assign', None),
    ('jobinfo', None),
    ('hostinfo', None),
    ('workerlock', None),
    ('joborder', None),
    ('hostorder', None),
    ('bannedworkers', None),
    ('jobtagvalues', None),
    ('hist', None),
    ('stats', None),
    ('stderr', None),
    ('stdout', None),
    ('killwork', None),
    ('retirework', None),
    ('blockwork', None),
    ('unblockwork', None),
    ('retrywork', None),
    ('requeuework', None),
    ('modify', None),
    ('kill', None),
    ('top', None),
    ('bottom', None),
    ('migrate', None),
    ('remove', None),
    ('interrupt', None),
    ('block', None),
    ('unblock', None),
    ('preempt', None),
    ('retry', None),
    ('requeue', None),
    ('reset', None),
    ('suspend', None),
    ('resume', None),
    ('retire', None),
    ('shove', None),
    ('command', None),
    ('submit', None),
    ('archivejob', None),
    ('recoverjob', None),
    ('rangesplit', None),
    ('rangechunk', None),
    ('waitfor', None),
    ('trigger', None),
    ('CONST', None),
    ('updatepassword', "Update the user's system password with Tarv"),
    ('checkpassword', "Check if user has a valid password registered with Tarv"),
    ('_assignment', None),
    ('_setjob', None),
    ('requestwork', None),
    ('reportwork', None),
    ('reportjob', None),
    ('workerpathmap', "Returns this worker's pathmap"),
    ('jobobj', None),
    ('subjobobj', None),
    ('jobid', None),
    ('subid', None),
    ('version', None),
    ('jobtypeavailable', None),
    ('jobconfig', None),
    ('convertpath', "Convert the input path to the local path"),
    ('updateresource', "Update used/total counts for a dynamic global license resource"),
    ('getresources', "Get dict of all global and license resources"),
    ('setsupervisor', "Set the Tarv supervisor hostname or ipaddress"),
    ('getsupervisor', "Get the Tarv supervisor hostname or ipaddress"),
    ('settimeout', "Set the client timeout value (milliseconds)"),
    ('gettimeout', "Get the client timeout value (milliseconds)"),
    ('setlogpath', "Set the Tarv client logpath"),
    ('getlogpath', "Get the Tarv client logpath"),
    ('error', "Current error"),
    ('ping', "Ping the Tarv supervisor"),
    ('workerping', "Ping a specific worker"),
    ('hostping', "Ping a specific host on a sepecified port"),
    ('currenttime', "Current time (timestamp) of the supervisor"),
    ('supervisorconfig', "Gets the config for the Supervisor"),
    ('workerconfig', "Gets the config for the specified Worker"),
    ('localconfig', "Gets the config for the local machine"),
    ('encryptpassword', "Take a string and return an encrypted password string"),
    ('isadmin', "Return True if user is a Tarv admin"),
    ('configDictToStr', "Determines the conf string based on the passed in dict and str template"),
    ('configStrToDict', "Determines the conf dict based on the passed in string"),
    ('packageStrToDict', "Internal function. Take the raw MySQL job package string and convert it to a python dict"),
    ('getusers', "Get the user permissions"),
    ('setusers', "Set an individual user permissions"),
    ('admincommandstr', "Send the hxadmin command string to the supervisor"),
    ('admincommand', "Send the hxadmin command to the supervisor"),
    ('updateworkerresources', "Update used/total counts of worker resources"),
    ('updateworkerproperties', "Update value of worker properties"),
    ('deleteworkerresources', "Delete specified worker resources"),
    ('deleteworkerproperties', "Delete specified worker properties"),
    ('getpreferences', "get central preferences specified by path"),
    ('setpreference', "set a single central preference, specified by path"),
    ('deletepreference', "delete a single central preference"),
    ('getpipelinevariables', "get the TarvUI pipeline (system wide) variables"),
]

def module_functions(module):
    return [(k, v) for k, v in vars(module).items() if callable(v)]


def test_method_table_names_order_and_doc_strings():
    got = [(name, fn.__doc__) for name, fn in module_functions(_hx)]
    assert got == METHODS


def test_constants():
    assert [(k, getattr(_hx, k)) for k in vars(_hx) if k.startswith("HX_")] == [
        ("HX_API_BINARY", 1),
        ("HX_API_XML", 2),
        ("HX_TIME_EPOCH_OFFSET", 946702800),
        ("HX_REVERSE", 1),
        ("HX_CLIENT_DEFAULT_CONF", "/etc/hx.conf"),
        ("HX_SUPERVISOR_CONFIG_DEFAULT_WORKER_CONFIGFILE", "/etc/hxwrk.conf"),
        ("HX_SUPERVISOR_CONFIG_DEFAULT_LOGPATH", "/var/spool/tarv"),
        ("HX_WORKER_CONFIG_DEFAULT_LOGFILE", "/var/log/workerlog"),
        ("HX_SUPERVISOR_CONFIG_DEFAULT_LOGFILE", "/var/log/supelog"),
    ]


def load_as(name):
    spec = importlib.util.spec_from_file_location(
        name, _hx.__file__, loader=importlib.machinery.ExtensionFileLoader(name, _hx.__file__))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_second_name_builds_another_module_with_the_first_name():
    other = load_as("_hx36")
    assert other is not _hx
    assert other.__name__ == "_hx"
    assert [n for n, _ in module_functions(other)] == [n for n, _ in METHODS]
    # Each module object has its own constants.
    other.HX_API_XML = 99
    assert _hx.HX_API_XML == 2


@pytest.mark.parametrize("name", [n for n, _ in METHODS])
def test_keyword_arguments_are_refused(name):
    with pytest.raises(TypeError, match="takes no keyword arguments"):
        getattr(_hx, name)("1-3", x=1)


@pytest.mark.parametrize("args", [(), ("a",), (1, 2, 3), ({"x": 1},)])
def test_getpreferences_is_none_whatever_the_arguments(args):
    assert _hx.getpreferences(*args) is None
