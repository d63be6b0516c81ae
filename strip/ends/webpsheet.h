#pragma once

#include <QColor>
#include <QString>

#include <functional>

#include "picture/codecs/pngwriter.h"
#include "picture/base/savefile.h"
#include "strip/bands.h"

namespace strip {

// Memory that writing job's sheet as a WebP holds beside what composing it holds: the whole
// sheet's pixels, which the encoder needs at once, and the encoder's own.
qint64 webpSheetBytes(const SheetJob &job);

// Composes job's sheet (top down, bytesPerPixel 4) over background and writes it into sink as a
// lossless WebP. False on failure: *inputError names a picture that could not be read, or
// *encoderError says why the encoder stopped; both empty when the sink failed.
bool writeWebpSheet(const SheetJob &job, picture::SaveSink &sink, const QColor &background,
                    picture::Compression compression, QString *inputError, QString *encoderError,
                    const std::function<void(int done, int total)> &progress = {});

} // namespace strip
