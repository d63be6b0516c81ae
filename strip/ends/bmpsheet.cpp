// The window's own format: a 24-bit bitmap, rows from the bottom up, on an opaque background.
#include <QCoreApplication>

#include "picture/codecs/bitmapfile.h"
#include "picture/pixels/surface.h"
#include "strip/ends/sheetends.h"

namespace strip {

namespace {

bool writeBitmapSheet(const SheetJob &job, picture::SaveSink &sink, const QColor &background, picture::Compression,
                      QString *inputError, QString *, const std::function<void(int done, int total)> &progress)
{
    // The window's own surface and bitmap rows, a band at a time, from the bottom up.
    picture::Surface band(0, 0, background);
    const QByteArray header = picture::bitmapHeader(int(job.sheet.width), int(job.sheet.height));
    const BandCanvas canvas{
        [&](int w, int rows) {
            const bool sized = band.setWidth(w) && band.setHeight(rows);
            band.clear();
            return sized;
        },
        [&](const QImage &picture, int x, int y) { band.draw(picture, x, y); },
        [&](const Band &) { return picture::writeBitmapRows(sink, band.pixels(), 0, band.height()); }};
    return sink.write(header.constData(), header.size()) && composeInBands(job, BandOrder::BottomUp, canvas, inputError, progress);
}

} // namespace

extern const SheetEnd bmpEnd{
    SheetFormat::Bmp, "bmp", "", 3, "RGB888", false, BandOrder::BottomUp, nullptr,
    [](const SheetJob &job, const QString &subject, const QString &size) {
        if (picture::bitmapFileSize(int(job.sheet.width), int(job.sheet.height)) >= 0)
            return QString();
        return QCoreApplication::translate("strip", "%1: at %2 it is too large for a bitmap file, which holds at most 4 GB.")
            .arg(subject, size);
    },
    true, writeBitmapSheet};

} // namespace strip
