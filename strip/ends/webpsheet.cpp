#include "strip/ends/webpsheet.h"

#include <QCoreApplication>

#include <algorithm>
#include <new>
#include <vector>

#include "picture/pixels/rgbaband.h"
#include "picture/codecs/webpwriter.h"
#include "strip/ends/sheetends.h"
#include "strip/sheetcheck.h"

namespace strip {

qint64 webpSheetBytes(const SheetJob &job)
{
    return job.sheet.width * job.sheet.height * 4 + picture::webpEncoderBytes(job.sheet.width, job.sheet.height);
}

bool writeWebpSheet(const SheetJob &job, picture::SaveSink &sink, const QColor &background,
                    picture::Compression compression, QString *inputError, QString *encoderError,
                    const std::function<void(int done, int total)> &progress)
{
    const int width = int(job.sheet.width);
    const int height = int(job.sheet.height);
    std::vector<quint32> argb;
    try {
        argb.resize(size_t(width) * size_t(height));
    } catch (const std::bad_alloc &) {
        *encoderError = noMemoryForSheet(width, height);
        return false;
    }
    // The bands, gathered into the whole sheet as the encoder takes it: 0xAARRGGBB words.
    picture::RgbaBand band(background);
    const BandCanvas canvas = rgbaCanvas(band, job, [&](const Band &b, const QImage &rows) {
        for (qint64 y = b.top; y < b.end; ++y) {
            const uchar *p = rows.constScanLine(int(y - b.top));
            quint32 *out = argb.data() + size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x, p += 4)
                out[x] = quint32(p[3]) << 24 | quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
        }
        return true;
    });
    if (!composeInBands(job, BandOrder::TopDown, canvas, inputError, progress))
        return false;
    // Exact even after --alpha clean: without it libwebp gives clear pixels whatever colour
    // predicts best, and a cleaned sheet would no longer read back as zeros.
    return picture::writeLosslessWebp(sink, argb.data(), width, height, compression, true, encoderError);
}

extern const SheetEnd webpEnd{
    SheetFormat::Webp, "webp", "(lossless)", 4, "RGBA8888", true, BandOrder::TopDown,
    [](const SheetJob &job, picture::Compression) { return webpSheetBytes(job); },
    [](const SheetJob &job, const QString &subject, const QString &size) {
        if (std::max(job.sheet.width, job.sheet.height) <= picture::kWebpMaxSide)
            return QString();
        return QCoreApplication::translate("strip", "%1: at %2 it is too large for a WebP file, which holds at most %3 "
                                                    "pixels a side; --max-size %3 cuts it into pages.")
            .arg(subject, size).arg(picture::kWebpMaxSide);
    },
    false,
    [](const SheetJob &job, picture::SaveSink &sink, const QColor &background, picture::Compression compression,
       QString *inputError, QString *encoderError, const std::function<void(int done, int total)> &progress) {
        return writeWebpSheet(job, sink, background, compression, inputError, encoderError, progress);
    }};

} // namespace strip
