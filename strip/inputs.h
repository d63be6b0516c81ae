#pragma once

#include <QString>
#include <QStringList>

namespace strip {

enum class Order { Natural, Name };

// Natural order: runs of digits compare by value (walk2 before walk10), letters ignore case.
// Names equal by that (walk2, walk02, Walk2) keep a fixed order: fewer leading zeros first,
// then by their exact characters.
bool naturalLess(const QString &a, const QString &b);

// The window's file-list order: by name ignoring case, names equal but for case by character.
bool nameLess(const QString &a, const QString &b);

// The picture files of folder, without its subfolders or hidden files, in that order: files
// whose name ends in a picture extension or whose first bytes announce a picture. Full paths.
QStringList pictureFilesIn(const QString &folder, Order order);

} // namespace strip
