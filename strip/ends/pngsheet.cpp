#include "strip/ends/pngsheet.h"

#include <QCoreApplication>

#include <cstring>
#include <new>

#include "picture/pixels/rgbaband.h"
#include "strip/ends/sheetends.h"
#include "strip/sheetcheck.h"

namespace strip {

namespace {

bool composedWhole(const SheetJob &job)
{
    return job.sheet.width * job.sheet.height * 4 <= kWholePngBytes;
}

} // namespace

qint64 pngSheetBytes(const SheetJob &job)
{
    return composedWhole(job) ? job.sheet.width * job.sheet.height * 4 : 0;
}

picture::PngLayout bandedLayout(const SheetJob &job, const QColor &background)
{
    picture::PngLayout layout;
    bool opaque = background.alpha() == 255;
    const Sheet &sheet = job.sheet;
    // Cells that touch each other and the sheet's edges, each covered whole by a JPEG (which
    // has no transparency) leave no pixel to the background.
    if (!opaque && sheet.padding == 0 && sheet.margin == 0 && qint64(sheet.columns) * sheet.rows == job.frames.size()) {
        opaque = true;
        for (int i = 0; i < job.frames.size() && opaque; ++i) {
            const SheetSource &source = job.sources[job.frames[i].source];
            opaque = source.picture.format() == picture::Format::Jpeg
                && sheet.covered(i, source.size).contains(QRect(sheet.origin(i), sheet.cell));
        }
    }
    layout.type = opaque ? picture::PngLayout::Rgb : picture::PngLayout::Rgba;
    return layout;
}

bool writePngSheet(const SheetJob &job, picture::SaveSink &sink, const QColor &background,
                   picture::Compression compression, QString *inputError, QString *encoderError,
                   const std::function<void(int done, int total)> &progress)
{
    const int width = int(job.sheet.width);
    const int height = int(job.sheet.height);
    picture::RgbaBand band(background);
    if (!composedWhole(job)) {
        picture::PngWriter writer(sink, width, height, bandedLayout(job, background), compression);
        const BandCanvas canvas = rgbaCanvas(band, job, [&](const Band &b, const QImage &rows) {
            return writer.writeRows(rows, 0, int(b.end - b.top));
        });
        const bool ok = composeInBands(job, BandOrder::TopDown, canvas, inputError, progress) && writer.finish();
        *encoderError = writer.error();
        return ok;
    }
    // The same bands, gathered into the whole sheet.
    QImage whole;
    try {
        whole = QImage(width, height, QImage::Format_RGBA8888);
    } catch (const std::bad_alloc &) {
    }
    if (whole.isNull()) {
        *encoderError = noMemoryForSheet(width, height);
        return false;
    }
    const BandCanvas canvas = rgbaCanvas(band, job, [&](const Band &b, const QImage &rows) {
        for (qint64 y = b.top; y < b.end; ++y)
            std::memcpy(whole.scanLine(int(y)), rows.constScanLine(int(y - b.top)), size_t(width) * 4);
        return true;
    });
    if (!composeInBands(job, BandOrder::TopDown, canvas, inputError, progress))
        return false;
    picture::PngWriter writer(sink, width, height, picture::smallestLayout(whole, height), compression);
    const bool ok = writer.writeRows(whole, 0, height) && writer.finish();
    *encoderError = writer.error();
    return ok;
}

extern const SheetEnd pngEnd{
    SheetFormat::Png, "png", "", 4, "RGBA8888", true, BandOrder::TopDown,
    [](const SheetJob &job, picture::Compression compression) {
        return pngSheetBytes(job) + picture::pngWriterBytes(int(job.sheet.width), compression);
    },
    nullptr, false,
    [](const SheetJob &job, picture::SaveSink &sink, const QColor &background, picture::Compression compression,
       QString *inputError, QString *encoderError, const std::function<void(int done, int total)> &progress) {
        return writePngSheet(job, sink, background, compression, inputError, encoderError, progress);
    }};

} // namespace strip
