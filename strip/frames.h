#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

#include "picture/source/picture.h"
#include "strip/bands.h"

namespace strip {

// The hidden frame holders a window keeps: theFrame(0 To 101).
constexpr int kFrameHolders = 102;

struct GatherResult {
    QList<SheetSource> pictures; // the pictures that were opened, in list order (decoded when asked)
    picture::Loaded failure;     // the first file, in list order, that could not be loaded
    int loaded() const { return int(pictures.size()); }
    bool ok() const { return failure.ok(); }
};

// How a gathering opens its files.
struct GatherOptions {
    bool allFrames = false;    // an animated GIF gives every frame, not its first alone
    // Every picture decoded now, within budget.maxTotalBytes (the window: a damaged one is
    // refused before its save dialog); otherwise each is decoded when its rows of the sheet come.
    bool decodeAhead = true;
    bool namesAsGiven = false; // messages name files as given rather than by their full paths
};

// Opens paths in list order, with every core: each file once, its header read and checked;
// with decodeAhead, decoded from the same bytes, the budget charged with the sizes the headers
// declare before anything is decoded. Stops at the first picture that cannot be opened or
// decoded, or that takes the command past the budget.
GatherResult gather(const QStringList &paths, const picture::Budget &budget, const GatherOptions &options);

// The window's gathering: every picture decoded ahead, named by its full path.
inline GatherResult loadPictures(const QStringList &paths, const picture::Budget &budget = {})
{
    return gather(paths, budget, {});
}

struct StripPlan {
    bool ok = true;
    QString message; // why the strip cannot be made, with its size
    QSize cell;      // the first picture's size, once it is known to fit a cell
    SheetJob job;    // the pictures and their layout, ready to write
};

// The window's strip of the first frameTotal pictures, horizontal of them a row, each cell the
// first picture's size: refused before anything is written when the layout, the bitmap format
// or the memory budget cannot hold it.
StripPlan planStrip(const QList<SheetSource> &pictures, int frameTotal, double horizontal,
                    const picture::Budget &budget = {});

} // namespace strip
