#include "strip/sheetfile.h"

#include <QCoreApplication>

#include "picture/bitmapfile.h"
#include "picture/surface.h"
#include "strip/pngsheet.h"
#include "strip/webpsheet.h"

namespace strip {

bool produceSheet(picture::SaveSink &sink, const QString &path, const SheetJob &job, SheetFormat format, const QColor &background,
                  SheetWritten *failure, const std::function<void(int done, int total)> &progress,
                  picture::Compression compression)
{
    const int width = int(job.sheet.width);
    const int height = int(job.sheet.height);
    QString inputError;
    bool ok = false;
    if (format != SheetFormat::Bmp) {
        QString encoderError;
        ok = format == SheetFormat::Png
            ? writePngSheet(job, sink, background, compression, &inputError, &encoderError, progress)
            : writeWebpSheet(job, sink, background, compression, &inputError, &encoderError, progress);
        if (!ok && inputError.isEmpty() && !encoderError.isEmpty())
            *failure = {false, QCoreApplication::translate("strip", "Cannot write %1: %2").arg(path, encoderError)};
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

SheetWritten composeOnly(const SheetJob &job, SheetFormat format, const std::function<void(int done, int total)> &progress)
{
    const BandCanvas canvas{[](int, int) { return true; }, [](const QImage &, int, int) {}, [](const Band &) { return true; }};
    QString error;
    if (!composeInBands(job, format == SheetFormat::Bmp ? BandOrder::BottomUp : BandOrder::TopDown, canvas, &error, progress))
        return {false, error, true};
    return {};
}

SheetWritten writeSheet(const SheetJob &job, const QString &path, SheetFormat format, const QColor &background,
                        const std::function<void(int done, int total)> &progress)
{
    if (const QString refusal = sheetRefusal(job, format, QCoreApplication::translate("strip", "Cannot write %1").arg(path));
        !refusal.isEmpty())
        return {false, refusal};
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
