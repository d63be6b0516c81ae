#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace picture {

// Linux file names are bytes, and Qt turns them into text and back through UTF-8, which loses
// every byte that is not valid UTF-8 (old archives carry Latin-1 names). Paths here keep each
// such byte as the code point U+DC80..U+DCFF, as Python's "surrogateescape" does, so that the
// very same bytes can be had back to open the file.

// The path for bytes from the file system; valid UTF-8 reads as QFile::decodeName() reads it.
QString fromNativePath(QByteArrayView bytes);

// The bytes of path for the file system; undoes fromNativePath() exactly.
QByteArray toNativePath(const QString &path);

// The path for people to read: each kept byte shows as U+FFFD.
QString displayPath(const QString &path);

} // namespace picture
