#include "strip/sheetcheck.h"

#include <QCoreApplication>

#include <algorithm>

#include "picture/bitmapfile.h"
#include "picture/pngwriter.h"
#include "picture/webpwriter.h"
#include "strip/pngsheet.h"
#include "strip/webpsheet.h"

namespace strip {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

BandOrder orderOf(SheetFormat format)
{
    return format == SheetFormat::Bmp ? BandOrder::BottomUp : BandOrder::TopDown;
}

} // namespace

qint64 plannedBytes(const SheetJob &job, SheetFormat format, picture::Compression compression)
{
    qint64 bytes = peakBytes(job, orderOf(format));
    if (format == SheetFormat::Png)
        bytes += pngSheetBytes(job) + picture::pngWriterBytes(int(job.sheet.width), compression);
    else if (format == SheetFormat::Webp)
        bytes += webpSheetBytes(job);
    return bytes;
}

QString noMemoryForSheet(qint64 width, qint64 height)
{
    return tr("there is not enough memory for a sheet of %1 x %2 pixels").arg(width).arg(height);
}

QString sheetRefusal(const SheetJob &job, SheetFormat format, const QString &subject, picture::Compression compression)
{
    const Sheet &sheet = job.sheet;
    const QString size = tr("%1 x %2 pixels").arg(sheet.width).arg(sheet.height);
    const QString bitmapTooLarge = tr("%1: at %2 it is too large for a bitmap file, which holds at most 4 GB.").arg(subject, size);
    if (sheet.width <= 0 || sheet.height <= 0 || sheet.width > kMaxSheetSide || sheet.height > kMaxSheetSide
        || sheet.width * sheet.height > kMaxSheetPixels) {
        // So many pixels pass a bitmap's own limit too, the sentence its users know.
        if (format == SheetFormat::Bmp && sheet.width > 0 && sheet.height > 0 && sheet.width <= kMaxSheetSide
            && sheet.height <= kMaxSheetSide)
            return bitmapTooLarge;
        return tr("%1: at %2 it is larger than a sheet may be: at most %3 pixels a side and %4 pixels in all.")
            .arg(subject, size).arg(kMaxSheetSide).arg(kMaxSheetPixels);
    }
    // From here both sides fit an int; a PNG holds any sheet below the largest one.
    if (format == SheetFormat::Webp && std::max(sheet.width, sheet.height) > picture::kWebpMaxSide)
        return tr("%1: at %2 it is too large for a WebP file, which holds at most %3 pixels a side; "
                  "--max-size %3 cuts it into pages.").arg(subject, size).arg(picture::kWebpMaxSide);
    if (format == SheetFormat::Bmp && picture::bitmapFileSize(int(sheet.width), int(sheet.height)) < 0)
        return bitmapTooLarge;
    if (plannedBytes(job, format, compression) > job.budget.maxTotalBytes)
        return tr("%1: at %2 it needs more than the %3 MiB of memory one strip may use.")
            .arg(subject, size, picture::mebibytes(job.budget.maxTotalBytes));
    return {};
}

} // namespace strip
