#include "strip/sheet.h"

#include <algorithm>

namespace strip {

Sheet arrangeSheet(int frameTotal, QSize firstPicture, const SheetOptions &options)
{
    Sheet sheet;
    sheet.frameTotal = std::max(frameTotal, 0);
    sheet.columns = std::clamp(options.columns, 1, std::max(sheet.frameTotal, 1));
    sheet.rows = (sheet.frameTotal + sheet.columns - 1) / sheet.columns;
    sheet.cell = options.cell.isEmpty() ? firstPicture : options.cell;
    sheet.padding = options.padding;
    sheet.margin = options.margin;
    sheet.clip = options.clip;
    sheet.fill = options.fill;
    auto side = [&](int cells, int cellSide) {
        return cells > 0 ? 2 * qint64(sheet.margin) + qint64(cells) * cellSide + qint64(cells - 1) * sheet.padding : 0;
    };
    sheet.width = side(sheet.columns, sheet.cell.width());
    sheet.height = side(sheet.rows, sheet.cell.height());
    return sheet;
}

QPoint Sheet::origin(int i) const
{
    if (columns <= 0 || rows <= 0)
        return {};
    int column = i % columns;
    int row = i / columns;
    if (fill == Fill::Columns) {
        // The first `tall` columns reach the last row; the others end a row above it.
        const int tall = frameTotal - columns * (rows - 1);
        if (i < tall * rows) {
            column = i / rows;
            row = i % rows;
        } else {
            column = tall + (i - tall * rows) / (rows - 1);
            row = (i - tall * rows) % (rows - 1);
        }
    }
    return QPoint(int(margin + qint64(column) * (cell.width() + padding)),
                  int(margin + qint64(row) * (cell.height() + padding)));
}

QRect Sheet::covered(int i, QSize picture) const
{
    const QPoint at = origin(i);
    qint64 right = qint64(at.x()) + picture.width();
    qint64 bottom = qint64(at.y()) + picture.height();
    if (clip) {
        right = std::min(right, qint64(at.x()) + cell.width());
        bottom = std::min(bottom, qint64(at.y()) + cell.height());
    }
    right = std::min(right, width);
    bottom = std::min(bottom, height);
    if (right <= at.x() || bottom <= at.y())
        return {};
    return QRect(at.x(), at.y(), int(right - at.x()), int(bottom - at.y()));
}

qint64 Sheet::rowTop(int r) const
{
    if (r <= 0)
        return 0;
    if (r >= rows)
        return height;
    return margin + qint64(r) * (cell.height() + padding);
}

} // namespace strip
