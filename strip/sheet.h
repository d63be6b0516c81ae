#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace strip {

// Which way a sheet's cells are filled: along each row first, or down each column first.
enum class Fill { Rows, Columns };

// Where a picture of another size than its cell sits in the cell.
enum class Anchor { TopLeft, Center, Bottom }; // Bottom: bottom centre, where a character stands

// How the command line lays out a sheet. The defaults lay it out as the window does.
struct SheetOptions {
    int columns = 10;        // cells a row; lowered to the frame total
    Fill fill = Fill::Rows;
    int padding = 0;         // pixels between cells
    int margin = 0;          // pixels around the sheet
    QSize cell;              // empty: the first picture's size
    bool clip = false;       // a picture larger than its cell is cut at the cell's edge
    Anchor anchor = Anchor::TopLeft;
    int extrude = 0;         // pixels each cell's edge is repeated outward (needs clip)
    bool powerOfTwo = false; // sides rounded up to powers of two, the rest background
    int scale = 1;           // frames enlarged this many times; the cell is given enlarged
    // Trimmed cells: the cell is the part of sourceCell, at trim, that some frame shows.
    QSize sourceCell;        // empty: not trimmed
    QPoint trim;
};

// A sheet of frameTotal equal cells; sizes in 64-bit so that impossible sheets can be refused.
struct Sheet {
    int frameTotal = 0;
    int columns = 0;
    int rows = 0;
    QSize cell;
    int padding = 0;
    int margin = 0;
    bool clip = false;
    Anchor anchor = Anchor::TopLeft;
    int extrude = 0;
    Fill fill = Fill::Rows;
    // Frames are enlarged this many times: a picture sits in its cell where the unscaled
    // picture sits in the unscaled cell, so that every cell is its unscaled self enlarged.
    int scale = 1;
    qint64 width = 0;
    qint64 height = 0;
    // The window's own count of frames a row, which need not be whole: the sheet's width
    // follows it, and frame i stays at column i while i is below it. 0 for the command line.
    double windowColumns = 0;
    // The grid place of each frame, counted along the rows, when frames do not take the places
    // one after another (each animation starting a row); empty: frame i is at place i.
    QList<int> places;
    // A trimmed sheet's cells are the part of each whole cell, sourceCell, at trim that shows
    // something; pictures sit in the whole cell as the anchor puts them.
    QSize sourceCell;
    QPoint trim;
    // A packed page's frames, each in a rectangle of its own; empty on a grid, where frames
    // take the cells above.
    struct Packed {
        QRect rect;          // where its shown pixels sit on the page, turned when rotated
        QRect sourceRect;    // the part of its picture shown there, in the picture's own orientation
        QSize sourceSize;    // its picture's whole size
        bool rotated = false; // turned a quarter, clockwise unless the page turns them anticlockwise
    };
    QList<Packed> packed;
    bool anticlockwise = false; // libGDX turns its regions back the other way from the rest

    bool valid() const { return columns > 0 && frameTotal > 0; }
    bool grid() const { return packed.isEmpty(); }
    bool turned(int i) const { return !packed.isEmpty() && packed[i].rotated; }

    // Top-left corner of frame i's cell. Both fills use the same cells, the first frameTotal in
    // reading order, so that every column asked for is used; filling by columns takes them
    // top to bottom, a column at a time, the last row's columns first.
    QPoint origin(int i) const;
    // Frame i's cell: where an engine finds the frame.
    QRect cellRect(int i) const { return packed.isEmpty() ? QRect(origin(i), cell) : packed[i].rect; }

    // What shows of frame i when the picture has that size: the part of the sheet it covers,
    // cut at the sheet's edges and, when clipping, at its cell's; and the picture's pixel that
    // lands on that part's top-left corner. shown is empty when nothing of it shows.
    struct Drawn {
        QRect shown;
        QPoint from;
    };
    Drawn drawn(int i, QSize picture) const { return drawnAt(i, QRect(placed(i, picture), picture)); }
    // The same for a rectangle of the sheet that belongs to frame i (where its picture goes,
    // or more around it); from is then the rectangle's pixel.
    Drawn drawnAt(int i, const QRect &rect) const;
    // Where frame i's picture of that size has its top-left corner, by the anchor; outside the
    // cell when the picture is larger than it. A packed frame's picture, turned when rotated,
    // sits so that its shown part fills its rectangle.
    QPoint placed(int i, QSize picture) const;
    // The part of the sheet that frame i, of that size, covers.
    QRect covered(int i, QSize picture) const { return drawn(i, picture).shown; }
    // The part of the sheet that drawing frame i as d touches, its cell's extruded edges included.
    QRect reach(int i, const Drawn &d) const;
    // The first pixel row of cell row r (0 for the first row, so the margin goes with it); the
    // sheet's height for r == rows.
    qint64 rowTop(int r) const;
};

// The sheet of frameTotal frames; with places, frame i at grid place places[i] (frameTotal is
// then places' size, and the columns are taken as given).
Sheet arrangeSheet(int frameTotal, QSize firstPicture, const SheetOptions &options, const QList<int> &places = {});

// The page of frames packed into their own rectangles, each clipped to it: width x height
// pixels, its edges extruded and the frames enlarged scale times.
Sheet packedSheet(const QList<Sheet::Packed> &frames, QSize page, int padding, int margin, int extrude, int scale,
                  bool anticlockwise);

// r, a rectangle of a picture of that size, where it lies once the picture is turned a quarter
// (clockwise, or anticlockwise); unturned() takes it back.
QRect turned(const QRect &r, QSize picture, bool anticlockwise);
QRect unturned(const QRect &r, QSize picture, bool anticlockwise);

// The window's strip: frameTotal cells of cell's size, horizontal of them a row. A count that is
// not whole gives the width from its real value (rounded to the nearest pixel, halves away from
// zero); the columns are the count rounded half to even. Not valid() when that leaves no column.
Sheet windowSheet(int frameTotal, double horizontal, QSize cell);

// Rounds half to even, as the window's frame counts have always been turned into columns.
long long roundHalfEven(double value);

} // namespace strip
