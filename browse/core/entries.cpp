#include "browse/core/entries.h"

#include <QCoreApplication>

#include <cerrno>

#include <unistd.h>

#include "picture/base/nativepath.h"

namespace browse::entries {

QString unreadable(const QString &folder)
{
    return QCoreApplication::translate("browse", "Cannot read the folder %1: it does not exist or is not accessible.")
        .arg(picture::displayPath(folder));
}

// On the name's own bytes: QFileInfo would look up a different name when they are not UTF-8.
int folderError(const QString &folder)
{
    const QByteArray native = picture::toNativePath(folder);
    struct stat info;
    if (native.isEmpty())
        return ENOENT;
    if (stat(native.constData(), &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    return access(native.constData(), R_OK | X_OK) == 0 ? 0 : errno;
}

// The entry is of the kind wanted; a link counts as what it leads to, one that leads nowhere
// as nothing. Only links (and file systems that give no type) cost a look at the entry itself.
bool entryIs(int dirFd, const dirent *entry, unsigned char type, mode_t mode)
{
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return entry->d_type == type;
    struct stat info;
    return fstatat(dirFd, entry->d_name, &info, 0) == 0 && (info.st_mode & S_IFMT) == mode;
}

} // namespace browse::entries
