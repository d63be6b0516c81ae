#include "browse/folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/nativepath.h"

namespace browse {

namespace {

// File systems that hold no user files: the kernel's views and the container plumbing.
bool isPseudoFileSystem(const QByteArray &type)
{
    static const QSet<QByteArray> pseudo = {
        "proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs", "mqueue", "debugfs", "tracefs",
        "securityfs", "pstore", "bpf", "configfs", "fusectl", "hugetlbfs", "autofs", "binfmt_misc",
        "efivarfs", "rpc_pipefs", "nsfs", "ramfs", "squashfs", "overlay.lower", "selinuxfs",
        "fuse.gvfsd-fuse", "fuse.portal", "tmpfs"};
    return pseudo.contains(type);
}

bool isSystemMountPoint(const QString &root)
{
    static const QStringList prefixes = {QStringLiteral("/proc"), QStringLiteral("/sys"), QStringLiteral("/dev"),
                                         QStringLiteral("/run"), QStringLiteral("/snap"), QStringLiteral("/var/lib/docker")};
    for (const QString &prefix : prefixes) {
        if (root == prefix || root.startsWith(prefix + u'/'))
            return !root.startsWith(QStringLiteral("/run/media/")); // removable media live there
    }
    return false;
}

bool lessIgnoringCase(const QString &a, const QString &b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b; // names that differ only in case keep a fixed order
}

void sortIgnoringCase(QStringList &names)
{
    std::sort(names.begin(), names.end(), lessIgnoringCase);
}

QString unreadable(const QString &folder)
{
    return QCoreApplication::translate("browse", "Cannot read the folder %1: it does not exist or is not accessible.")
        .arg(picture::displayPath(folder));
}

// On the name's own bytes: QFileInfo would look up a different name when they are not UTF-8.
bool readableFolder(const QString &folder)
{
    const QByteArray native = picture::toNativePath(folder);
    struct stat info;
    return !native.isEmpty() && stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && access(native.constData(), R_OK | X_OK) == 0;
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

// The folder above path: "/" for a folder at the root, path itself for "/".
QString parentFolder(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

QList<Drive> drives()
{
    QList<Drive> result;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || isPseudoFileSystem(volume.fileSystemType()))
            continue;
        if (root != u'/' && (isSystemMountPoint(root) || !QFileInfo(root).isDir()))
            continue;
        if (std::any_of(result.cbegin(), result.cend(), [&](const Drive &d) { return d.rootPath == root; }))
            continue;
        QString label = root;
        if (!volume.displayName().isEmpty() && volume.displayName() != root)
            label += QStringLiteral("  [%1]").arg(volume.displayName());
        result.append({root, label});
    }
    if (std::none_of(result.cbegin(), result.cend(), [](const Drive &d) { return d.rootPath == u'/'; }))
        result.append({QStringLiteral("/"), QStringLiteral("/")});
    std::sort(result.begin(), result.end(), [](const Drive &a, const Drive &b) { return a.rootPath < b.rootPath; });
    return result;
}

int driveIndexFor(const QList<Drive> &drives, const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < drives.size(); ++i) {
        const QString &root = drives[i].rootPath;
        const bool inside = root == u'/' || clean == root || clean.startsWith(root + u'/');
        if (inside && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    return best;
}

QString currentFolder()
{
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (errno != ENOENT)
            return {};
        // Removed since: the kernel still knows where it was, which leads to the nearest folder
        // above it that is left.
        const ssize_t n = readlink("/proc/self/cwd", buffer.data(), buffer.size());
        const QByteArrayView deleted(" (deleted)");
        if (n <= 0 || size_t(n) >= buffer.size() || !QByteArrayView(buffer.data(), n).endsWith(deleted))
            return {};
        return picture::fromNativePath(QByteArrayView(buffer.data(), n).chopped(deleted.size()));
    }
    return picture::fromNativePath(QByteArrayView(buffer.data()));
}

QString startFolder(const QList<Drive> &drives, int index)
{
    const QString current = currentFolder();
    return !current.isEmpty() && driveIndexFor(drives, current) == index ? current : drives.value(index).rootPath;
}

namespace {

// The pattern on the name's bytes: its suffixes are plain ASCII.
bool matchesPattern(QByteArrayView name)
{
    static const char *const suffixes[] = {".bmp", ".gif", ".ico", ".jpg", ".jpeg"};
    return std::any_of(std::begin(suffixes), std::end(suffixes), [&](const char *s) {
        const qsizetype n = qsizetype(std::strlen(s));
        return name.size() >= n && qstrnicmp(name.data() + name.size() - n, n, s, n) == 0;
    });
}

} // namespace

bool matchesPattern(const QString &name)
{
    static const QString suffixes[] = {QStringLiteral(".bmp"), QStringLiteral(".gif"), QStringLiteral(".ico"),
                                       QStringLiteral(".jpg"), QStringLiteral(".jpeg")};
    return std::any_of(std::begin(suffixes), std::end(suffixes),
                       [&](const QString &s) { return name.endsWith(s, Qt::CaseInsensitive); });
}

Listing listPictures(const QString &folder)
{
    Listing listing;
    if (!readableFolder(folder)) {
        listing.message = unreadable(folder);
        return listing;
    }
    listing.ok = true;
    // The directory is read directly: the name and the entry's type come with each entry. A
    // folder of tens of thousands of pictures lists in a fraction of the time of a per-file query.
    DIR *dir = opendir(picture::toNativePath(folder).constData());
    if (!dir)
        return listing; // gone or closed since it was checked, as if empty
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.') // hidden, and "." and ".."
            continue;
        if (matchesPattern(QByteArrayView(name)) && entryIs(dirfd(dir), entry, DT_REG, S_IFREG))
            listing.names.append(picture::fromNativePath(QByteArrayView(name)));
    }
    closedir(dir);
    sortIgnoringCase(listing.names);
    return listing;
}

FolderChain folderChain(const QString &root, const QString &folder)
{
    FolderChain chain;
    const QString cleanRoot = QDir::cleanPath(root);
    const QString clean = QDir::cleanPath(folder);
    if (!readableFolder(clean)) {
        chain.message = unreadable(clean);
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
    std::sort(chain.subfolders.begin(), chain.subfolders.end(), lessIgnoringCase);
    chain.ok = true;
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
