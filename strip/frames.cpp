#include "strip/frames.h"

#include <QCoreApplication>

#include <limits>

#include "picture/bitmapfile.h"
#include "picture/surface.h"

namespace strip {

namespace {

constexpr int maxCellSide = 32767; // bmp_width and bmp_height are 16-bit fields

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

} // namespace

GatherResult loadPictures(const QStringList &paths, std::span<picture::PictureHolder *const> holders,
                          const CommandBudget &budget)
{
    GatherResult result;
    qint64 total = 0;
    const qsizetype count = std::min<qsizetype>(paths.size(), qsizetype(holders.size()));
    for (qsizetype k = 0; k < count; ++k) {
        picture::Loaded loaded = picture::load(paths[k], budget.picture);
        if (!loaded.ok()) {
            result.failure = std::move(loaded);
            return result;
        }
        total += picture::decodedBytes(loaded.image.width(), loaded.image.height());
        if (total > budget.maxTotalBytes) {
            result.failure.error = picture::LoadError::TooLarge;
            result.failure.format = loaded.format;
            result.failure.message =
                tr("Cannot load %1: it is too large; together with the pictures before it, it needs more "
                   "than the %2 MB of memory one strip may use.")
                    .arg(paths[k], megabytes(budget.maxTotalBytes));
            return result;
        }
        holders[size_t(k)]->setPicture(std::move(loaded.image));
        result.loaded = int(k + 1);
    }
    return result;
}

ComposeResult compose(std::span<picture::PictureHolder *const> holders, int frameTotal, double horizontal,
                      picture::Surface &strip, const picture::Surface &clearimage,
                      qint16 &bmpWidth, qint16 &bmpHeight, const CommandBudget &budget)
{
    ComposeResult result;
    if (frameTotal <= 0 || qsizetype(holders.size()) < frameTotal) {
        result.ok = false;
        result.message = tr("The strip cannot be made: it has no pictures.");
        return result;
    }
    const int cellHeight = holders[0]->height();
    const int cellWidth = holders[0]->width();
    if (cellWidth > maxCellSide || cellHeight > maxCellSide) {
        result.ok = false;
        result.message = tr("The strip cannot be made: its first picture is %1 x %2 pixels; a frame may be at "
                            "most 32767 pixels a side.")
                             .arg(cellWidth)
                             .arg(cellHeight);
        return result;
    }
    bmpHeight = qint16(cellHeight);
    bmpWidth = qint16(cellWidth);

    result.grid = layout(frameTotal, horizontal, cellWidth, cellHeight);
    const Grid &grid = result.grid;
    if (!grid.valid()) {
        result.ok = false;
        result.message = tr("The strip cannot be made: %1 horizontal frames give no column to lay out.")
                             .arg(QString::number(horizontal));
        return result;
    }
    const QString size = tr("%1 x %2 pixels").arg(grid.width).arg(grid.height);
    constexpr qint64 intMax = std::numeric_limits<int>::max();
    if (grid.width > intMax || grid.height > intMax || grid.width <= 0 || grid.height <= 0
        || picture::bitmapFileSize(int(grid.width), int(grid.height)) < 0) {
        result.ok = false;
        result.message = tr("The strip cannot be made: at %1 it is too large for a bitmap file, which holds at "
                            "most 4 GB.")
                             .arg(size);
        return result;
    }
    qint64 needed = grid.width * grid.height * 3;
    for (int i = 0; i < frameTotal; ++i)
        needed += picture::decodedBytes(holders[size_t(i)]->width(), holders[size_t(i)]->height());
    if (needed > budget.maxTotalBytes) {
        result.ok = false;
        result.message = tr("The strip cannot be made: at %1 it needs more than the %2 MB of memory one "
                            "strip may use.")
                             .arg(size, megabytes(budget.maxTotalBytes));
        return result;
    }

    strip.takeOver(clearimage);
    // Height before width, each on its own: every new pixel takes the background colour.
    if (!strip.setHeight(int(grid.height)) || !strip.setWidth(int(grid.width))) {
        result.ok = false;
        result.message = tr("The strip cannot be made: there is not enough memory for %1.").arg(size);
        return result;
    }
    for (int i = 0; i < frameTotal; ++i) {
        const QPoint at = grid.origin(i);
        strip.draw(holders[size_t(i)]->picture(), at.x(), at.y());
    }
    return result;
}

} // namespace strip
