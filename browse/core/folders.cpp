#include "browse/core/folders.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

#include "browse/core/entries.h"
#include "picture/base/nativepath.h"

namespace browse {

using entries::entryIs;

namespace {

// The folder above path: "/" for a folder at the root, path itself for "/".
QString parentFolder(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

FolderChain folderChain(const QString &root, const QString &folder)
{
    FolderChain chain;
    const QString cleanRoot = QDir::cleanPath(root);
    const QString clean = QDir::cleanPath(folder);
    if (entries::folderError(clean) != 0) {
        chain.message = entries::unreadable(clean);
        return chain;
    }
    QString at = clean;
    chain.ancestors.prepend(at);
    while (at != cleanRoot && at != u'/') {
        at = parentFolder(at);
        chain.ancestors.prepend(at);
    }
    if (DIR *dir = opendir(picture::toNativePath(clean).constData())) {
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] != '.' && entryIs(dirfd(dir), entry, DT_DIR, S_IFDIR))
                chain.subfolders.append(picture::fromNativePath(QByteArrayView(entry->d_name)));
        }
        closedir(dir);
    }
    std::sort(chain.subfolders.begin(), chain.subfolders.end(), nameLess);
    chain.ok = true;
    return chain;
}

FolderChain failedRead(std::type_identity<FolderChain>, const QString &cause)
{
    FolderChain chain;
    chain.message = QCoreApplication::translate("browse", "Cannot read the folder: %1.").arg(cause);
    return chain;
}

FolderChain nearestFolderChain(const QString &root, const QString &folder)
{
    const FolderChain wanted = folderChain(root, folder);
    if (wanted.ok)
        return wanted;
    const QString cleanRoot = QDir::cleanPath(root);
    QString at = QDir::cleanPath(folder);
    // A folder off the drive, or no folder at all, falls back on the drive's root.
    const bool onDrive = cleanRoot == u'/' || at == cleanRoot || at.startsWith(cleanRoot + u'/');
    while (at != cleanRoot && at != u'/') {
        at = onDrive ? parentFolder(at) : cleanRoot;
        FolderChain chain = folderChain(root, at);
        if (chain.ok)
            return chain;
    }
    return wanted;
}

QString listPath(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    return clean.isEmpty() ? QStringLiteral("/") : clean;
}

} // namespace browse
