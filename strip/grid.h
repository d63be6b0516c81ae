#pragma once

#include <QPoint>
#include <QSize>

namespace strip {

// The layout of a strip: frameTotal cells of cellWidth x cellHeight, horizontal cells a row.
// A horizontal count that is not whole gives the width from its real value; divisions use it
// rounded half to even, and picture i lies at x = i * cellWidth while i is below the real value.
struct Grid {
    int frameTotal = 0;
    double horizontal = 0;
    int columns = 0;      // horizontal rounded half to even, at least 1 when valid
    int rows = 0;
    int cellWidth = 0;
    int cellHeight = 0;
    qint64 width = 0;     // pixels; 64-bit so that oversized strips can be refused, not wrapped
    qint64 height = 0;

    bool valid() const { return columns > 0 && frameTotal > 0; }
    QPoint origin(int i) const;
};

Grid layout(int frameTotal, double horizontal, int cellWidth, int cellHeight);

// Rounds half to even, as the old platform's integer conversions did.
long long roundHalfEven(double value);

} // namespace strip
