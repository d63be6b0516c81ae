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

// A name (a frame's, from a file name or a data file) for a message: characters that would not
// show, or would change the line (controls, format characters, a NUL, bytes that are not UTF-8),
// written as \n, \t, \xFF or \u202E; a name longer than a line is cut in the middle, its
// start and end kept around " ... ".
QString shownName(const QString &name);

// Every path from a user or a data file goes through plainPath() before it reaches Qt's file
// classes, which read a leading ':' as one of Qt's own resources: such a relative path is given
// as "./:...", which names the same file. Other paths are unchanged.
QString plainPath(const QString &path);

// name inside folder, joined as the file system joins them: QDir::filePath() takes a name that
// starts with ':' for a resource and drops the folder.
QString pathIn(const QString &folder, const QString &name);

} // namespace picture
