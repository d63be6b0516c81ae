#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "picture/base/savefile.h"

namespace picture {

// Size in bytes of an uncompressed 24-bit bitmap of width x height, or -1 when it does not
// fit the format's 32-bit size fields.
qint64 bitmapFileSize(int width, int height);

// The 54 bytes that start such a bitmap; width and height must fit (bitmapFileSize() >= 0).
QByteArray bitmapHeader(int width, int height);

// Writes rows endRow - 1 down to firstRow of pixels (BGR888) as bitmap rows, padded with zeros.
bool writeBitmapRows(SaveSink &sink, const QImage &pixels, int firstRow, int endRow);

} // namespace picture
