#pragma once

#include <QByteArray>
#include <QString>

namespace strip {

// The bitmap path for a path chosen in the save dialog: a doubled ".BMP.BMP" (any case) in the
// file-name part is cut back to its first extension, in the case typed; otherwise unchanged.
// Folder names are never searched.
QString bitmapPath(const QString &chosenPath);

// The image name recorded in the companion file: the same rule applied to the title alone.
QString imageName(const QString &chosenTitle);

// The companion text path: the bitmap path up to the first ".BMP" of its file-name part
// (any case), then ".TXT"; the whole path then ".TXT" when the file name holds none.
QString textPath(const QString &bitmapPath);

// The companion file's one line: name, then each count after a comma and a blank, CR LF.
// Encoded in the locale's 8-bit encoding.
QByteArray companionLine(const QString &imageName, double horizontal, int frameTotal);

} // namespace strip
