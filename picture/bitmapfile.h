#pragma once

#include <QString>

#include "picture/savefile.h"

namespace picture {

class Surface;

// Size in bytes of an uncompressed 24-bit bitmap of width x height, or -1 when it does not
// fit the format's 32-bit size fields.
qint64 bitmapFileSize(int width, int height);

// Writes the surface's whole pixel area as an uncompressed 24-bit Windows BMP
// (BITMAPINFOHEADER, bottom-up rows padded to four bytes), replacing path atomically.
SaveResult writeBitmap(const Surface &surface, const QString &path);

} // namespace picture
