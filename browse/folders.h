#pragma once

#include <QString>
#include <QStringList>

namespace browse {

// The file list's pattern, as the user sees it.
inline constexpr char16_t kPicturePattern[] = u"*.BMP;*.gif;*.ico;*.jpg;*.jpeg";

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

struct Listing {
    bool ok = false;
    QString message;      // why the folder could not be read
    QStringList names;    // matching file names, case-insensitively sorted
};

// The non-hidden files of folder matching the pattern, names only, without regard to case.
Listing listPictures(const QString &folder);

// True when name matches the pattern, without regard to case.
bool matchesPattern(const QString &name);

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
