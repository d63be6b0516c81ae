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
    bool rotate = false;         // a packed frame may be turned a quarter where that packs tighter
    bool anticlockwise = false;  // turned anticlockwise, as libGDX turns them back
};

// A sheet laid out in pages, each a job of its own over the same sources.
struct PagedSheet {
    QList<SheetJob> pages;
    QList<int> cellOf;            // each named frame's cell
    QList<QPair<int, int>> cells; // each cell's page, and its frame in that page's job
    QString refusal;              // not empty: why it cannot be laid out; nothing may be written
};

struct FrameLook;

// The cells of frames with these looks: with dedupe, frames of one look share the first one's
// cell. Appends each frame's cell to cellOf and gives each cell's frame.
QList<int> cellOwners(const QList<FrameLook> &looks, int total, bool dedupe, QList<int> *cellOf);

// Marks in each page's job the sources that a later page reads too, so that their files stay
// open; owners: each cell's frame of named.
void keepSourcesForLaterPages(PagedSheet &paged, const SheetJob &named, const QList<int> &owners);

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
