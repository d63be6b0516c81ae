#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

#include "strip/framenames.h"
#include "strip/sheetdata.h"
#include "strip/bands.h"

namespace strip {

// How the command line fits named frames into cells and pages.
struct PageOptions {
    bool trim = false;           // cells shrink to what any frame shows in them
    bool dedupe = false;         // frames of the same pixels share one cell
    bool fillAnimations = false; // each animation starts a row
    int maxSize = 0;             // pages of at most this many pixels a side; 0: one sheet
};

// A sheet laid out in pages, each a job of its own over the same sources.
struct PagedSheet {
    QList<SheetJob> pages;
    QList<int> cellOf;            // each named frame's cell
    QList<QPair<int, int>> cells; // each cell's page, and its frame in that page's job
    QString refusal;              // not empty: why it cannot be laid out; nothing may be written
};

// Lays out named's frames (one a name, in sheet order) as layout says, its cell already given
// enlarged. With trim or dedupe, every frame is read once first. Pages are cut between rows of
// cells; an animation's runs keep together in a row when fillAnimations asks. subject starts a
// refusal ("Cannot write out.png").
PagedSheet layOutPages(const SheetJob &named, const SheetOptions &layout, const QList<FrameRun> &runs,
                       const PageOptions &options, const QString &subject);

// Why a sheet laid out in more than one page cannot have its JSON with frames named by index
// (names), or an empty string: Phaser's createFromAseprite, which those names are for, reads
// the frames of the first page's JSON only, and would build every animation that goes on past
// the first page with frames missing. subject starts the refusal.
QString pagedJsonRefusal(const PagedSheet &paged, NameScheme names, bool json, const QString &subject);

// The data every engine's format is written from: the pages' images (named images, in order),
// every named frame on its page, each run as an animation. A frame lasts as long as its GIF
// says, a still picture or a GIF frame without a delay stillDuration milliseconds.
SheetData describeSheet(const PagedSheet &paged, const SheetJob &named, const FrameNaming &naming,
                        const QStringList &images, int stillDuration, std::optional<Anchor> pivot,
                        const QString &pixelFormat);

} // namespace strip
