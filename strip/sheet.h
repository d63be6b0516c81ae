#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace strip {

// Which way a sheet's cells are filled: along each row first, or down each column first.
enum class Fill { Rows, Columns };

// How the command line lays out a sheet. The defaults lay it out as the window does.
struct SheetOptions {
    int columns = 10;        // cells a row; lowered to the frame total
    Fill fill = Fill::Rows;
    int padding = 0;         // pixels between cells
    int margin = 0;          // pixels around the sheet
    QSize cell;              // empty: the first picture's size
    bool clip = false;       // a picture larger than its cell is cut at the cell's edge
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
    Fill fill = Fill::Rows;
    qint64 width = 0;
    qint64 height = 0;

    // Top-left corner of frame i's cell. Both fills use the same cells, the first frameTotal in
    // reading order, so that every column asked for is used; filling by columns takes them
    // top to bottom, a column at a time, the last row's columns first.
    QPoint origin(int i) const;
    // Frame i's whole cell.
    QRect cellRect(int i) const { return QRect(origin(i), cell); }
    // The part of the sheet that frame i, of that size, covers: cut at the sheet's edges and,
    // when clipping, at its cell's. Empty when nothing of it shows.
    QRect covered(int i, QSize picture) const;
    // The first pixel row of cell row r (0 for the first row, so the margin goes with it); the
    // sheet's height for r == rows.
    qint64 rowTop(int r) const;
};

Sheet arrangeSheet(int frameTotal, QSize firstPicture, const SheetOptions &options);

} // namespace strip
