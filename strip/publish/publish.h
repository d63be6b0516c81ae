#pragma once

#include <QString>

#include <functional>

#include "strip/run.h"

namespace strip {

// Hears of page p's bands as they are composed.
using PageProgress = std::function<void(int page, int done, int total)>;

// The run without its writes: every page composed, every picture decoded and prepared, so that
// a damaged one is refused as writing would refuse it. Empty, or why not, naming the file.
QString rehearseRun(const RunPlan &plan, const RunRequest &request, const PageProgress &progress = {});

// Writes every file of the plan (the pages, each data end's files, the text file), replaced
// together or not at all; a file whose bytes would stay the same is not touched. Empty, or why
// not, naming the file. written, when given, gets the files replaced, in the order of outputs.
QString publishRun(const RunPlan &plan, const RunRequest &request, const PageProgress &progress = {},
                   QStringList *written = nullptr);

} // namespace strip
