// Ending on a termination signal without leaving temporary files behind.
#pragma once

namespace qx {

// From now on SIGINT, SIGTERM and SIGHUP end the process as they would by default, but only after the
// temporary files of file replacements in progress (image outputs, the settings file) are removed (no
// target is half replaced either way). Signals the process was started with ignored stay ignored. Call
// before any other thread is started: the signals are blocked in every thread and taken by one of their own.
void EndCleanlyOnTerminationSignals();

// `code`, or never returns when a termination signal has come and is ending the process: a batch whose last
// files were refused because the process is ending must not exit as if it had simply failed.
int ExitCodeUnlessEnding(int code);

}  // namespace qx
