#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "picture/source/picture.h"

namespace picture {

// The outcome of decoding a JPEG: a picture, or the kind of failure and its cause in a few words.
struct JpegResult {
    QImage image; // Format_BGR888 at the stored size (no EXIF turn), the layout of a 24-bit bitmap's rows
    LoadError error = LoadError::None;
    QString cause;
};

// Decodes a JPEG held in memory with libjpeg: baseline, progressive, arithmetic, grayscale and
// CMYK/YCCK. Data that ends or breaks before the picture does is refused as Damaged, where
// libjpeg alone would fill the rest with grey; only a missing end marker is forgiven.
// The caller has already held the declared size against the budget; maxMemory bounds what
// libjpeg may take for the whole-picture buffers of progressive and multi-scan files.
// A picture held with others is decoded straight into the shared large-page memory. shrink (1,
// 2, 4 or 8) decodes at that fraction of the size, rounded up, in a fraction of the time: the
// same checks hold, as every scan is still read.
JpegResult decodeJpeg(const QByteArray &data, qint64 maxMemory, Holding holding = Holding::Alone, int shrink = 1);

} // namespace picture
