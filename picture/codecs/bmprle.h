#pragma once

#include <QByteArray>
#include <QImage>

#include "picture/source/headers.h"

namespace picture {

// Decodes a run-length BMP (4 or 8 bits) whose header h was read from data. Pixels that the
// codes skip (moves and early line or picture ends) are transparent, so that what lies beneath
// shows through; codes that run past the picture's edge are cut off there. Every pixel of the
// result is defined. Format_ARGB32.
QImage decodeRunLengthBmp(const QByteArray &data, const Header &h);

// Decodes a 32-bit uncompressed icon bitmap (see Header::iconPixels) with straight alpha, every
// pixel's colour as stored, also where its alpha is 0. An icon whose alphas are all 0 was made
// for a mask alone: its mask decides then, as it does for icons of fewer bits. Format_ARGB32;
// null when the memory cannot be had.
QImage decodeIconBitmap32(const QByteArray &data, const Header &h);

} // namespace picture
