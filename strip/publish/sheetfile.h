#pragma once

#include <QColor>
#include <QList>
#include <QString>

#include <functional>

#include "picture/codecs/pngwriter.h"
#include "picture/base/savefile.h"
#include "strip/bands.h"
#include "strip/sheetcheck.h"

namespace strip {

struct SheetWritten {
    bool ok = true;
    QString message;     // names the file that failed and the cause
    bool inputFailed = false; // an input could not be read (rather than the output written)
};

// Composes job's sheet band by band straight into sink, the file at path: a 24-bit bitmap
// (rows from the bottom up, on background), an 8-bit RGBA PNG or a lossless WebP. False with *failure saying why
// when an input cannot be read or the encoder fails (its message empty when the sink failed).
bool produceSheet(picture::SaveSink &sink, const QString &path, const SheetJob &job, SheetFormat format, const QColor &background,
                  SheetWritten *failure, const std::function<void(int done, int total)> &progress = {},
                  picture::Compression compression = picture::Compression::Default);

// Stages into save every page of a sheet (pages, into paths), each composed as produceSheet()
// does; progress hears of page p's bands. The first failure's message (naming the picture or
// the file), or empty.
QString stagePages(picture::StagedSave &save, const QList<SheetJob> &pages, const QStringList &paths, SheetFormat format,
                   const QColor &background, picture::Compression compression,
                   const std::function<void(int page, int done, int total)> &progress = {});

// Composes job's sheet as produceSheet() does, decoding and preparing every picture, and writes
// nothing: it refuses exactly the pictures that writing refuses.
SheetWritten composeOnly(const SheetJob &job, SheetFormat format,
                         const std::function<void(int done, int total)> &progress = {});

// The same into path, replacing it atomically after sheetRefusal() allows it: on any failure
// the file is left as it was.
SheetWritten writeSheet(const SheetJob &job, const QString &path, SheetFormat format, const QColor &background,
                        const std::function<void(int done, int total)> &progress = {});

} // namespace strip
