#pragma once

// What the listing and the folder chain share: a folder checked and its entries told apart on
// their names' own bytes. Not for outside browse/.

#include <QString>

#include <dirent.h>
#include <sys/stat.h>

namespace browse::entries {

// 0 when folder can be listed and entered, else the system's error number for why not
// (ENOTDIR for a file).
int folderError(const QString &folder);

// The file list's and the folder list's sentence for a folder that cannot be read.
QString unreadable(const QString &folder);

// The entry is of the kind wanted; a link counts as what it leads to, one that leads nowhere
// as nothing. Only links (and file systems that give no type) cost a look at the entry itself.
bool entryIs(int dirFd, const dirent *entry, unsigned char type, mode_t mode);

} // namespace browse::entries
