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

// A file beside a sheet: the sheet's path without the last extension of its file name, then
// suffix (walk.png and ".json" give walk.json).
QString besideSheet(const QString &sheetPath, const QString &suffix);

// The companion text path of any sheet: the window's rule for a bitmap, and for other sheets
// (walk.png) the path without its last extension, then ".TXT" (walk.TXT), as a bitmap gets.
QString sheetTextPath(const QString &sheetPath);

// The companion file's one line: name, then each count after a comma and a blank, CR LF.
// Encoded in the locale's 8-bit encoding.
QByteArray companionLine(const QString &imageName, double horizontal, int frameTotal);

} // namespace strip
