#pragma once

#include "core/HxString.h"

// Running one command line through a shell in a child process.

// hxsystem("", command).
int hxsystem(HxString command);
// hxsystem(shell, 0, command).
int hxsystem(HxString shell, HxString command);
// Runs command with `shell -c command` ("/bin/sh" when shell is empty; with
// login set the shell is named "-" + its last path component, so that it acts
// as a login shell), waits for it and returns its exit code, or -1 when it
// could not be started, was killed or stopped by a signal, or could not be
// waited for. The code is also left in HX_SYSTEM_EXIT_CODE for later commands.
// The call waits for the command as the library's other waits do
// (core/HxInterrupt.h): a signal, and on a watched thread each slice of
// waiting, asks the interrupt check; it asks once more after the fork,
// before the command starts, so that a request already ended, or ended by a
// signal that came before, starts no command (-1; a request already marked
// does not fork at all). A request the check ends while the command runs
// ends the command: SIGTERM, then SIGKILL to what is left of it once a
// grace time of 2 s has passed on the monotonic clock; the call returns once
// the shell is reaped and its group (see below) is empty, or at the latest
// once the grace time is over and the shell killed and reaped; the result
// is -1. The command leads a process group of its own (the child and the
// parent both make it, so that it exists before any signal to it), which
// gets the signals, so that all it started ends with it; when the calling
// process is the foreground job of its terminal, the command stays in the
// caller's group (it may read the terminal, and the terminal's Ctrl-C
// reaches it) and the signals go to the shell alone. The child waits for
// the parent's word to start on a pipe whose writing end only the parent
// holds: a caller that dies before it gives it leaves a child that exits.
int hxsystem(HxString shell, unsigned char login, HxString command);

// The process part of hxsystem: fork, exec and wait, with the outcome lines.
int _hxsystem_unix(HxString shell, unsigned char login, HxString command);
// For a system without fork: runs nothing and returns -1.
int _hxsystem_win32(HxString shell, unsigned char login, HxString command);
