#pragma once

#include <QString>
#include <QStringList>

#include "strip/framenames.h"
#include "strip/pages.h"
#include "strip/run.h"
#include "strip/sheetdata.h"

namespace strip {

// What a run tells its user beside its refusals, as lines without the program's name: pictures
// larger than their cells (clip: the layout cuts them), pages beyond the common texture limits,
// and, when pagedAnimations matter (PixiJS's JSON or Tiled's tilesets), an animation that runs
// from one page to another.
QStringList sheetWarnings(const SheetJob &job, const PagedSheet &paged, const SheetData &data, const QStringList &sheetPaths,
                          bool clip, bool pagedAnimations);

// What a dry run prints: the counts and layout of the sheet and its pages, the most memory the
// run holds, the frames in sheet order (named, when data is written) and the cell they share,
// the animations, and every file it would write. With variants, each sheet's layout, frames and
// animations under its variant (SUFFIX=SCALE), then the memory and the files of them all.
QString dryRunReport(const RunPlan &plan, bool dedupe, bool named);

} // namespace strip
