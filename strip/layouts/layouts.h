#pragma once

#include <QString>

#include <span>

#include "strip/pages.h"

namespace strip {

// How frames are placed on pages, as one list: the command line, the checks and the data ends
// read it, and a new layout is one file and one line in it.
struct Layout {
    const char *id;   // as --layout names it
    const char *help; // for --help, after the id
    bool grid;        // even cells in rows, as Tiled's tilesets and the text file need
    // Lays out named's frames (one a name, in sheet order) as options say; layout's cell is given
    // enlarged. subject starts a refusal ("Cannot write out.png").
    PagedSheet (*lay)(const SheetJob &named, const SheetOptions &layout, const QList<FrameRun> &runs,
                      const PageOptions &options, const QString &subject);
};

// Every layout, the default first.
std::span<const Layout> layouts();

// The layout --layout calls id, or null.
const Layout *layoutNamed(const QString &id);

} // namespace strip
