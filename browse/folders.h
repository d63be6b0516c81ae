#pragma once

#include <QString>
#include <QStringList>

namespace browse {

// A mounted file system a user would call a disk.
struct Drive {
    QString rootPath;     // its mount point
    QString label;        // what the drive list shows
};

// The real disks (no proc, sys, cgroup, devpts and the like), the root file system first.
QList<Drive> drives();

// The drive whose mount point holds path (the deepest such mount).
int driveIndexFor(const QList<Drive> &drives, const QString &path);

// The process's current folder, its name's bytes kept as picture::fromNativePath() keeps them;
// where it was when it has been removed.
QString currentFolder();

// The folder the drive at index opens on: the current folder when that folder is on this very
// mount (not on another one mounted below it), otherwise the drive's root.
QString startFolder(const QList<Drive> &drives, int index);

// Paths and names below keep bytes that are not UTF-8 as picture::fromNativePath() does; show
// them through picture::displayPath().

// The orders a folder's names come in.
enum class Order {
    Name,    // the file list's
    Natural, // corvane-strip's default
};

// The file list's order: by name without regard to case, names equal but for case by character.
bool nameLess(const QString &a, const QString &b);

// Natural order: runs of digits compare by value (walk2 before walk10), letters ignore case.
// Names equal by that (walk2, walk02, Walk2) keep a fixed order: fewer leading zeros first,
// then by their exact characters.
bool naturalLess(const QString &a, const QString &b);

// The picture files' pattern as the file list shows it, "*.BMP;*.gif;*.ico;*.jpg;*.jpeg";
// with png, "*.png" too (corvane-strip reads PNG, the window does not).
QString picturePattern(bool png = false);

// What makes a file a picture to a listing: its name, or also its first bytes.
enum class Match { Name, NameOrContent };

struct Listing {
    bool ok = false;
    QString message;      // why the folder could not be read
    QStringList names;    // the files taken, in the order asked for
};

// The non-hidden files of folder (a link counts as what it leads to) whose names match pattern
// - ";"-separated wildcards, "*" standing for any run of characters, ASCII letters in either case - and,
// with NameOrContent, those whose first bytes announce a picture (PNG too). Names only.
Listing listPictures(const QString &folder, const QString &pattern = picturePattern(), Order order = Order::Name,
                     Match match = Match::Name);

// corvane-strip's folder input: the folder's pictures by name (PNG too) or by content, as paths
// in folder, in order; none when the folder cannot be read.
QStringList pictureFilesIn(const QString &folder, Order order);

struct FolderChain {
    bool ok = false;
    QString message;
    QStringList ancestors;  // paths from the drive's root down to the folder itself
    QStringList subfolders; // names of the folder's non-hidden subfolders, sorted
};

// What the folder list shows for folder on the drive rooted at root.
FolderChain folderChain(const QString &root, const QString &folder);

// The chain of folder or, when it cannot be read, of the nearest folder above it that can, up
// to root; the cause for folder itself when none can.
FolderChain nearestFolderChain(const QString &root, const QString &folder);

// The folder path as the file list reports it: "/" keeps its separator, no other folder has one.
QString listPath(const QString &folder);

} // namespace browse
