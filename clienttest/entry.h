// entry.h - the program's guarded start: create the window, run the loop.
#pragma once

#include <QString>

#include <functional>

namespace entry {

// Runs `steps` (create the main window, run the message loop). A framework
// Exception that escapes is handed to `showException` with its message,
// anything else with an empty message. Always answers exit code 0.
int run(const std::function<void()>& steps, const std::function<void(const QString&)>& showException);

} // namespace entry
