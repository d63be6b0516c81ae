#include "strip/bands.h"

#include <QHash>
#include <QTransform>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "picture/source/animation.h"
#include "picture/base/nativepath.h"
#include "picture/base/threads.h"
#include "picture/pixels/resize.h"
#include "strip/bandplan.h"

namespace strip {

namespace {

QString notEnoughMemory(const SheetSource &source)
{
    return picture::refusedAsDamaged(source.picture.name(), picture::outOfMemory(), source.picture.format()).message;
}

// A view of part of picture, sharing its pixels; null when a copy was needed and could not be had.
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

// Each pixel of picture (24 or 32 bits a pixel) as an n x n block; null when the memory
// cannot be had.
QImage enlarged(const QImage &picture, int n)
{
    QImage out(picture.width() * n, picture.height() * n, picture.format());
    if (out.isNull())
        return out;
    const int bytes = picture.depth() / 8;
    for (int y = 0; y < picture.height(); ++y) {
        const uchar *src = picture.constScanLine(y);
        uchar *first = out.scanLine(y * n);
        for (int x = 0; x < picture.width(); ++x)
            for (int k = 0; k < n; ++k)
                std::memcpy(first + (qsizetype(x) * n + k) * bytes, src + qsizetype(x) * bytes, size_t(bytes));
        for (int k = 1; k < n; ++k)
            std::memcpy(out.scanLine(y * n + k), first, size_t(out.width()) * size_t(bytes));
    }
    return out;
}

// picture put on a transparent canvas of extent's size at extent's negated corner, its pixels
// as they are (straight alpha); null when the memory cannot be had.
QImage onCanvas(const QImage &picture, const QRect &extent)
{
    QImage canvas(extent.size(), QImage::Format_ARGB32);
    if (canvas.isNull())
        return canvas;
    canvas.fill(0);
    const QRect put = QRect(-extent.topLeft(), picture.size()).intersected(canvas.rect());
    const bool opaque = picture.format() == QImage::Format_RGB32;
    for (int y = put.top(); y <= put.bottom(); ++y) {
        const QRgb *src = reinterpret_cast<const QRgb *>(picture.constScanLine(y + extent.y())) + (put.left() + extent.x());
        QRgb *dst = reinterpret_cast<QRgb *>(canvas.scanLine(y)) + put.left();
        for (int x = 0; x < put.width(); ++x)
            dst[x] = opaque ? src[x] | 0xff000000u : src[x];
    }
    return canvas;
}

// A frame as the sheet takes it: checked against the header (and reduced), its transparent pixels' colours
// made as asked (bleeding over the piece's whole extent), then enlarged. False with *error
// naming the file and the cause; a failure of memory is the file's refusal too.
bool prepared(const SheetJob &job, const SheetSource &source, const Piece &piece, QImage *frame, QString *error)
{
    const int scale = std::max(job.sheet.scale, 1);
    if (!takenFrame(source, scale, frame, error))
        return false;
    // Both canvases read these formats as they are; anything else is converted once, here.
    static constexpr QImage::Format drawn[] = {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_BGR888,
                                               QImage::Format_RGB888};
    if (std::find(std::begin(drawn), std::end(drawn), frame->format()) == std::end(drawn))
        frame->convertTo(frame->hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (job.transparent == picture::TransparentColour::Bleed) {
        const QRect unscaled(piece.extent.topLeft() / scale, piece.extent.size() / scale);
        if (unscaled != frame->rect() || frame->hasAlphaChannel()) {
            if (!frame->hasAlphaChannel())
                frame->convertTo(QImage::Format_RGB32);
            *frame = picture::withTransparentColour(onCanvas(*frame, unscaled), job.transparent);
        }
    } else {
        *frame = picture::withTransparentColour(std::move(*frame), job.transparent);
    }
    if (!frame->isNull() && scale > 1)
        *frame = enlarged(*frame, scale);
    if (!frame->isNull() && piece.rotated)
        *frame = frame->transformed(QTransform().rotate(job.sheet.anticlockwise ? 270 : 90)); // exact: pixels only move
    if (frame->isNull()) {
        *error = notEnoughMemory(source);
        return false;
    }
    return true;
}

} // namespace

QList<int> fileOwners(const SheetJob &job)
{
    QList<int> owners;
    QHash<QString, int> layered; // the first source of each file shown layer by layer
    for (int s = 0; s < job.sources.size(); ++s) {
        const SheetSource &source = job.sources[s];
        if (source.layer.isEmpty())
            owners.append(s);
        else
            owners.append(*layered.insert(source.path, layered.value(source.path, s)));
    }
    return owners;
}

bool takenFrame(const SheetSource &source, int scale, QImage *image, QString *error)
{
    const QSize declared = source.reducedFrom.isEmpty() ? source.size / std::max(scale, 1) : source.reducedFrom;
    if (image->size() != declared) {
        *error = picture::refusedAsDamaged(source.picture.name(), picture::otherSizeThanDeclared(declared, image->size()),
                                           source.picture.format()).message;
        return false;
    }
    // Reduced even where the size stays: transparent pixels then lose their colour there too.
    if (!source.reducedFrom.isEmpty()) {
        *image = picture::areaReduced(*image, source.size);
        if (image->isNull()) {
            *error = notEnoughMemory(source);
            return false;
        }
    }
    return true;
}

bool frameOf(const SheetSource &source, int frame, std::unique_ptr<picture::FrameStream> &stream, QImage *image,
             QString *refusal)
{
    if (!source.decoded.isEmpty()) {
        if (frame >= source.decoded.size()) {
            *refusal = picture::refusedAsDamaged(source.picture.name(), picture::fewerFramesThanDeclared(),
                                                 source.picture.format()).message;
            return false;
        }
        *image = source.decoded[frame];
        return true;
    }
    if (!stream)
        stream = std::make_unique<picture::FrameStream>(source.picture);
    picture::Loaded refused;
    while (stream->position() <= frame) {
        if (!stream->next(image, &refused)) {
            *refusal = refused.message;
            return false;
        }
    }
    return true;
}

namespace {

// Reads, in order, the frames one source gives in a band, and prepares them into held. A
// refusal or a failure of memory is the file's refusal: nothing escapes a worker thread.
QString readFrames(const SheetJob &job, int s, const std::vector<int> &pieces, const BandPlan &plan,
                   std::unique_ptr<picture::FrameStream> &stream, std::vector<QImage> &held)
{
    const SheetSource &source = job.sources[s];
    QString error;
    try {
        for (int k : pieces) { // ascending frames
            const Piece &piece = plan.pieces[size_t(k)];
            QImage image;
            // The plan reads an animation forward only: no frame is read twice.
            if (!frameOf(source, piece.frame, stream, &image, &error))
                return error;
            if (!prepared(job, source, piece, &image, &error))
                return error;
            held[size_t(k)] = std::move(image);
        }
    } catch (const std::bad_alloc &) {
        return notEnoughMemory(source);
    } catch (const std::exception &e) {
        return picture::refusedAsDamaged(source.picture.name(), QString::fromLocal8Bit(e.what()), source.picture.format())
            .message;
    }
    return {};
}

// Draws frame i's prepared picture and, when the sheet extrudes, repeats its cell's edge
// pixels outward.
void drawFrame(const SheetJob &job, const BandPlan &plan, int i, const QImage &picture, const Band &band,
               const BandCanvas &canvas)
{
    const Sheet &sheet = job.sheet;
    const Sheet::Drawn d = sheet.drawnAt(i, frameRect(job, plan, i));
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

BandCanvas rgbaCanvas(picture::RgbaBand &band, const SheetJob &job,
                      const std::function<bool(const Band &band, const QImage &rows)> &handOn)
{
    return {[&band](int w, int rows) { return band.reset(w, rows); },
            [&band](const QImage &picture, int x, int y) { band.draw(picture, x, y); },
            [&band, &job, handOn](const Band &b) {
                if (job.premultiplied)
                    band.premultiply();
                return handOn(b, band.pixels());
            }};
}

bool composeInBands(const SheetJob &job, BandOrder order, const BandCanvas &canvas, QString *error,
                    const std::function<void(int done, int total)> &progress)
{
    const BandPlan plan = planSheet(job, order);
    const QList<Band> &bands = plan.bands;
    std::vector<QImage> held(plan.pieces.size());
    std::vector<std::unique_ptr<picture::FrameStream>> streams(size_t(job.sources.size()));

    for (int b = 0; b < bands.size(); ++b) {
        const Band &band = bands[b];
        // The pieces this band decodes, a source's in frame order, sources side by side; the
        // first failure in input order is the one reported.
        std::vector<std::pair<int, std::vector<int>>> tasks;
        for (int k : plan.decodes[size_t(b)]) {
            const int source = plan.pieces[size_t(k)].source;
            if (tasks.empty() || tasks.back().first != source)
                tasks.push_back({source, {}});
            tasks.back().second.push_back(k);
        }
        if (!tasks.empty()) { // most bands of a sheet of many rows decode nothing
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
        }

        if (!canvas.reset(int(job.sheet.width), int(band.end - band.top))) {
            error->clear();
            return false;
        }
        for (int i : plan.draws[size_t(b)])
            drawFrame(job, plan, i, held[size_t(plan.pieceOfFrame[size_t(i)])], band, canvas);
        if (!canvas.handOn(band)) {
            error->clear();
            return false;
        }
        for (int k : plan.drops[size_t(b)])
            held[size_t(k)] = QImage();
        for (int s : plan.lets[size_t(b)]) {
            streams[size_t(s)].reset();
            job.sources[s].picture.release(); // its file's bytes are not needed again
        }
        if (progress)
            progress(b + 1, int(bands.size()));
    }
    return true;
}

} // namespace strip
