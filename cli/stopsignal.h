#pragma once

#include <functional>

// Calls onStop on the event loop's thread when the user or the system asks the
// program to stop (SIGINT and SIGTERM; Ctrl+C and Ctrl+Break on Windows) instead of
// ending the process: an action under way is never cut short.
void handleStopRequests(std::function<void()> onStop);
