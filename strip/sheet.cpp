#include "strip/sheet.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace strip {

Sheet arrangeSheet(int frameTotal, QSize firstPicture, const SheetOptions &options, const QList<int> &places)
{
    Sheet sheet;
    sheet.frameTotal = places.isEmpty() ? std::max(frameTotal, 0) : int(places.size());
    if (places.isEmpty()) {
        sheet.columns = std::clamp(options.columns, 1, std::max(sheet.frameTotal, 1));
        sheet.rows = (sheet.frameTotal + sheet.columns - 1) / sheet.columns;
    } else {
        sheet.columns = std::max(options.columns, 1);
        sheet.rows = *std::max_element(places.begin(), places.end()) / sheet.columns + 1;
        sheet.places = places;
        sheet.fill = Fill::Rows;
    }
    sheet.cell = options.cell.isEmpty() ? firstPicture : options.cell;
    sheet.sourceCell = options.sourceCell;
    sheet.trim = options.trim;
    sheet.padding = options.padding;
    sheet.margin = options.margin;
    sheet.clip = options.clip;
    sheet.anchor = options.anchor;
    sheet.extrude = options.extrude;
    if (places.isEmpty())
        sheet.fill = options.fill;
    sheet.scale = std::max(options.scale, 1);
    // Each cell takes its extruded edges with it: they are part of the step from cell to cell.
    auto side = [&](int cells, int cellSide) {
        return cells > 0 ? 2 * qint64(sheet.margin) + qint64(cells) * (cellSide + 2 * qint64(sheet.extrude))
                               + qint64(cells - 1) * sheet.padding
                         : 0;
    };
    sheet.width = side(sheet.columns, sheet.cell.width());
    sheet.height = side(sheet.rows, sheet.cell.height());
    if (options.powerOfTwo) {
        auto up = [](qint64 v) {
            qint64 p = 1;
            while (p < v && p < (qint64(1) << 40))
                p <<= 1;
            return p;
        };
        sheet.width = up(sheet.width);
        sheet.height = up(sheet.height);
    }
    return sheet;
}

long long roundHalfEven(double value)
{
    constexpr double limit = 9.0e18; // beyond it there is no fraction left to round
    if (std::isnan(value))
        return 0;
    if (value >= limit)
        return std::numeric_limits<long long>::max();
    if (value <= -limit)
        return std::numeric_limits<long long>::min();
    // The default floating-point rounding mode takes halves to the even neighbour.
    return static_cast<long long>(std::nearbyint(value));
}

Sheet windowSheet(int frameTotal, double horizontal, QSize cell)
{
    Sheet sheet;
    sheet.frameTotal = std::max(frameTotal, 0);
    sheet.cell = cell;
    sheet.windowColumns = horizontal;
    if (!(horizontal > 0) || frameTotal <= 0)
        return sheet;
    sheet.columns = int(std::min<long long>(roundHalfEven(horizontal), std::numeric_limits<int>::max()));
    if (sheet.columns <= 0)
        return sheet;
    sheet.rows = frameTotal / sheet.columns + (frameTotal % sheet.columns > 0 ? 1 : 0);
    // Far too large values stay far too large, never wrap.
    const double width = horizontal * double(cell.width());
    sheet.width = width < 4.0e18 ? std::llround(width) : std::numeric_limits<qint64>::max();
    sheet.height = qint64(sheet.rows) * cell.height();
    return sheet;
}

Sheet packedSheet(const QList<Sheet::Packed> &frames, QSize page, int padding, int margin, int extrude, int scale,
                  bool anticlockwise)
{
    Sheet sheet;
    sheet.frameTotal = int(frames.size());
    sheet.columns = std::max(sheet.frameTotal, 1);
    sheet.rows = 1; // one row of bands: they are cut by bytes alone
    sheet.packed = frames;
    sheet.anticlockwise = anticlockwise;
    sheet.padding = padding;
    sheet.margin = margin;
    sheet.extrude = extrude;
    sheet.clip = true;
    sheet.scale = std::max(scale, 1);
    sheet.width = page.width();
    sheet.height = page.height();
    return sheet;
}

QRect turned(const QRect &r, QSize picture, bool anticlockwise)
{
    if (anticlockwise)
        return QRect(r.y(), picture.width() - r.x() - r.width(), r.height(), r.width());
    return QRect(picture.height() - r.y() - r.height(), r.x(), r.height(), r.width());
}

QRect unturned(const QRect &r, QSize picture, bool anticlockwise)
{
    if (anticlockwise)
        return QRect(picture.width() - r.y() - r.height(), r.x(), r.height(), r.width());
    return QRect(r.y(), picture.height() - r.x() - r.width(), r.height(), r.width());
}

QPoint Sheet::origin(int i) const
{
    if (!packed.isEmpty())
        return packed[i].rect.topLeft();
    if (columns <= 0 || rows <= 0)
        return {};
    if (windowColumns > 0) {
        const qint64 column = i < windowColumns ? i : i % columns;
        return QPoint(int(column * cell.width()), int(qint64(i / columns) * cell.height()));
    }
    const int place = places.isEmpty() ? i : places.value(i);
    int column = place % columns;
    int row = place / columns;
    if (fill == Fill::Columns && places.isEmpty()) {
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
    return QPoint(int(margin + extrude + qint64(column) * (cell.width() + 2 * extrude + padding)),
                  int(margin + extrude + qint64(row) * (cell.height() + 2 * extrude + padding)));
}

namespace {

// Floor division, so that a picture larger than its cell is centred the same way as a smaller one.
qint64 halfOf(qint64 v)
{
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

} // namespace

QPoint Sheet::placed(int i, QSize picture) const
{
    if (!packed.isEmpty()) {
        const Packed &p = packed[i];
        return p.rect.topLeft() - (p.rotated ? strip::turned(p.sourceRect, p.sourceSize, anticlockwise) : p.sourceRect).topLeft();
    }
    const QPoint at = origin(i) - trim;
    if (anchor == Anchor::TopLeft)
        return at;
    // Centred in unscaled pixels, then enlarged: the cell and every picture are whole multiples
    // of the scale, so the enlarged sheet is the unscaled one, pixel block for pixel.
    const QSize whole = sourceCell.isEmpty() ? cell : sourceCell;
    const qint64 s = std::max(scale, 1);
    const qint64 x = at.x() + halfOf((qint64(whole.width()) - picture.width()) / s) * s;
    const qint64 y = at.y()
        + (anchor == Anchor::Center ? halfOf((qint64(whole.height()) - picture.height()) / s) * s
                                    : qint64(whole.height()) - picture.height());
    return QPoint(int(x), int(y));
}

Sheet::Drawn Sheet::drawnAt(int i, const QRect &rect) const
{
    const QRect own = cellRect(i);
    const QPoint at = own.topLeft();
    const qint64 x = rect.x();
    const qint64 y = rect.y();
    qint64 left = x, top = y;
    qint64 right = x + rect.width();
    qint64 bottom = y + rect.height();
    if (clip) {
        left = std::max<qint64>(left, at.x());
        top = std::max<qint64>(top, at.y());
        right = std::min(right, qint64(at.x()) + own.width());
        bottom = std::min(bottom, qint64(at.y()) + own.height());
    }
    left = std::max<qint64>(left, 0);
    top = std::max<qint64>(top, 0);
    right = std::min(right, width);
    bottom = std::min(bottom, height);
    if (right <= left || bottom <= top)
        return {};
    return {QRect(int(left), int(top), int(right - left), int(bottom - top)), QPoint(int(left - x), int(top - y))};
}

QRect Sheet::reach(int i, const Drawn &d) const
{
    if (extrude <= 0 || d.shown.isEmpty())
        return d.shown;
    return d.shown.united(cellRect(i).adjusted(-extrude, -extrude, extrude, extrude));
}

qint64 Sheet::rowTop(int r) const
{
    if (r <= 0)
        return 0;
    if (r >= rows)
        return height;
    return margin + qint64(r) * (cell.height() + 2 * qint64(extrude) + padding);
}

} // namespace strip
