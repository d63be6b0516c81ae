#pragma once

#include <QString>
#include <QStringList>

#include "strip/framenames.h"
#include "strip/pages.h"
#include "strip/sheetdata.h"

namespace strip {

// What a run tells its user beside its refusals, as lines without the program's name: pictures
// larger than their cells (clip: the layout cuts them), pages beyond the common texture limits,
// and, when pagedAnimations matter (PixiJS's JSON or Tiled's tilesets), an animation that runs
// from one page to another.
QStringList sheetWarnings(const SheetJob &job, const PagedSheet &paged, const SheetData &data, const QStringList &sheetPaths,
                          bool clip, bool pagedAnimations);

// What a dry run prints: the counts and layout of the sheet and its pages, the most memory the
// run holds (memory), the frames in sheet order (named, when data is written) and the cell they
// share, the animations, and every file it would write (outputs).
QString dryRunReport(const SheetJob &job, const PagedSheet &paged, const FrameNaming &naming, const SheetData &data,
                     const QStringList &sheetPaths, const QStringList &outputs, qint64 memory, bool dedupe, bool named);

} // namespace strip
