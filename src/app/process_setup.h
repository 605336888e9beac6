#pragma once

#include <QObject>
#include <functional>

namespace dorq {

// What the process needs from its system before and around the front ends.

// Standard input, output and error that the caller closed are opened on the null device,
// before anything else can be given their numbers and be taken for them; what the caller
// set up that would hide a child's end from the program is undone.
void openClosedStandardStreams();

// A program with a window that was started from a console writes there (Windows).
void useParentConsole();

// SIGTERM, SIGINT and SIGHUP run `end` from the event loop of `context`'s thread.
void onTerminationSignals(QObject *context, std::function<void()> end);

} // namespace dorq
