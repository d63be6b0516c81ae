#include "strip/bands.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <vector>

#include "picture/animation.h"
#include "picture/threads.h"

namespace strip {

namespace {

// Small enough to stay a small part of the memory a sheet takes, large enough that a band's
// pictures are drawn with few passes.
constexpr qint64 bandBytes = qint64(4) << 20;

struct Lifetime {
    int first = -1;    // band index in composing order
    int last = -1;
    int decodedAt = -1; // the band that decodes it: its first, or an earlier one
};

// Small pictures are decoded ahead, with those of the bands before them, as long as the
// pictures decoded together stay within this: a sheet of icons is then decoded in a few large
// batches instead of a small one for every row.
constexpr qint64 aheadBytes = qint64(16) << 20;

qint64 sourceBytes(const SheetSource &s)
{
    return picture::decodedBytes(s.size.width(), s.size.height()) * (s.allFrames ? s.frames : 1);
}

bool overlaps(const QRect &r, const Band &band)
{
    return !r.isEmpty() && r.top() < band.end && qint64(r.top()) + r.height() > band.top;
}

// When each source is first and last needed, in composing order.
std::vector<Lifetime> lifetimes(const SheetJob &job, const QList<Band> &bands)
{
    std::vector<Lifetime> result(size_t(job.sources.size()));
    for (int i = 0; i < job.frames.size(); ++i) {
        const SheetFrame &f = job.frames[i];
        const QRect r = job.sheet.covered(i, job.sources[f.source].size);
        Lifetime &life = result[size_t(f.source)];
        for (int b = 0; b < bands.size(); ++b) {
            if (!overlaps(r, bands[b]))
                continue;
            life.first = life.first < 0 ? b : std::min(life.first, b);
            life.last = std::max(life.last, b);
        }
    }
    // Batches: a band that needs new pictures starts one, and takes those of the next bands
    // while they fit.
    std::vector<std::vector<int>> firstAt(size_t(bands.size()));
    for (size_t s = 0; s < result.size(); ++s)
        if (result[s].first >= 0)
            firstAt[size_t(result[s].first)].push_back(int(s));
    for (int b = 0; b < bands.size();) {
        qint64 batch = 0;
        int next = b;
        for (; next < bands.size(); ++next) {
            qint64 bytes = 0;
            for (int s : firstAt[size_t(next)])
                bytes += sourceBytes(job.sources[s]);
            if (next > b && batch + bytes > aheadBytes)
                break;
            batch += bytes;
            for (int s : firstAt[size_t(next)])
                result[size_t(s)].decodedAt = b;
        }
        b = next;
    }
    return result;
}

// A source's frames, decoded; a refusal names the file.
struct Decoded {
    QList<QImage> frames;
    QString error;
};

Decoded decode(const SheetSource &source, const picture::Budget &budget)
{
    Decoded result;
    if (!source.allFrames) {
        // Into the shared large-page memory the window's pictures use: on some machines the
        // page faults of fresh memory cost more than the decoding itself.
        picture::Loaded loaded = picture::load(source.path, budget, picture::Holding::WithOthers);
        if (!loaded.ok())
            result.error = loaded.message;
        else
            result.frames.append(std::move(loaded.image));
        return result;
    }
    QFile file(source.path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QCoreApplication::translate("strip", "Cannot load %1: the file cannot be read (%2).")
                           .arg(source.path, file.errorString());
        return result;
    }
    picture::Animation animation = picture::loadAnimation(file.readAll(), source.path, budget);
    if (!animation.refusal.ok())
        result.error = animation.refusal.message;
    result.frames = std::move(animation.frames);
    return result;
}

} // namespace

bool probeSource(SheetSource &source, const picture::Budget &budget, QString *error)
{
    QFile file(source.path);
    const QFileInfo info(source.path);
    if (!info.exists())
        *error = QCoreApplication::translate("strip", "Cannot load %1: the file does not exist.").arg(source.path);
    else if (!info.isFile())
        *error = QCoreApplication::translate("strip", "Cannot load %1: it is not a regular file.").arg(source.path);
    else if (!file.open(QIODevice::ReadOnly))
        *error = QCoreApplication::translate("strip", "Cannot load %1: the file cannot be read (%2).")
                     .arg(source.path, file.errorString());
    if (!error->isEmpty())
        return false;
    const QByteArray data = file.readAll();
    const picture::Inspected inspected = picture::inspect(data, source.path, budget);
    picture::Loaded refusal = inspected.refusal;
    source.frames = 1;
    if (refusal.ok() && source.allFrames && refusal.format == picture::Format::Gif)
        source.frames = picture::countFrames(data, source.path, budget, &refusal);
    source.allFrames = source.allFrames && refusal.format == picture::Format::Gif;
    if (!refusal.ok()) {
        *error = refusal.message;
        return false;
    }
    source.size = QSize(inspected.width, inspected.height);
    source.format = refusal.format;
    return true;
}

QList<Band> planBands(const SheetJob &job, BandOrder order)
{
    QList<Band> bands;
    const qint64 rowBytes = std::max<qint64>(1, job.sheet.width * job.bytesPerPixel);
    const qint64 most = std::max<qint64>(1, bandBytes / rowBytes);
    for (int r = 0; r < job.sheet.rows; ++r) {
        const qint64 top = job.sheet.rowTop(r);
        const qint64 end = job.sheet.rowTop(r + 1);
        // Equal parts, so that one canvas serves them all.
        const qint64 parts = (end - top + most - 1) / most;
        const qint64 rows = (end - top + parts - 1) / parts;
        for (qint64 y = top; y < end; y += rows)
            bands.append({y, std::min(end, y + rows)});
    }
    if (order == BandOrder::BottomUp)
        std::reverse(bands.begin(), bands.end());
    return bands;
}

qint64 peakBytes(const SheetJob &job, BandOrder order)
{
    const QList<Band> bands = planBands(job, order);
    const std::vector<Lifetime> lives = lifetimes(job, bands);
    qint64 peak = 0;
    for (int b = 0; b < bands.size(); ++b) {
        qint64 held = (bands[b].end - bands[b].top) * job.sheet.width * job.bytesPerPixel;
        for (size_t s = 0; s < lives.size(); ++s)
            if (lives[s].decodedAt >= 0 && lives[s].decodedAt <= b && b <= lives[s].last)
                held += sourceBytes(job.sources[qsizetype(s)]);
        peak = std::max(peak, held);
    }
    return peak;
}

bool composeInBands(const SheetJob &job, BandOrder order, const BandCanvas &canvas, QString *error,
                    const std::function<void(int done, int total)> &progress)
{
    const QList<Band> bands = planBands(job, order);
    const std::vector<Lifetime> lives = lifetimes(job, bands);
    std::vector<QList<QImage>> held(lives.size());
    for (int b = 0; b < bands.size(); ++b) {
        const Band &band = bands[b];
        // The sources this band decodes, side by side; the first failure in input order is
        // the one reported.
        std::vector<int> needed;
        for (size_t s = 0; s < lives.size(); ++s)
            if (lives[s].decodedAt == b)
                needed.push_back(int(s));
        std::vector<Decoded> decoded(needed.size());
        std::atomic<size_t> next{0};
        picture::runOnThreads(int(std::min<size_t>(std::clamp(QThread::idealThreadCount(), 1, 8), needed.size())), [&] {
            for (size_t k; (k = next.fetch_add(1)) < needed.size();)
                decoded[k] = decode(job.sources[needed[k]], job.budget);
        });
        for (size_t k = 0; k < needed.size(); ++k) {
            if (!decoded[k].error.isEmpty()) {
                *error = decoded[k].error;
                return false;
            }
            held[size_t(needed[k])] = std::move(decoded[k].frames);
        }

        if (!canvas.reset(int(job.sheet.width), int(band.end - band.top))) {
            error->clear();
            return false;
        }
        for (int i = 0; i < job.frames.size(); ++i) {
            const SheetFrame &f = job.frames[i];
            const QRect r = job.sheet.covered(i, job.sources[f.source].size);
            if (!overlaps(r, band))
                continue;
            const QList<QImage> &frames = held[size_t(f.source)];
            if (f.frame >= frames.size()) {
                *error = QCoreApplication::translate("strip", "Cannot load %1: it holds fewer frames than it declared.")
                             .arg(job.sources[f.source].path);
                return false;
            }
            const QImage &picture = frames[f.frame];
            // Only what is covered: clipping to the cell leaves a view of the picture's top-left part.
            const QImage shown(picture.constBits(), r.width(), r.height(), picture.bytesPerLine(), picture.format());
            canvas.draw(shown, r.x(), int(r.y() - band.top));
        }
        if (!canvas.handOn(band)) {
            error->clear();
            return false;
        }
        for (size_t s = 0; s < lives.size(); ++s)
            if (lives[s].last == b)
                held[s].clear();
        if (progress)
            progress(b + 1, int(bands.size()));
    }
    return true;
}

} // namespace strip
