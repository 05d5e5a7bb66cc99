// What both fuzzing programs share: one window, created once with an offscreen display, and
// a way to let it run what an input left posted.
#pragma once

#include <QString>

class TestForm;

namespace fuzz {

// The window every input goes to. Message boxes are counted, never shown; a box with the
// default error display's caption is an exception that escaped a handler, and when
// exceptionsAreFaults is set that ends the run as a crash.
TestForm &form();
extern bool exceptionsAreFaults;

// Runs what the last input posted (deferred deletions, queued signals, timers that are due).
void settle();

// Reports count and time of what went through when the process ends (libFuzzer ends it by
// exit()), as "<what>: N in S s (R per second)" on stderr.
void countAtExit(const char *what, const unsigned long long *counter);

}  // namespace fuzz
