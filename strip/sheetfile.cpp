#include "strip/sheetfile.h"

#include <QCoreApplication>

#include "picture/bitmapfile.h"
#include "picture/pngwriter.h"
#include "picture/rgbaband.h"
#include "picture/surface.h"

namespace strip {

bool produceSheet(picture::SaveSink &sink, const QString &path, const SheetJob &job, SheetFormat format, const QColor &background,
                  SheetWritten *failure, const std::function<void(int done, int total)> &progress)
{
    const int width = int(job.sheet.width);
    const int height = int(job.sheet.height);
    QString inputError;
    bool ok = false;
    if (format == SheetFormat::Png) {
        picture::PngWriter writer(sink, width, height);
        picture::RgbaBand band(background);
        const BandCanvas canvas{
            [&](int w, int rows) { return band.reset(w, rows); },
            [&](const QImage &picture, int x, int y) { band.draw(picture, x, y); },
            [&](const Band &b) { return writer.writeRows(band.pixels(), 0, int(b.end - b.top)); }};
        ok = composeInBands(job, BandOrder::TopDown, canvas, &inputError, progress) && writer.finish();
        if (!ok && inputError.isEmpty() && !writer.error().isEmpty())
            *failure = {false, QCoreApplication::translate("strip", "Cannot write %1: %2").arg(path, writer.error())};
    } else {
        // The window's own surface and bitmap rows, a band at a time, from the bottom up.
        picture::Surface band(0, 0, background);
        const QByteArray header = picture::bitmapHeader(width, height);
        const BandCanvas canvas{
            [&](int w, int rows) {
                const bool sized = band.setWidth(w) && band.setHeight(rows);
                band.clear();
                return sized;
            },
            [&](const QImage &picture, int x, int y) { band.draw(picture, x, y); },
            [&](const Band &) { return picture::writeBitmapRows(sink, band.pixels(), 0, band.height()); }};
        ok = sink.write(header.constData(), header.size()) && composeInBands(job, BandOrder::BottomUp, canvas, &inputError, progress);
    }
    if (!inputError.isEmpty())
        *failure = {false, inputError, true};
    return ok;
}

SheetWritten writeSheet(const SheetJob &job, const QString &path, SheetFormat format, const QColor &background,
                        const std::function<void(int done, int total)> &progress)
{
    if (format == SheetFormat::Bmp && picture::bitmapFileSize(int(job.sheet.width), int(job.sheet.height)) < 0)
        return {false, picture::bitmapTooLarge(path, job.sheet.width, job.sheet.height)};
    SheetWritten failure;
    const picture::SaveResult saved = picture::saveAtomically(
        path, [&](picture::SaveSink &sink) { return produceSheet(sink, path, job, format, background, &failure, progress); });
    if (saved.ok)
        return {};
    if (!failure.message.isEmpty())
        return failure;
    return {false, saved.message};
}

} // namespace strip
