#pragma once

#include <QString>
#include <QStringList>

#include <type_traits>

#include "browse/core/order.h"

namespace browse {

// Paths and names below keep bytes that are not UTF-8 as picture::fromNativePath() does; show
// them through picture::displayPath().

// The picture files' pattern as the file list shows it, "*.BMP;*.gif;*.ico;*.jpg;*.jpeg";
// with png, "*.png;*.apng;*.webp" too (corvane-strip reads PNG and WebP, the window does not).
QString picturePattern(bool png = false);

// What makes a file a picture to a listing: its name, or also its first bytes.
enum class Match { Name, NameOrContent };

struct Listing {
    bool ok = false;
    QString message;      // why the folder could not be read
    QString cause;        // the system's reason alone ("Permission denied")
    QStringList names;    // the files taken, in the order asked for
};

// A listing that could not be made at all (no memory, say), with the cause.
Listing failedRead(std::type_identity<Listing>, const QString &cause);

// The non-hidden files of folder (a link counts as what it leads to) whose names match pattern
// - ";"-separated wildcards, "*" standing for any run of characters, ASCII letters in either case - and,
// with NameOrContent, those whose first bytes announce a picture (PNG too). Names only.
Listing listPictures(const QString &folder, const QString &pattern = picturePattern(), Order order = Order::Name,
                     Match match = Match::Name);

// path names a folder (or a link to one), looked up by its name's own bytes.
bool isFolder(const QString &path);

// corvane-strip's folder input: the folder's pictures by name (PNG and WebP too) or by content, as paths
// in folder, in order; none when the folder cannot be read, and then, when error is given,
// "Cannot read <folder>: <the cause>." in it.
QStringList pictureFilesIn(const QString &folder, Order order, QString *error = nullptr);

} // namespace browse
