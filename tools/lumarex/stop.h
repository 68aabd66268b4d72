// SPDX-License-Identifier: MIT
// Stopping on Ctrl-C, SIGTERM or a closed terminal. The first signal asks
// the work to stop at its next safe point (each file's reading, correcting
// and writing poll StopRequested); a second one, or a second gone by without
// the process ending (whatever it was waiting for), stops at once, after
// removing every temporary file still being written. Signals are taken by
// one watcher thread, never by a handler interrupting other code, so the
// clean-up can use locks and is never cut short by a further signal.
#pragma once

#include <cstddef>
#include <string>

namespace lumarex_cli {

// Blocks SIGINT, SIGTERM and SIGHUP and starts the watcher. Call it first in
// main, before any other thread exists, so that every thread inherits the
// blocked set.
void StartStopWatcher();

bool StopRequested();

// The exit status for the first stop signal: 130 (SIGINT), 143 (SIGTERM),
// 129 (SIGHUP); 0 when none came.
int StopStatus();

// How long the work has after the first stop signal before the watcher
// stops the process itself.
inline constexpr int kStopGraceMs = 1000;

// What a stop reports: the number of photos of the run, and each one
// finished ("in.jpg -> out/in.jpg"). Thread-safe.
void NoteRunSize(size_t photos);
void NoteFinished(const std::string& line);

// Standard output that stays whole through a stop. Each call writes `text`
// and flushes it, and remembers `closing`: what completes everything printed
// so far (the "]" of a JSON array, "" when it is complete). A hard stop
// writes that closing before the process ends, unless a print is under way
// or standard output cannot take it at once. Thread-safe. Returns false when
// standard output did not take the text (a full disk, a closed pipe), with
// errno telling why.
bool PrintOutput(const std::string& text, const std::string& closing);

// Prints, once per process, what a stop leaves: "lumarex: stopped; no
// partial output was left" ("stopped at once" when `atOnce`) and, for a run
// of photos, those finished before it. Called by the run once its work has
// ended, and by the watcher when it stops the process itself; the second
// call prints nothing.
void ReportStop(bool atOnce);

}  // namespace lumarex_cli
