#pragma once

// The browser's view of the file system: the drives, the orders names come in, a folder's
// pictures, and the chain of folders the folder list shows.

#include <QString>
#include <QStringList>

#include <type_traits>

#include "browse/core/drives.h"
#include "browse/core/listing.h"
#include "browse/core/order.h"

namespace browse {

struct FolderChain {
    bool ok = false;
    QString message;
    QStringList ancestors;  // paths from the drive's root down to the folder itself
    QStringList subfolders; // names of the folder's non-hidden subfolders, sorted
};

// What the folder list shows for folder on the drive rooted at root.
FolderChain folderChain(const QString &root, const QString &folder);

// A chain that could not be read at all (no memory, say), with the cause.
FolderChain failedRead(std::type_identity<FolderChain>, const QString &cause);

// The chain of folder or, when it cannot be read, of the nearest folder above it that can, up
// to root; the cause for folder itself when none can.
FolderChain nearestFolderChain(const QString &root, const QString &folder);

// The folder path as the file list reports it: "/" keeps its separator, no other folder has one.
QString listPath(const QString &folder);

} // namespace browse
