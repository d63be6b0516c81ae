#pragma once

#include <QByteArray>
#include <QImage>
#include <QIODevice>
#include <QString>

#include "picture/source/headers.h"
#include "picture/source/picture.h"

namespace picture {

// Qt's readers, for the pictures this program does not decode itself (plain and bit-field
// BMP, icons but their 32-bit bitmaps, PNG), and the last steps every decoded picture goes
// through before it is handed out.

// The icon's bytes with its directory's size set to the size of the image it holds.
QByteArray withTrustedIconSize(const QByteArray &data, const Header &h);

// The picture Qt's reader for h's format decodes from device; null with *error set when it cannot.
QImage readWithQt(QIODevice *device, const Header &h, QString *error);

// The picture Qt's reader decodes from bytes (an icon's with its trusted size, see above), a
// PNG's colour key taken out before and applied after (see Header::pngKey16); null with *cause
// set when it cannot be decoded.
QImage decodeWithQt(QByteArray bytes, const Header &h, QString *cause);

// A PNG with a colour key (16-bit RGB, or grey), decoded without its tRNS chunk (see
// Header::pngKey16): the key decides the alpha on the file's own samples and keeps its colour.
// False when the memory cannot be had.
bool applyPngKey(QImage &image, const Header &h);

// result, or its refusal as damaged when its picture is not the size the header declares.
Loaded checkedSize(Loaded result, const Header &h, const QString &name);

// A decoded picture as it is handed out: RGB32 when opaque, else ARGB32 with straight alpha;
// 16-bit BMP channels widened as other readers widen them; for a picture held with others, in
// the shared large-page memory. Refused when its size is not the header's or memory runs out.
Loaded finished(QImage image, const Header &h, const QString &name, Holding holding);

} // namespace picture
