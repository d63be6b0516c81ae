#include "browse/folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/nativepath.h"
#include "picture/picture.h"

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

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Compares the digit runs starting at a[i] and b[j] by value; moves i and j past them.
// *zeros gets which has more leading zeros, for the final tie.
int compareNumbers(const QString &a, qsizetype &i, const QString &b, qsizetype &j, int *zeros)
{
    auto skipZeros = [](const QString &s, qsizetype &k) {
        const qsizetype start = k;
        while (k + 1 < s.size() && s[k] == u'0' && isDigit(s[k + 1]))
            ++k;
        return k - start;
    };
    const qsizetype za = skipZeros(a, i);
    const qsizetype zb = skipZeros(b, j);
    qsizetype ea = i, eb = j;
    while (ea < a.size() && isDigit(a[ea]))
        ++ea;
    while (eb < b.size() && isDigit(b[eb]))
        ++eb;
    int c = ea - i != eb - j ? (ea - i < eb - j ? -1 : 1) : QStringView(a).mid(i, ea - i).compare(QStringView(b).mid(j, eb - j));
    if (c == 0 && *zeros == 0 && za != zb)
        *zeros = za < zb ? -1 : 1;
    i = ea;
    j = eb;
    return c;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// One wildcard against a name's bytes: "*" stands for any run, letters match without regard
// to case. On bytes, so that a name that is not UTF-8 matches as well as any other.
bool wildcardMatches(QByteArrayView wildcard, QByteArrayView name)
{
    qsizetype w = 0, n = 0;
    qsizetype star = -1, resume = 0; // the last "*" seen, and where its run would end next
    while (n < name.size()) {
        if (w < wildcard.size() && wildcard[w] == '*') {
            star = w++;
            resume = n;
        } else if (w < wildcard.size() && asciiLower(wildcard[w]) == asciiLower(name[n])) {
            ++w;
            ++n;
        } else if (star >= 0) {
            w = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (w < wildcard.size() && wildcard[w] == '*')
        ++w;
    return w == wildcard.size();
}

// The file's first bytes announce a picture corvane-strip reads.
bool announcesPicture(int dirFd, const char *name)
{
    const int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    char head[16];
    const ssize_t n = read(fd, head, sizeof head);
    close(fd);
    return n > 0
        && picture::sniffFormat(QByteArray(head, n), picture::Budget{.acceptPng = true}) != picture::Format::Unknown;
}

} // namespace

bool nameLess(const QString &a, const QString &b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b; // names that differ only in case keep a fixed order
}

bool naturalLess(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    int zeros = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            if (const int c = compareNumbers(a, i, b, j, &zeros))
                return c < 0;
            continue;
        }
        const QString ca = a[i].toCaseFolded();
        const QString cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    if (zeros != 0)
        return zeros < 0;
    return a < b;
}

QString picturePattern(bool png)
{
    const QString pattern = QStringLiteral("*.BMP;*.gif;*.ico;*.jpg;*.jpeg");
    return png ? pattern + QStringLiteral(";*.png") : pattern;
}

Listing listPictures(const QString &folder, const QString &pattern, Order order, Match match)
{
    Listing listing;
    if (!readableFolder(folder)) {
        listing.message = unreadable(folder);
        return listing;
    }
    listing.ok = true;
    QList<QByteArray> wildcards = picture::toNativePath(pattern).split(';');
    wildcards.removeAll(QByteArray());
    const auto matches = [&](QByteArrayView name) {
        return std::any_of(wildcards.cbegin(), wildcards.cend(),
                           [&](const QByteArray &wildcard) { return wildcardMatches(wildcard, name); });
    };
    // The directory is read directly: the name and the entry's type come with each entry. A
    // folder of tens of thousands of pictures lists in a fraction of the time of a per-file query.
    DIR *dir = opendir(picture::toNativePath(folder).constData());
    if (!dir)
        return listing; // gone or closed since it was checked, as if empty
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.') // hidden, and "." and ".."
            continue;
        const bool byName = matches(QByteArrayView(name));
        if (!byName && match == Match::Name)
            continue;
        if (entryIs(dirfd(dir), entry, DT_REG, S_IFREG) && (byName || announcesPicture(dirfd(dir), name)))
            listing.names.append(picture::fromNativePath(QByteArrayView(name)));
    }
    closedir(dir);
    std::sort(listing.names.begin(), listing.names.end(), order == Order::Natural ? naturalLess : nameLess);
    return listing;
}

QStringList pictureFilesIn(const QString &folder, Order order)
{
    const QDir dir(folder);
    QStringList paths;
    for (const QString &name : listPictures(folder, picturePattern(true), order, Match::NameOrContent).names)
        paths.append(dir.filePath(name));
    return paths;
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
    std::sort(chain.subfolders.begin(), chain.subfolders.end(), nameLess);
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
