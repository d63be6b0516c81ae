#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

#include "strip/run.h"

namespace strip {

// What one run tells the watch that started it.
struct WatchedRun {
    QStringList outputs; // every file the run writes, so that writing them starts no run
    bool goOn = true;    // false: the watch cannot go on (standard output is gone, say)
};

// The inputs of a request as they stand: each input given, each file a folder lists and why
// listing fails, with each file's identity, size and time. A folder's own time is left out, so
// that a file written into it that is no input changes nothing.
using InputsState = std::map<QString, QByteArray>;
InputsState inputsState(const RunRequest &request);

// Whether two states differ in anything but the files given (a run's own outputs).
bool inputsDiffer(InputsState a, InputsState b, const QStringList &outputs);

// What to watch for a request and what a run of it reads: each of those that exists, the folder
// holding each (an editor's save renames a new file over the old one; a frame added to or taken
// from a folder), or the nearest folder that exists; absolute and cleaned.
QStringList watchedPaths(const QStringList &given, const QStringList &read);

// The line a run of a watch prints: what it wrote, or that nothing changed, and its frames.
QString watchLine(int frames, const QStringList &written);

// How long the inputs must stay quiet after a change before the next run, so that a burst of
// saves is one run.
constexpr int watchQuietMs = 250;

// Runs once, then in the application's event loop again after each change to the inputs (see
// watchedPaths) that inputsState sees, or any change to a file read; the paths are armed before
// each run, so that nothing done while it reads goes unheard. Returns 0 when stopped by
// endWatchBetweenRuns(), 1 when a run asked to end.
int watchRuns(const RunRequest &request, const std::function<WatchedRun()> &run);

// From any thread (the one that waits for Ctrl-C): ends a watch that is between runs and
// returns true; false when none is watching or a run is under way, which is then the caller's
// to stop. No run starts after it returned true.
bool endWatchBetweenRuns();

} // namespace strip
