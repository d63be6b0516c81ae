#include "strip/bands.h"

#include <QCoreApplication>

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "picture/animation.h"
#include "picture/nativepath.h"
#include "picture/threads.h"

namespace strip {

namespace {

// Small enough to stay a small part of the memory a sheet takes, large enough that a band's
// pictures are drawn with few passes.
constexpr qint64 bandBytes = qint64(4) << 20;

// Small pictures are decoded ahead, with those of the bands before them, as long as the
// pictures decoded together stay within this: a sheet of icons is then decoded in a few large
// batches instead of a small one for every row.
constexpr qint64 aheadBytes = qint64(16) << 20;

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

// One frame of one source: what is decoded, held and dropped.
struct Piece {
    int source = 0;
    int frame = 0;
    int first = -1;     // band index in composing order
    int last = -1;
    int decodedAt = -1; // the band that decodes it: its first, or an earlier one
};

qint64 pieceBytes(const SheetJob &job, const Piece &p)
{
    const SheetSource &s = job.sources[p.source];
    return s.decoded.isEmpty() ? picture::decodedBytes(s.size.width(), s.size.height()) : 0; // decoded ahead: counted apart
}

bool overlaps(const QRect &r, const Band &band)
{
    return !r.isEmpty() && r.top() < band.end && qint64(r.top()) + r.height() > band.top;
}

// Every piece a cell shows, with when it is first and last needed in composing order, and the
// band that decodes it. index[{source, frame}] finds a piece.
struct Plan {
    std::vector<Piece> pieces;
    std::map<std::pair<int, int>, int> index;
};

Plan planPieces(const SheetJob &job, const QList<Band> &bands)
{
    Plan plan;
    for (int i = 0; i < job.frames.size(); ++i) {
        const SheetFrame &f = job.frames[i];
        const auto [at, added] = plan.index.try_emplace({f.source, f.frame}, int(plan.pieces.size()));
        if (added)
            plan.pieces.push_back({f.source, f.frame});
        Piece &piece = plan.pieces[size_t(at->second)];
        const QRect r = job.sheet.reach(i, job.sources[f.source].size);
        for (int b = 0; b < bands.size(); ++b) {
            if (!overlaps(r, bands[b]))
                continue;
            piece.first = piece.first < 0 ? b : std::min(piece.first, b);
            piece.last = std::max(piece.last, b);
        }
    }
    // Batches: a band that needs new pictures starts one, and takes those of the next bands
    // while they fit. An animation's frames are read in order as their bands come.
    std::vector<std::vector<int>> firstAt(size_t(bands.size()));
    for (size_t k = 0; k < plan.pieces.size(); ++k)
        if (plan.pieces[k].first >= 0)
            firstAt[size_t(plan.pieces[k].first)].push_back(int(k));
    for (int b = 0; b < bands.size();) {
        qint64 batch = 0;
        int next = b;
        for (; next < bands.size(); ++next) {
            qint64 bytes = 0;
            bool animated = false;
            for (int k : firstAt[size_t(next)]) {
                bytes += pieceBytes(job, plan.pieces[size_t(k)]);
                animated = animated || job.sources[plan.pieces[size_t(k)].source].allFrames;
            }
            if (next > b && (batch + bytes > aheadBytes || animated))
                break;
            batch += bytes;
            for (int k : firstAt[size_t(next)])
                plan.pieces[size_t(k)].decodedAt = b;
        }
        b = next;
    }
    return plan;
}

// The memory held apart from the bands' pieces: pictures decoded ahead, and the files' bytes
// (counted for the whole sheet, though each goes after its last band).
qint64 heldApart(const SheetJob &job)
{
    qint64 bytes = 0;
    for (const SheetSource &s : job.sources) {
        for (const QImage &frame : s.decoded)
            bytes += frame.sizeInBytes();
        bytes += s.picture.heldBytes();
    }
    return bytes;
}

// A view of part of picture, sharing its pixels.
QImage view(const QImage &picture, const QRect &part)
{
    if (part == picture.rect())
        return picture;
    if (picture.depth() < 8)
        return picture.copy(part);
    QImage shown(picture.constScanLine(part.y()) + qsizetype(part.x()) * (picture.depth() / 8), part.width(),
                 part.height(), picture.bytesPerLine(), picture.format());
    shown.setColorTable(picture.colorTable()); // a view of an indexed picture needs its palette
    return shown;
}

// A frame as the sheet takes it: checked against the header, enlarged, its transparent pixels'
// colours made as asked.
bool prepared(const SheetJob &job, const SheetSource &source, QImage *frame, QString *error)
{
    const QSize declared = source.picture.size();
    if (frame->size() != declared) {
        *error = picture::refusedAsDamaged(source.picture.name(),
                                           tr("it declares %1 x %2 pixels but holds %3 x %4")
                                               .arg(declared.width()).arg(declared.height())
                                               .arg(frame->width()).arg(frame->height()),
                                           source.picture.format()).message;
        return false;
    }
    if (job.scale > 1)
        *frame = frame->scaled(frame->size() * job.scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    *frame = picture::withTransparentColour(*frame, job.transparent);
    return true;
}

// Reads the frames one source must give for a band, in order, into held. A refusal or a
// failure of memory is the file's refusal: nothing escapes a worker thread.
QString readFrames(const SheetJob &job, int s, const std::vector<int> &pieces, const Plan &plan,
                   std::unique_ptr<picture::FrameStream> &stream, std::vector<QImage> &held)
{
    const SheetSource &source = job.sources[s];
    QString error;
    try {
        if (!stream)
            stream = std::make_unique<picture::FrameStream>(source.picture);
        for (int k : pieces) { // ascending frames
            const int frame = plan.pieces[size_t(k)].frame;
            if (frame < stream->position()) // a bitmap's bands go bottom up: the animation starts again
                stream->restart();
            QImage image;
            picture::Loaded refusal;
            while (stream->position() <= frame) {
                if (!stream->next(&image, &refusal))
                    return refusal.message;
            }
            if (!prepared(job, source, &image, &error))
                return error;
            held[size_t(k)] = std::move(image);
        }
    } catch (const std::bad_alloc &) {
        return picture::refusedAsDamaged(source.picture.name(), tr("there is not enough memory to decode it"),
                                         source.picture.format()).message;
    } catch (const std::exception &e) {
        return picture::refusedAsDamaged(source.picture.name(), QString::fromLocal8Bit(e.what()), source.picture.format())
            .message;
    }
    return {};
}

// Draws frame i's picture and, when the sheet extrudes, repeats its cell's edge pixels outward.
void drawFrame(const SheetJob &job, int i, const QImage &picture, const Band &band, const BandCanvas &canvas)
{
    const Sheet &sheet = job.sheet;
    const Sheet::Drawn d = sheet.drawn(i, picture.size());
    if (d.shown.isEmpty())
        return;
    const int top = int(band.top);
    canvas.draw(view(picture, QRect(d.from, d.shown.size())), d.shown.x(), d.shown.y() - top);
    const int e = sheet.extrude;
    if (e <= 0)
        return;
    const QRect cell = sheet.cellRect(i);
    const QRect &v = d.shown;
    const bool left = v.left() == cell.left(), right = v.right() == cell.right();
    const bool up = v.top() == cell.top(), down = v.bottom() == cell.bottom();
    auto part = [&](int x, int y, int w, int h) { return view(picture, QRect(d.from + QPoint(x, y), QSize(w, h))); };
    for (int k = 1; k <= e; ++k) {
        if (left)
            canvas.draw(part(0, 0, 1, v.height()), v.left() - k, v.top() - top);
        if (right)
            canvas.draw(part(v.width() - 1, 0, 1, v.height()), v.right() + k, v.top() - top);
        if (up)
            canvas.draw(part(0, 0, v.width(), 1), v.left(), v.top() - k - top);
        if (down)
            canvas.draw(part(0, v.height() - 1, v.width(), 1), v.left(), v.bottom() + k - top);
        for (int j = 1; j <= e; ++j) { // the corners
            if (left && up)
                canvas.draw(part(0, 0, 1, 1), v.left() - k, v.top() - j - top);
            if (right && up)
                canvas.draw(part(v.width() - 1, 0, 1, 1), v.right() + k, v.top() - j - top);
            if (left && down)
                canvas.draw(part(0, v.height() - 1, 1, 1), v.left() - k, v.bottom() + j - top);
            if (right && down)
                canvas.draw(part(v.width() - 1, v.height() - 1, 1, 1), v.right() + k, v.bottom() + j - top);
        }
    }
}

} // namespace

bool probeSource(SheetSource &source, const picture::Budget &budget, QString *error)
{
    source.picture = picture::Source::open(source.path, picture::displayPath(source.path), budget, source.allFrames);
    if (!source.picture.ok()) {
        *error = source.picture.refusal().message;
        return false;
    }
    source.allFrames = source.picture.allFrames();
    source.frames = source.picture.frames();
    source.size = source.picture.size();
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
    const Plan plan = planPieces(job, bands);
    const qint64 apart = heldApart(job);
    qint64 peak = apart;
    for (int b = 0; b < bands.size(); ++b) {
        qint64 held = apart + (bands[b].end - bands[b].top) * job.sheet.width * job.bytesPerPixel;
        std::vector<char> streaming(size_t(job.sources.size()), 0);
        for (const Piece &p : plan.pieces) {
            if (p.decodedAt < 0 || p.decodedAt > b || b > p.last)
                continue;
            held += pieceBytes(job, p);
            streaming[size_t(p.source)] = job.sources[p.source].allFrames;
        }
        for (size_t s = 0; s < streaming.size(); ++s) // an animation's screen, carried between frames
            if (streaming[s])
                held += picture::decodedBytes(job.sources[qsizetype(s)].size.width(), job.sources[qsizetype(s)].size.height());
        peak = std::max(peak, held);
    }
    return peak;
}

bool composeInBands(const SheetJob &job, BandOrder order, const BandCanvas &canvas, QString *error,
                    const std::function<void(int done, int total)> &progress)
{
    const QList<Band> bands = planBands(job, order);
    const Plan plan = planPieces(job, bands);
    std::vector<QImage> held(plan.pieces.size());
    std::vector<std::unique_ptr<picture::FrameStream>> streams(size_t(job.sources.size()));
    std::vector<int> lastOfSource(size_t(job.sources.size()), -1);
    for (const Piece &p : plan.pieces)
        lastOfSource[size_t(p.source)] = std::max(lastOfSource[size_t(p.source)], p.last);

    for (int b = 0; b < bands.size(); ++b) {
        const Band &band = bands[b];
        // The pieces this band decodes, a source's in frame order, sources side by side; the
        // first failure in input order is the one reported.
        std::map<int, std::vector<int>> needed;
        for (size_t k = 0; k < plan.pieces.size(); ++k) {
            const Piece &p = plan.pieces[k];
            if (p.decodedAt != b)
                continue;
            const SheetSource &source = job.sources[p.source];
            if (!source.decoded.isEmpty()) {
                if (p.frame >= source.decoded.size()) {
                    *error = picture::refusedAsDamaged(source.picture.name(), tr("it holds fewer frames than it declared"),
                                                       source.picture.format()).message;
                    return false;
                }
                held[k] = source.decoded[p.frame];
            } else {
                needed[p.source].push_back(int(k));
            }
        }
        std::vector<std::pair<int, std::vector<int>>> tasks(needed.begin(), needed.end());
        for (auto &[s, pieces] : tasks)
            std::sort(pieces.begin(), pieces.end(),
                      [&](int a, int c) { return plan.pieces[size_t(a)].frame < plan.pieces[size_t(c)].frame; });
        std::vector<QString> failures(tasks.size());
        picture::forEachOnThreads(std::ptrdiff_t(tasks.size()), [&](std::ptrdiff_t t) {
            const auto &[source, pieces] = tasks[size_t(t)];
            failures[size_t(t)] = readFrames(job, source, pieces, plan, streams[size_t(source)], held);
        });
        for (const QString &failure : failures) {
            if (!failure.isEmpty()) {
                *error = failure;
                return false;
            }
        }

        if (!canvas.reset(int(job.sheet.width), int(band.end - band.top))) {
            error->clear();
            return false;
        }
        for (int i = 0; i < job.frames.size(); ++i) {
            const SheetFrame &f = job.frames[i];
            if (!overlaps(job.sheet.reach(i, job.sources[f.source].size), band))
                continue;
            drawFrame(job, i, held[size_t(plan.index.at({f.source, f.frame}))], band, canvas);
        }
        if (!canvas.handOn(band)) {
            error->clear();
            return false;
        }
        for (size_t k = 0; k < plan.pieces.size(); ++k)
            if (plan.pieces[k].last == b)
                held[k] = QImage();
        for (size_t s = 0; s < streams.size(); ++s) {
            if (lastOfSource[s] != b)
                continue;
            streams[s].reset();
            job.sources[qsizetype(s)].picture.release(); // its file's bytes are not needed again
        }
        if (progress)
            progress(b + 1, int(bands.size()));
    }
    return true;
}

} // namespace strip
