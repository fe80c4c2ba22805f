#pragma once

#include <functional>

// How korvane-cli meets a request to stop: SIGINT, SIGTERM and SIGHUP (a closed terminal);
// Ctrl+C and Ctrl+Break on Windows.
//
// First thing in main: until stop requests are handled, a request ends the program at
// once. Start-up has nothing to finish, and a call it makes may wait for good. On POSIX
// SIGPIPE is ignored from here on: a write to an output whose reader went away fails
// instead of ending the process in the middle of an action.
void stopAtOnceUntilHandled();

// From now on onStop is called on the event loop's thread instead of ending the
// process: an action under way is never cut short.
void handleStopRequests(std::function<void()> onStop);
