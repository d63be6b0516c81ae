#pragma once

#include <QString>

#include "picture/codecs/pngwriter.h"
#include "strip/bands.h"
#include "strip/ends/sheetends.h"

namespace strip {

// The largest sheet either program lays out. Beyond it a request is a mistake (a cell of
// 99999 x 99999, say), refused before anything is planned row by row or allocated: a side of
// at most 4194304 pixels, and at most 2147483648 pixels in all.
constexpr qint64 kMaxSheetSide = qint64(1) << 22;
constexpr qint64 kMaxSheetPixels = qint64(1) << 31;

// Every byte that composing job's sheet and writing it in format hold at once: the band, the
// pictures decoded and prepared (bled, enlarged) for it and ahead of it, the files' bytes, and
// the PNG writer's own, or the whole sheet and the WebP encoder's own.
qint64 plannedBytes(const SheetJob &job, SheetFormat format,
                    picture::Compression compression = picture::Compression::Default);

// The one place that decides whether job's sheet can be written in format: empty when it can,
// otherwise why not, as a sentence that starts with subject ("Cannot write out.png", "The strip
// cannot be made"): a sheet beyond the largest one, beyond what the format holds (a bitmap's 4 GB,
// a WebP's 16383 pixels a side), or needing
// more memory than job.budget allows.
// Why a whole sheet of width x height pixels could not be had in memory, after the check allowed it.
QString noMemoryForSheet(qint64 width, qint64 height);

// When it can, *planned (if given) holds the plannedBytes() it weighed.
QString sheetRefusal(const SheetJob &job, SheetFormat format, const QString &subject,
                     picture::Compression compression = picture::Compression::Default, qint64 *planned = nullptr);

} // namespace strip
