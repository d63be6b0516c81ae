#include "strip/sheetcheck.h"

#include <QCoreApplication>

#include <algorithm>

#include "strip/ends/sheetends.h"

namespace strip {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

} // namespace

qint64 plannedBytes(const SheetJob &job, SheetFormat format, picture::Compression compression)
{
    const SheetEnd &end = sheetEnd(format);
    return peakBytes(job, end.order) + (end.writerBytes ? end.writerBytes(job, compression) : 0);
}

QString noMemoryForSheet(qint64 width, qint64 height)
{
    return tr("there is not enough memory for a sheet of %1 x %2 pixels").arg(width).arg(height);
}

QString sheetRefusal(const SheetJob &job, SheetFormat format, const QString &subject, picture::Compression compression,
                     qint64 *planned)
{
    const Sheet &sheet = job.sheet;
    const SheetEnd &end = sheetEnd(format);
    const QString size = tr("%1 x %2 pixels").arg(sheet.width).arg(sheet.height);
    const QString largest = tr("%1: at %2 it is larger than a sheet may be: at most %3 pixels a side and %4 pixels in all.")
                                .arg(subject, size).arg(kMaxSheetSide).arg(kMaxSheetPixels);
    if (sheet.width <= 0 || sheet.height <= 0 || sheet.width > kMaxSheetSide || sheet.height > kMaxSheetSide)
        return largest;
    // From here both sides fit an int.
    const QString own = end.refusal ? end.refusal(job, subject, size) : QString();
    if (sheet.width * sheet.height > kMaxSheetPixels)
        return end.refusalBeforeLargest && !own.isEmpty() ? own : largest;
    if (!own.isEmpty())
        return own;
    const qint64 bytes = plannedBytes(job, format, compression);
    if (bytes > job.budget.maxTotalBytes)
        return tr("%1: at %2 it needs more than the %3 MiB of memory one strip may use.")
            .arg(subject, size, picture::mebibytes(job.budget.maxTotalBytes));
    if (planned)
        *planned = bytes;
    return {};
}

} // namespace strip
