#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

#include "picture/picture.h"
#include "strip/bands.h"

namespace strip {

// The hidden frame holders a window keeps: theFrame(0 To 101).
constexpr int kFrameHolders = 102;

struct GatherResult {
    QList<SheetSource> pictures; // the pictures that were loaded, in list order, decoded
    picture::Loaded failure;     // the first file, in list order, that could not be loaded
    int loaded() const { return int(pictures.size()); }
    bool ok() const { return failure.ok(); }
};

// Opens and decodes paths in list order, with every core; stops at the first picture that
// cannot be loaded or that takes the command past budget.maxTotalBytes. The budget is charged
// with the sizes the headers declare before anything is decoded.
GatherResult loadPictures(const QStringList &paths, const picture::Budget &budget = {});

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
