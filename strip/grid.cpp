#include "strip/grid.h"

#include <cmath>
#include <limits>

namespace strip {

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

Grid layout(int frameTotal, double horizontal, int cellWidth, int cellHeight)
{
    Grid grid;
    grid.frameTotal = frameTotal;
    grid.horizontal = horizontal;
    grid.cellWidth = cellWidth;
    grid.cellHeight = cellHeight;
    if (!(horizontal > 0) || frameTotal <= 0)
        return grid;
    grid.columns = int(std::min<long long>(roundHalfEven(horizontal), std::numeric_limits<int>::max()));
    if (grid.columns <= 0)
        return grid;
    grid.rows = frameTotal / grid.columns + (frameTotal % grid.columns > 0 ? 1 : 0);
    // The width follows the real count; a product that is not whole is rounded to the nearest
    // pixel, halves away from zero. Far too large values stay far too large, never wrap.
    const double width = horizontal * double(cellWidth);
    grid.width = width < 4.0e18 ? std::llround(width) : std::numeric_limits<qint64>::max();
    grid.height = qint64(grid.rows) * cellHeight;
    return grid;
}

QPoint Grid::origin(int i) const
{
    if (!valid())
        return {};
    const qint64 column = i < horizontal ? i : i % columns;
    return QPoint(int(column * cellWidth), int(qint64(i / columns) * cellHeight));
}

} // namespace strip
