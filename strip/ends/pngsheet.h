#pragma once

#include <QColor>
#include <QString>

#include <functional>

#include "picture/codecs/pngwriter.h"
#include "picture/base/savefile.h"
#include "strip/bands.h"

namespace strip {

// Sheets up to this many bytes of RGBA are composed whole before they are written, so that the
// PNG's colour type can follow every pixel; larger ones are written band by band.
constexpr qint64 kWholePngBytes = qint64(64) << 20;

// Memory that writing job's sheet as a PNG holds beside what composing it holds.
qint64 pngSheetBytes(const SheetJob &job);

// The PNG layout a sheet written band by band can be given before its pixels are known: RGB
// when no pixel can be translucent (an opaque background, or opaque pictures that cover every
// cell of a sheet without gaps), RGBA otherwise.
picture::PngLayout bandedLayout(const SheetJob &job, const QColor &background);

// Composes job's sheet (top down, bytesPerPixel 4) over background and writes it into sink as a
// PNG in the smallest colour type that keeps its pixels. False on failure: *inputError names a
// picture that could not be read, or *encoderError says why the encoder stopped; both empty
// when the sink failed.
bool writePngSheet(const SheetJob &job, picture::SaveSink &sink, const QColor &background,
                   picture::Compression compression, QString *inputError, QString *encoderError,
                   const std::function<void(int done, int total)> &progress = {});

} // namespace strip
