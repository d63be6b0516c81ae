#include "strip/frames.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <vector>

#include <unistd.h>

#include "picture/bitmapfile.h"
#include "picture/nativepath.h"
#include "picture/surface.h"
#include "picture/threads.h"

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

// The first of paths whose declared size takes the list past maxBytes, or count when none does.
qsizetype firstOverBudget(const QStringList &paths, qsizetype count, qint64 maxBytes)
{
    qint64 declared = 0;
    for (qsizetype k = 0; k < count; ++k) {
        const QSize size = picture::declaredSize(paths[k]);
        declared += picture::decodedBytes(size.width(), size.height());
        if (declared > maxBytes)
            return k;
    }
    return count;
}

QString overBudget(const QString &path, qint64 maxBytes)
{
    return tr("Cannot load %1: it is too large; together with the pictures before it, it needs more "
              "than the %2 MB of memory one strip may use.")
        .arg(picture::displayPath(QFileInfo(path).absoluteFilePath()), megabytes(maxBytes));
}

} // namespace

qint64 defaultCommandMemory()
{
    constexpr qint64 most = qint64(6) * 1024 * 1024 * 1024;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return most;
    return std::min(most, qint64(pages) * pageSize / 2);
}

GatherResult loadPictures(const QStringList &paths, std::span<picture::PictureHolder *const> holders,
                          const CommandBudget &budget)
{
    GatherResult result;
    const qsizetype listed = std::min<qsizetype>(paths.size(), qsizetype(holders.size()));
    if (listed <= 0)
        return result;
    // Only the pictures before the one that would pass the budget are decoded; that one is
    // refused unless one of them fails first.
    const qsizetype overBudgetAt = firstOverBudget(paths, listed, budget.maxTotalBytes);
    const qsizetype count = overBudgetAt;

    // The files are decoded by worker threads, each taking the next file of the list, while the
    // caller waits: its event loop never runs in between. What they make is then taken in list
    // order, so the first failure in the list is the one reported, wherever it was found.
    struct Outcome {
        picture::Loaded loaded;
        std::exception_ptr thrown;
    };
    std::vector<Outcome> outcomes(static_cast<size_t>(count));
    std::atomic<qsizetype> next{0};
    std::atomic<bool> stop{false};
    std::atomic<qint64> decoded{0};
    auto work = [&] {
        // Files are taken in list order, so those taken always form the start of the list.
        // Once a file fails, or those decoded pass the budget, no other one is started.
        while (!stop.load()) {
            const qsizetype k = next.fetch_add(1);
            if (k >= count)
                return;
            Outcome &slot = outcomes[size_t(k)];
            try {
                slot.loaded = picture::load(paths[k], budget.picture, picture::Holding::WithOthers);
                if (!slot.loaded.ok()) {
                    stop = true;
                    continue;
                }
                const qint64 bytes = picture::decodedBytes(slot.loaded.image.width(), slot.loaded.image.height());
                if (decoded.fetch_add(bytes) + bytes > budget.maxTotalBytes)
                    stop = true;
            } catch (...) { // handed to the caller, in list order
                slot.thrown = std::current_exception();
                stop = true;
            }
        }
    };
    const int threads = int(std::min<qsizetype>(std::clamp(QThread::idealThreadCount(), 1, 8), count));
    picture::runOnThreads(threads, work);

    const qsizetype taken = std::min(next.load(), count);
    qint64 total = 0;
    for (qsizetype k = 0; k < taken; ++k) {
        Outcome &slot = outcomes[size_t(k)];
        if (slot.thrown)
            std::rethrow_exception(slot.thrown);
        picture::Loaded &loaded = slot.loaded;
        if (!loaded.ok()) {
            result.failure = std::move(loaded);
            return result;
        }
        total += picture::decodedBytes(loaded.image.width(), loaded.image.height());
        if (total > budget.maxTotalBytes) { // a size the header did not tell
            result.failure.error = picture::LoadError::TooLarge;
            result.failure.format = loaded.format;
            result.failure.message = overBudget(paths[k], budget.maxTotalBytes);
            return result;
        }
        holders[size_t(k)]->setPicture(std::move(loaded.image));
        result.loaded = int(k + 1);
    }
    if (overBudgetAt < listed) {
        result.failure.error = picture::LoadError::TooLarge;
        result.failure.message = overBudget(paths[overBudgetAt], budget.maxTotalBytes);
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

    QList<picture::Surface::Placement> placements;
    placements.reserve(frameTotal);
    for (int i = 0; i < frameTotal; ++i) {
        const QPoint at = grid.origin(i);
        placements.append({holders[size_t(i)]->picture(), at.x(), at.y()});
    }
    // Left as taking over clearimage and sizing it would leave it, then drawn: in one pass
    // over the strip's memory.
    if (strip.clearAndDraw(int(grid.width), int(grid.height), placements))
        return result;

    // Not enough memory for it: step by step, so that the strip is left as every such failure
    // leaves it, or made after all if memory was freed meanwhile.
    strip.takeOver(clearimage);
    // Height before width, each on its own: every new pixel takes the background colour.
    if (!strip.setHeight(int(grid.height)) || !strip.setWidth(int(grid.width))) {
        result.ok = false;
        result.message = tr("The strip cannot be made: there is not enough memory for %1.").arg(size);
        return result;
    }
    strip.drawInOrder(placements);
    return result;
}

} // namespace strip
