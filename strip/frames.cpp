#include "strip/frames.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "picture/codecs/bitmapfile.h"
#include "picture/base/nativepath.h"
#include "picture/base/threads.h"
#include "strip/sheetcheck.h"

namespace strip {

namespace {

constexpr int maxCellSide = 32767; // bmp_width and bmp_height are 16-bit fields

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

QString overBudget(const QString &name, qint64 maxBytes)
{
    return tr("Cannot load %1: it is too large; together with the pictures before it, it needs more "
              "than the %2 MiB of memory one strip may use.")
        .arg(name, picture::mebibytes(maxBytes));
}

} // namespace

GatherResult gather(const QStringList &paths, const picture::Budget &budget, const GatherOptions &options)
{
    GatherResult result;
    const qsizetype listed = paths.size();
    if (listed <= 0)
        return result;

    // Every file is opened once, its header read, then decoded from the same bytes. A worker
    // thread's failure is a refusal of that file, never an exception out of the command.
    std::vector<picture::Source> sources(static_cast<size_t>(listed));
    std::vector<picture::Loaded> decoded(static_cast<size_t>(listed));
    auto guarded = [&](qsizetype k, auto step) {
        try {
            step();
        } catch (const std::bad_alloc &) {
            decoded[size_t(k)] = picture::refusedAsDamaged(sources[size_t(k)].name(), picture::outOfMemory(),
                                                           sources[size_t(k)].format());
        }
    };
    auto nameOf = [&](qsizetype k) {
        return picture::displayPath(options.namesAsGiven ? paths[k] : QFileInfo(paths[k]).absoluteFilePath());
    };
    picture::forEachOnThreads(listed, [&](qsizetype k) {
        guarded(k, [&] { sources[size_t(k)] = picture::Source::open(paths[k], nameOf(k), budget, options.allFrames); });
    });

    if (!options.decodeAhead) {
        // Each picture is decoded when its rows of the sheet come; what they hold then is the
        // plan's to count.
        for (qsizetype k = 0; k < listed; ++k) {
            if (!sources[size_t(k)].ok() || !decoded[size_t(k)].ok()) {
                result.failure = !decoded[size_t(k)].ok() ? decoded[size_t(k)] : sources[size_t(k)].refusal();
                return result;
            }
            const picture::Source &source = sources[size_t(k)];
            SheetSource sheetSource;
            sheetSource.path = paths[k];
            sheetSource.allFrames = source.allFrames();
            sheetSource.frames = source.frames();
            sheetSource.size = source.size();
            sheetSource.picture = source;
            result.pictures.append(std::move(sheetSource));
        }
        return result;
    }

    // Only the pictures before the one that would pass the budget are decoded; that one is
    // refused unless one of them fails first.
    qsizetype count = listed;
    qint64 declared = 0;
    for (qsizetype k = 0; k < listed; ++k) {
        if (!sources[size_t(k)].ok() || !decoded[size_t(k)].ok()) {
            count = k + 1;
            break;
        }
        declared += sources[size_t(k)].chargedBytes();
        if (declared > budget.maxTotalBytes) {
            count = k;
            break;
        }
    }

    // Files are taken in list order, so those taken always form the start of the list; once
    // one fails, no other one is started. What they make is then taken in list order, so the
    // first failure in the list is the one reported, wherever it was found.
    std::atomic<bool> stop{false};
    picture::forEachOnThreads(count, [&](qsizetype k) {
        guarded(k, [&] {
            if (decoded[size_t(k)].ok())
                decoded[size_t(k)] = sources[size_t(k)].decode(picture::Holding::WithOthers);
        });
        if (!decoded[size_t(k)].ok())
            stop = true;
    }, [&] { return !stop.load(); });

    qint64 total = 0;
    for (qsizetype k = 0; k < count; ++k) {
        picture::Loaded &loaded = decoded[size_t(k)];
        if (!loaded.ok()) {
            result.failure = std::move(loaded);
            return result;
        }
        if (loaded.image.isNull()) // never reached: a failure before it stopped the others
            break;
        total += picture::decodedBytes(loaded.image.width(), loaded.image.height());
        if (total > budget.maxTotalBytes) { // a size the header did not tell
            result.failure.error = picture::LoadError::TooLarge;
            result.failure.format = loaded.format;
            result.failure.message = overBudget(sources[size_t(k)].name(), budget.maxTotalBytes);
            return result;
        }
        SheetSource picture;
        picture.path = paths[k];
        picture.size = loaded.image.size();
        picture.picture = sources[size_t(k)];
        picture.picture.release(); // decoded: its file's bytes are no longer needed
        picture.decoded = {std::move(loaded.image)};
        result.pictures.append(std::move(picture));
    }
    if (count < listed && result.failure.ok()) {
        result.failure.error = picture::LoadError::TooLarge;
        result.failure.message = overBudget(nameOf(count), budget.maxTotalBytes);
    }
    return result;
}

StripPlan planStrip(const QList<SheetSource> &pictures, int frameTotal, double horizontal, const picture::Budget &budget)
{
    StripPlan plan;
    if (frameTotal <= 0 || pictures.size() < frameTotal) {
        plan.ok = false;
        plan.message = tr("The strip cannot be made: it has no pictures.");
        return plan;
    }
    const QSize cell = pictures.first().size;
    if (cell.width() > maxCellSide || cell.height() > maxCellSide) {
        plan.ok = false;
        plan.message = tr("The strip cannot be made: its first picture is %1 x %2 pixels; a frame may be at "
                          "most 32767 pixels a side.")
                           .arg(cell.width())
                           .arg(cell.height());
        return plan;
    }
    plan.cell = cell;
    SheetJob &job = plan.job;
    job.sheet = windowSheet(frameTotal, horizontal, cell);
    const Sheet &sheet = job.sheet;
    if (!sheet.valid()) {
        plan.ok = false;
        plan.message = tr("The strip cannot be made: %1 horizontal frames give no column to lay out.")
                           .arg(QString::number(horizontal));
        return plan;
    }
    job.budget = budget;
    job.sources = pictures.mid(0, frameTotal);
    for (int i = 0; i < frameTotal; ++i)
        job.frames.append({i, 0});
    if (const QString refusal = sheetRefusal(job, SheetFormat::Bmp, tr("The strip cannot be made")); !refusal.isEmpty()) {
        plan.ok = false;
        plan.message = refusal;
    }
    return plan;
}

} // namespace strip
