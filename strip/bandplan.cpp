#include "strip/bandplan.h"

#include <algorithm>
#include <thread>

namespace strip {

namespace {

// Small enough to stay a small part of the memory a sheet takes, large enough that a band's
// pictures are drawn with few passes.
constexpr qint64 bandBytes = qint64(4) << 20;

// Small pictures are decoded ahead, with those of the bands before them, as long as the
// pictures decoded together stay within this: a sheet of icons is then decoded in a few large
// batches instead of a small one for every row.
constexpr qint64 aheadBytes = qint64(16) << 20;

// Bleeding a picture holds, for each of its pixels, its straight colour (4 bytes), a mark (1)
// and a place in each of the two rings of the walk outward (4, twice over while they grow).
constexpr qint64 bleedBytesPerPixel = 21;

// What a piece's prepared picture covers, relative to where its picture of that size goes in
// frame i's cell: the picture itself, or, when transparent colours bleed, the whole cell with
// it, so that every transparent pixel of the cell takes the nearest visible colour.
QRect pieceExtent(const SheetJob &job, int i, QSize picture)
{
    const QRect own(QPoint(0, 0), picture);
    if (job.transparent != picture::TransparentColour::Bleed)
        return own;
    const Sheet &sheet = job.sheet;
    const QRect cell(sheet.origin(i) - sheet.placed(i, picture), sheet.cell);
    return sheet.clip ? cell : own.united(cell);
}

qint64 rgbaBytes(QSize size)
{
    return picture::decodedBytes(size.width(), size.height());
}

// Bands, as indexes in composing order, that rows [top, bottom) fall in; first > last when none.
std::pair<int, int> bandsOf(const QList<Band> &bands, BandOrder order, qint64 top, qint64 bottom)
{
    const int n = int(bands.size());
    auto topDown = [&](int k) -> const Band & { return bands[order == BandOrder::TopDown ? k : n - 1 - k]; };
    int lo = 0, hi = n; // the first band that ends below top
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (topDown(mid).end <= top)
            lo = mid + 1;
        else
            hi = mid;
    }
    int end = lo; // one past the last band that starts above bottom
    hi = n;
    while (end < hi) {
        const int mid = (end + hi) / 2;
        if (topDown(mid).top < bottom)
            end = mid + 1;
        else
            hi = mid;
    }
    if (lo >= end)
        return {1, 0};
    return order == BandOrder::TopDown ? std::pair{lo, end - 1} : std::pair{n - end, n - 1 - lo};
}

} // namespace

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
        const qint64 rows = parts > 0 ? (end - top + parts - 1) / parts : 1;
        for (qint64 y = top; y < end; y += rows)
            bands.append({y, std::min(end, y + rows)});
    }
    if (order == BandOrder::BottomUp)
        std::reverse(bands.begin(), bands.end());
    return bands;
}

QRect frameRect(const SheetJob &job, const BandPlan &plan, int i)
{
    const Piece &p = plan.pieces[size_t(plan.pieceOfFrame[size_t(i)])];
    return p.extent.translated(job.sheet.placed(i, job.sources[p.source].size));
}

BandPlan planSheet(const SheetJob &job, BandOrder order)
{
    BandPlan plan;
    plan.bands = planBands(job, order);
    const int bandCount = int(plan.bands.size());
    const Sheet &sheet = job.sheet;
    const int scale = std::max(sheet.scale, 1);

    // A piece for every frame of every source, found by the source's first piece.
    std::vector<int> base(size_t(job.sources.size()) + 1, 0);
    for (qsizetype s = 0; s < job.sources.size(); ++s)
        base[size_t(s) + 1] = base[size_t(s)] + std::max(job.sources[s].frames, 1);
    plan.pieces.resize(size_t(base.back()));
    for (qsizetype s = 0; s < job.sources.size(); ++s)
        for (int f = 0; f < std::max(job.sources[s].frames, 1); ++f)
            plan.pieces[size_t(base[size_t(s)] + f)] = Piece{int(s), f, QRect(), -1, -1, -1, 0, 0};

    plan.decodes.resize(size_t(bandCount));
    plan.draws.resize(size_t(bandCount));
    plan.drops.resize(size_t(bandCount));
    plan.lets.resize(size_t(bandCount));
    plan.pieceOfFrame.resize(size_t(job.frames.size()));

    // Each frame from its own rows: the bands its reach falls in.
    for (int i = 0; i < job.frames.size(); ++i) {
        const SheetFrame &f = job.frames[i];
        const SheetSource &source = job.sources[f.source];
        const int k = base[size_t(f.source)] + f.frame;
        plan.pieceOfFrame[size_t(i)] = k;
        Piece &piece = plan.pieces[size_t(k)];
        if (piece.first < 0 && piece.last < 0) {
            piece.extent = pieceExtent(job, i, source.size);
            const QSize unscaled = source.size / scale;
            const QSize extentUnscaled = piece.extent.size() / scale;
            piece.heldBytes = source.decoded.isEmpty() ? rgbaBytes(piece.extent.size()) : 0;
            if (scale > 1 || job.transparent != picture::TransparentColour::Keep)
                piece.workBytes += rgbaBytes(unscaled);
            if (job.transparent == picture::TransparentColour::Bleed)
                piece.workBytes += bleedBytesPerPixel * extentUnscaled.width() * extentUnscaled.height();
        }
        const Sheet::Drawn d = sheet.drawnAt(i, frameRect(job, plan, i));
        QRect reach = d.shown;
        if (sheet.extrude > 0 && !reach.isEmpty())
            reach = reach.united(sheet.cellRect(i).adjusted(-sheet.extrude, -sheet.extrude, sheet.extrude, sheet.extrude));
        if (reach.isEmpty())
            continue;
        const auto [first, last] = bandsOf(plan.bands, order, reach.top(), qint64(reach.top()) + reach.height());
        for (int b = first; b <= last; ++b)
            plan.draws[size_t(b)].push_back(i);
        if (first > last)
            continue;
        piece.first = piece.first < 0 ? first : std::min(piece.first, first);
        piece.last = std::max(piece.last, last);
    }
    // Frames are drawn in cell order, later over earlier, whatever order their bands were found in.
    for (std::vector<int> &frames : plan.draws)
        std::sort(frames.begin(), frames.end());

    // Still pictures: a band that needs new ones starts a batch and takes those of the next
    // bands while they fit. A band that starts an animation's frames ends the batch before it.
    std::vector<std::vector<int>> firstAt(static_cast<size_t>(bandCount));
    for (size_t k = 0; k < plan.pieces.size(); ++k)
        if (plan.pieces[k].first >= 0)
            firstAt[size_t(plan.pieces[k].first)].push_back(int(k));
    auto animated = [&](const Piece &p) {
        const SheetSource &s = job.sources[p.source];
        return s.allFrames && s.decoded.isEmpty();
    };
    for (int b = 0; b < bandCount;) {
        qint64 batch = 0;
        int next = b;
        for (; next < bandCount; ++next) {
            qint64 bytes = 0;
            bool startsAnimation = false;
            for (int k : firstAt[size_t(next)]) {
                bytes += plan.pieces[size_t(k)].heldBytes;
                startsAnimation = startsAnimation || animated(plan.pieces[size_t(k)]);
            }
            if (next > b && (batch + bytes > aheadBytes || startsAnimation))
                break;
            batch += bytes;
            for (int k : firstAt[size_t(next)])
                if (!animated(plan.pieces[size_t(k)]))
                    plan.pieces[size_t(k)].decodedAt = b;
        }
        b = next;
    }
    // Animations: read forward only. The band that first needs frame f decodes every frame
    // before it that is not yet read and still needed, and holds those until their bands.
    for (qsizetype s = 0; s < job.sources.size(); ++s) {
        const SheetSource &source = job.sources[s];
        if (!source.allFrames || !source.decoded.isEmpty())
            continue;
        const int from = base[size_t(s)], to = base[size_t(s) + 1];
        std::vector<int> needAt(static_cast<size_t>(bandCount), -1); // the highest frame first needed in each band
        for (int k = from; k < to; ++k)
            if (const Piece &p = plan.pieces[size_t(k)]; p.first >= 0)
                needAt[size_t(p.first)] = std::max(needAt[size_t(p.first)], p.frame);
        int read = 0; // frames before it are read
        for (int b = 0; b < bandCount; ++b) {
            if (needAt[size_t(b)] < read)
                continue;
            for (int k = from + read; k <= from + needAt[size_t(b)]; ++k)
                if (plan.pieces[size_t(k)].first >= 0)
                    plan.pieces[size_t(k)].decodedAt = b;
            read = needAt[size_t(b)] + 1;
        }
    }

    std::vector<int> lastDecode(size_t(job.sources.size()), -1);
    for (size_t k = 0; k < plan.pieces.size(); ++k) {
        const Piece &p = plan.pieces[k];
        if (p.decodedAt < 0)
            continue;
        plan.decodes[size_t(p.decodedAt)].push_back(int(k)); // ascending: a source's in frame order
        plan.drops[size_t(p.last)].push_back(int(k));
        lastDecode[size_t(p.source)] = std::max(lastDecode[size_t(p.source)], p.decodedAt);
    }
    for (size_t s = 0; s < lastDecode.size(); ++s)
        if (lastDecode[s] >= 0 && !job.keptSources.value(qsizetype(s)))
            plan.lets[size_t(lastDecode[s])].push_back(int(s));
    return plan;
}

qint64 peakBytes(const SheetJob &job, BandOrder order)
{
    const BandPlan plan = planSheet(job, order);
    // Pictures the caller decoded ahead, and the files' bytes (counted for the whole sheet,
    // though each goes after its last decoding band).
    qint64 apart = 0;
    for (const SheetSource &s : job.sources) {
        for (const QImage &frame : s.decoded)
            apart += frame.sizeInBytes();
        apart += s.picture.heldBytes();
    }
    const int cores = std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
    const int bandCount = int(plan.bands.size());
    // Held pieces, by a running sum: added where decoded, taken away after their last band.
    std::vector<qint64> added(size_t(bandCount) + 1, 0);
    for (const Piece &p : plan.pieces) {
        if (p.decodedAt < 0)
            continue;
        added[size_t(p.decodedAt)] += p.heldBytes;
        added[size_t(p.last) + 1] -= p.heldBytes;
    }
    // An animation's screen is carried from frame to frame while its frames are read.
    std::vector<int> streamFirst(size_t(job.sources.size()), -1), streamLast(size_t(job.sources.size()), -1);
    for (const Piece &p : plan.pieces) {
        if (p.decodedAt < 0 || !job.sources[p.source].allFrames || !job.sources[p.source].decoded.isEmpty())
            continue;
        int &f = streamFirst[size_t(p.source)];
        f = f < 0 ? p.decodedAt : std::min(f, p.decodedAt);
        streamLast[size_t(p.source)] = std::max(streamLast[size_t(p.source)], p.decodedAt);
    }
    for (size_t s = 0; s < streamFirst.size(); ++s) {
        if (streamFirst[s] < 0)
            continue;
        const qint64 screen = rgbaBytes(job.sources[qsizetype(s)].picture.size());
        added[size_t(streamFirst[s])] += screen;
        added[size_t(streamLast[s]) + 1] -= screen;
    }
    qint64 peak = apart, held = 0;
    for (int b = 0; b < bandCount; ++b) {
        held += added[size_t(b)];
        // Each source's frames are prepared one at a time, sources side by side on every core:
        // the largest moments of work, as many as there are cores.
        std::vector<qint64> work;
        int source = -1;
        for (int k : plan.decodes[size_t(b)]) {
            const Piece &p = plan.pieces[size_t(k)];
            if (p.source != source)
                work.push_back(0);
            source = p.source;
            work.back() = std::max(work.back(), p.workBytes);
        }
        std::sort(work.begin(), work.end(), std::greater<>());
        qint64 working = 0;
        for (size_t t = 0; t < work.size() && t < size_t(cores); ++t)
            working += work[t];
        const Band &band = plan.bands[b];
        peak = std::max(peak, apart + held + working + (band.end - band.top) * job.sheet.width * job.bytesPerPixel);
    }
    return peak;
}

} // namespace strip
