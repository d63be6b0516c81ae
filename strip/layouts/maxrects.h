#pragma once

#include <QList>
#include <QPoint>
#include <QSize>

namespace strip {

// How rectangles go into pages.
struct PackOptions {
    int padding = 0;         // clear pixels between any two rectangles (not at a page's edge)
    int margin = 0;          // clear pixels between every rectangle and its page's edges
    int maxSide = 4096;      // pages of at most this many pixels a side (with powerOfTwo, the
                             // largest power of two within it); 0: no limit, one page
    bool rotate = false;     // a rectangle may be turned by 90 degrees
    bool powerOfTwo = false; // page sides are powers of two
    int threads = 0;         // trials on this many threads; 0: one a core (at most eight)
};

// Where one rectangle went.
struct PackedRect {
    int page = -1;
    QPoint topLeft;       // in its page, margin included
    bool rotated = false; // turned: it covers its height across and its width down
};

// A packing, or why there is none.
struct Packing {
    enum class Refusal { None, Empty, TooLarge };
    // Each page's whole size: margin + rectangles + padding between them + margin (rounded up
    // to powers of two when asked, the extra going to the right and bottom).
    QList<QSize> pages;
    QList<PackedRect> rects; // one for each input rectangle, in input order
    Refusal refusal = Refusal::None;
    int refused = -1; // the first rectangle refused (smaller than 1 x 1, or larger than a page
                      // of maxSide after the margin); then pages and rects are empty
};

// Packs sizes into as few and as small pages as the MaxRects free-rectangle method finds in a
// fixed set of trials (placement rules, sort orders, page sizes): the same for any thread count.
Packing packRectangles(const QList<QSize> &sizes, const PackOptions &options);

// Sum of the rectangles' areas over the sum of the pages' areas; 0 for no pages.
double packingOccupancy(const QList<QSize> &sizes, const Packing &packing);

} // namespace strip
