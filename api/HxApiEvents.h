#pragma once

#include "core/HxString.h"

class HxPostList;
class HxVariable;
class HxVariableId;

// Job variables, posts, waiting for events and firing them.
//
// Job (1) and global (2) variables live on the supervisor, host (256) and
// scoped (257) variables on the local worker; all four are deleted through
// the supervisor. A pid below 0 is first replaced by the assignment's job
// id. Set, get and delete tell only whether the conversation took place.

// 901. Any other class writes "unidentified type!!!" on standard output and
// gives 0.
unsigned char hxsetvariable(HxVariable& var);
// 900; 1 when a variable came back, copied into out.
unsigned char hxgetvariable(HxVariableId& id, HxVariable& out);
// 902.
unsigned char hxdeletevariable(HxVariableId& id);

// 1100 with the caller's list.
unsigned char hxsubmitpost(HxPostList& posts);

// Registers a post for triggers on a UDP port of its own, waits there until
// the supervisor delivers a post or more than `timeout` seconds have passed
// (below 1: no limit), and unregisters (1102, with the post received). A
// signal whose interrupt check ends the request (core/HxInterrupt.h) ends
// the wait: the unregistration still goes out, and the result is 0. 1
// when the unregistration was delivered; 0 when no port could be opened or
// the supervisor could not be reached.
unsigned char hxwaitfor(HxString& triggers, int timeout);

// Fires the named event (803); 1 only when the supervisor confirms.
unsigned char hxtrigger(HxString const& name);
