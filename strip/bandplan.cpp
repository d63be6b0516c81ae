#include "strip/bandplan.h"

#include <algorithm>

#include "picture/base/threads.h"

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
    const QRect at = sheet.cellRect(i);
    QRect cell(at.topLeft() - sheet.placed(i, picture), at.size());
    if (sheet.turned(i))
        cell = unturned(cell, picture, sheet.anticlockwise);
    return sheet.clip ? cell : own.united(cell);
}

qint64 rgbaBytes(QSize size)
{
    return picture::decodedBytes(size.width(), size.height());
}

// Bands, as indexes in composing order, that rows [top, bottom) fall in; first > last when none.
// The search starts from the bands found for the frame before and widens in steps that double:
// frames one after another lie in the same bands or the next, so a sheet of many rows is
// searched in a time that grows with its frames, not with its frames times its rows' logarithm.
class BandFinder
{
public:
    BandFinder(const QList<Band> &bands, BandOrder order) : m_bands(bands), m_order(order) {}

    std::pair<int, int> operator()(qint64 top, qint64 bottom)
    {
        const int n = int(m_bands.size());
        const int lo = firstWhere(m_near, [&](int k) { return topDown(k).end > top; });
        const int end = firstWhere(lo, [&](int k) { return topDown(k).top >= bottom; });
        m_near = lo;
        if (lo >= end)
            return {1, 0};
        return m_order == BandOrder::TopDown ? std::pair{lo, end - 1} : std::pair{n - end, n - 1 - lo};
    }

private:
    const Band &topDown(int k) const
    {
        return m_bands[m_order == BandOrder::TopDown ? k : int(m_bands.size()) - 1 - k];
    }

    // The first top-down index at which holds turns true (the band count when it never does),
    // holds being false and then true along the bands; searched outward from near.
    template<typename Holds>
    int firstWhere(int near, Holds holds) const
    {
        const int n = int(m_bands.size());
        if (n == 0)
            return 0;
        near = std::clamp(near, 0, n - 1);
        int lo = 0, hi = 0; // the answer is in [lo, hi]
        if (holds(near)) {
            hi = near;
            int step = 1, below = hi - step;
            while (below >= 0 && holds(below)) {
                hi = below;
                step *= 2;
                below = hi - step;
            }
            lo = std::max(below + 1, 0);
        } else {
            lo = near + 1;
            int step = 1, above = near + step;
            while (above < n && !holds(above)) {
                lo = above + 1;
                step *= 2;
                above = near + step;
            }
            hi = std::min(above, n);
        }
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (holds(mid))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }

    const QList<Band> &m_bands;
    BandOrder m_order;
    int m_near = 0;
};

} // namespace

BandLists::BandLists(int bandCount, const std::vector<std::pair<int, int>> &entries)
    : m_starts(size_t(std::max(bandCount, 0)) + 1, 0), m_items(entries.size())
{
    for (const auto &[band, number] : entries)
        ++m_starts[size_t(band) + 1];
    for (size_t b = 1; b < m_starts.size(); ++b)
        m_starts[b] += m_starts[b - 1];
    std::vector<int> next(m_starts.begin(), m_starts.end() - 1);
    for (const auto &[band, number] : entries)
        m_items[size_t(next[size_t(band)]++)] = number;
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
    const QSize picture = job.sources[p.source].size;
    return (p.rotated ? turned(p.extent, picture, job.sheet.anticlockwise) : p.extent).translated(job.sheet.placed(i, picture));
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
            plan.pieces[size_t(base[size_t(s)] + f)] = Piece{int(s), f, QRect(), false, -1, -1, -1, 0, 0};

    plan.pieceOfFrame.resize(size_t(job.frames.size()));

    // Each frame from its own rows: the bands its reach falls in. Frames come in cell order, so
    // each band draws them in cell order, later over earlier.
    std::vector<std::pair<int, int>> draws;
    BandFinder bandsOf(plan.bands, order);
    for (int i = 0; i < job.frames.size(); ++i) {
        const SheetFrame &f = job.frames[i];
        const SheetSource &source = job.sources[f.source];
        const int k = base[size_t(f.source)] + f.frame;
        plan.pieceOfFrame[size_t(i)] = k;
        Piece &piece = plan.pieces[size_t(k)];
        if (piece.first < 0 && piece.last < 0) {
            piece.extent = pieceExtent(job, i, source.size);
            piece.rotated = sheet.turned(i);
            const QSize unscaled = source.size / scale;
            const QSize extentUnscaled = piece.extent.size() / scale;
            piece.heldBytes = source.decoded.isEmpty() ? rgbaBytes(piece.extent.size()) : 0;
            if (scale > 1 || job.transparent != picture::TransparentColour::Keep)
                piece.workBytes += rgbaBytes(unscaled);
            if (job.transparent == picture::TransparentColour::Bleed)
                piece.workBytes += bleedBytesPerPixel * extentUnscaled.width() * extentUnscaled.height();
            if (piece.rotated)
                piece.workBytes += rgbaBytes(piece.extent.size()); // the picture before it is turned
            if (!source.reducedFrom.isEmpty())
                piece.workBytes += 2 * rgbaBytes(source.reducedFrom); // the frame as read, and in 32 bits
        }
        const QRect reach = sheet.reach(i, sheet.drawnAt(i, frameRect(job, plan, i)));
        if (reach.isEmpty())
            continue;
        const auto [first, last] = bandsOf(reach.top(), qint64(reach.top()) + reach.height());
        for (int b = first; b <= last; ++b)
            draws.emplace_back(b, i);
        if (first > last)
            continue;
        piece.first = piece.first < 0 ? first : std::min(piece.first, first);
        piece.last = std::max(piece.last, last);
    }
    plan.draws = BandLists(bandCount, draws);

    // Still pictures: a band that needs new ones starts a batch and takes those of the next
    // bands while they fit. A band that starts an animation's frames ends the batch before it.
    std::vector<std::pair<int, int>> starts;
    for (size_t k = 0; k < plan.pieces.size(); ++k)
        if (plan.pieces[k].first >= 0)
            starts.emplace_back(plan.pieces[k].first, int(k));
    const BandLists firstAt(bandCount, starts);
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
    std::vector<std::pair<int, int>> need; // (band, frame)
    for (qsizetype s = 0; s < job.sources.size(); ++s) {
        const SheetSource &source = job.sources[s];
        if (!source.allFrames || !source.decoded.isEmpty())
            continue;
        const int from = base[size_t(s)], to = base[size_t(s) + 1];
        // The bands that first need one of its frames, in composing order, with that frame: only
        // those bands, so that many animations on a sheet of many rows cost their frames alone.
        need.clear();
        for (int k = from; k < to; ++k)
            if (const Piece &p = plan.pieces[size_t(k)]; p.first >= 0)
                need.emplace_back(p.first, p.frame);
        std::sort(need.begin(), need.end());
        int read = 0; // frames before it are read
        for (size_t n = 0; n < need.size(); ++n) {
            const int b = need[n].first;
            if (n + 1 < need.size() && need[n + 1].first == b)
                continue; // the band's highest frame comes last
            const int highest = need[n].second;
            if (highest < read)
                continue;
            for (int k = from + read; k <= from + highest; ++k)
                if (plan.pieces[size_t(k)].first >= 0)
                    plan.pieces[size_t(k)].decodedAt = b;
            read = highest + 1;
        }
    }

    std::vector<std::pair<int, int>> decodes, drops, lets;
    std::vector<int> lastDecode(size_t(job.sources.size()), -1);
    for (size_t k = 0; k < plan.pieces.size(); ++k) {
        const Piece &p = plan.pieces[k];
        if (p.decodedAt < 0)
            continue;
        decodes.emplace_back(p.decodedAt, int(k)); // ascending: a source's in frame order
        drops.emplace_back(p.last, int(k));
        lastDecode[size_t(p.source)] = std::max(lastDecode[size_t(p.source)], p.decodedAt);
    }
    // A file's bytes go with the last of the sources that read it.
    const QList<int> owner = fileOwners(job);
    std::vector<int> lastOfFile(lastDecode.size(), -1);
    for (size_t s = 0; s < lastDecode.size(); ++s)
        lastOfFile[size_t(owner[s])] = std::max(lastOfFile[size_t(owner[s])], lastDecode[s]);
    for (size_t s = 0; s < lastDecode.size(); ++s)
        if (lastDecode[s] >= 0 && !job.keptSources.value(qsizetype(s)))
            lets.emplace_back(lastOfFile[size_t(owner[s])], int(s));
    plan.decodes = BandLists(bandCount, decodes);
    plan.drops = BandLists(bandCount, drops);
    plan.lets = BandLists(bandCount, lets);
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
    const int cores = picture::coreCount();
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
    std::vector<qint64> work;
    for (int b = 0; b < bandCount; ++b) {
        held += added[size_t(b)];
        // Each source's frames are prepared one at a time, sources side by side on every core:
        // the largest moments of work, as many as there are cores.
        work.clear();
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
