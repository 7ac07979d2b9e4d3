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
// A signal whose interrupt check ends the request (core/HxInterrupt.h) ends
// the command too (SIGTERM, then SIGKILL after a grace time; reaped) and the
// result is -1; a request already ended starts no command.
int hxsystem(HxString shell, unsigned char login, HxString command);

// The process part of hxsystem: fork, exec and wait, with the outcome lines.
int _hxsystem_unix(HxString shell, unsigned char login, HxString command);
// For a system without fork: runs nothing and returns -1.
int _hxsystem_win32(HxString shell, unsigned char login, HxString command);
