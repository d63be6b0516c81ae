#include "browse/core/drives.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <unistd.h>

#include "picture/base/nativepath.h"

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

QList<Drive> failedRead(std::type_identity<QList<Drive>>, const QString &)
{
    return {{QStringLiteral("/"), QStringLiteral("/")}};
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

} // namespace browse
