#include "strip/sheetfile.h"

#include "picture/bitmapfile.h"
#include "picture/pngwriter.h"
#include "picture/rgbaband.h"
#include "picture/surface.h"

namespace strip {

SheetWritten writeSheet(const SheetJob &job, const QString &path, SheetFormat format, const QColor &background,
                        const std::function<void(int done, int total)> &progress)
{
    const Sheet &sheet = job.sheet;
    const int width = int(sheet.width);
    const int height = int(sheet.height);
    if (format == SheetFormat::Bmp && picture::bitmapFileSize(width, height) < 0)
        return {false, picture::bitmapTooLarge(path, sheet.width, sheet.height)};
    QString inputError;
    QString encoderError;
    const picture::SaveResult saved = picture::saveAtomically(path, [&](picture::SaveSink &sink) {
        if (format == SheetFormat::Png) {
            picture::PngWriter writer(sink, width, height);
            picture::RgbaBand band(background);
            const BandCanvas canvas{
                [&](int w, int rows) { return band.reset(w, rows); },
                [&](const QImage &picture, int x, int y) { band.draw(picture, x, y); },
                [&](const Band &b) { return writer.writeRows(band.pixels(), 0, int(b.end - b.top)); }};
            const bool ok = composeInBands(job, BandOrder::TopDown, canvas, &inputError, progress) && writer.finish();
            encoderError = writer.error();
            return ok;
        }
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
        return sink.write(header.constData(), header.size())
            && composeInBands(job, BandOrder::BottomUp, canvas, &inputError, progress);
    });
    if (saved.ok)
        return {};
    if (!inputError.isEmpty())
        return {false, inputError, true};
    if (!encoderError.isEmpty())
        return {false, QStringLiteral("Cannot write %1: %2").arg(path, encoderError)};
    return {false, saved.message};
}

} // namespace strip
