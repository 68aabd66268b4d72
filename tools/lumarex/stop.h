// SPDX-License-Identifier: MIT
// Stopping on Ctrl-C, SIGTERM or a closed terminal. The first signal asks
// the work to stop at its next safe point (each file's reading, correcting
// and writing poll StopRequested); a second one stops at once, after removing
// every temporary file still being written. Signals are taken by one watcher
// thread, never by a handler interrupting other code, so the clean-up can
// use locks and is never cut short by a further signal.
#pragma once

namespace lumarex_cli {

// Blocks SIGINT, SIGTERM and SIGHUP and starts the watcher. Call it first in
// main, before any other thread exists, so that every thread inherits the
// blocked set.
void StartStopWatcher();

bool StopRequested();

// The exit status for the first stop signal: 130 (SIGINT), 143 (SIGTERM),
// 129 (SIGHUP); 0 when none came.
int StopStatus();

}  // namespace lumarex_cli
