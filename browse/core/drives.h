#pragma once

#include <QList>
#include <QString>

#include <type_traits>

namespace browse {

// A mounted file system a user would call a disk.
struct Drive {
    QString rootPath;     // its mount point
    QString label;        // what the drive list shows
};

// The real disks (no proc, sys, cgroup, devpts and the like), the root file system first.
QList<Drive> drives();

// What the drive list offers when the disks could not be found: the root file system alone.
QList<Drive> failedRead(std::type_identity<QList<Drive>>, const QString &cause);

// The drive whose mount point holds path (the deepest such mount).
int driveIndexFor(const QList<Drive> &drives, const QString &path);

// The process's current folder, its name's bytes kept as picture::fromNativePath() keeps them;
// where it was when it has been removed.
QString currentFolder();

// The folder the drive at index opens on: the current folder when that folder is on this very
// mount (not on another one mounted below it), otherwise the drive's root.
QString startFolder(const QList<Drive> &drives, int index);

} // namespace browse
