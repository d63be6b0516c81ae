#pragma once

#include <QString>

#include "picture/codecs/pngwriter.h"
#include "picture/base/savefile.h"

namespace picture {

// The largest side a WebP may have.
constexpr qint64 kWebpMaxSide = 16383;

// The most memory libwebp's lossless encoder holds beside the pixels it is given, for a picture
// of width x height.
qint64 webpEncoderBytes(qint64 width, qint64 height);

// Encodes width x height pixels as a lossless WebP into sink. argb holds them row after row as
// 0xAARRGGBB words with straight alpha; with exact the colours of fully transparent pixels are
// kept, without it the encoder may change them (in argb too). The bytes depend on the pixels and
// the options alone. False on failure: *error says why the encoder failed, empty when the sink
// did.
bool writeLosslessWebp(SaveSink &sink, quint32 *argb, int width, int height, Compression compression, bool exact,
                       QString *error);

} // namespace picture
