#include "browse/core/listing.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "browse/core/entries.h"
#include "picture/base/nativepath.h"
#include "picture/source/picture.h"

namespace browse {

using entries::entryIs;

namespace {

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

QString picturePattern(bool png)
{
    const QString pattern = QStringLiteral("*.BMP;*.gif;*.ico;*.jpg;*.jpeg");
    return png ? pattern + QStringLiteral(";*.png;*.apng;*.webp;*.ase;*.aseprite") : pattern;
}

Listing failedRead(std::type_identity<Listing>, const QString &cause)
{
    Listing listing;
    listing.cause = cause;
    listing.message = QCoreApplication::translate("browse", "Cannot read the folder: %1.").arg(cause);
    return listing;
}

Listing listPictures(const QString &folder, const QString &pattern, Order order, Match match)
{
    Listing listing;
    const auto refuse = [&](int error) {
        listing.message = entries::unreadable(folder);
        listing.cause = QString::fromLocal8Bit(std::strerror(error));
        return listing;
    };
    if (const int error = entries::folderError(folder))
        return refuse(error);
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
        return refuse(errno); // gone or closed since it was checked
    errno = 0;
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] != '.') { // hidden, and "." and ".."
            const bool byName = matches(QByteArrayView(name));
            if ((byName || match == Match::NameOrContent) && entryIs(dirfd(dir), entry, DT_REG, S_IFREG)
                && (byName || announcesPicture(dirfd(dir), name)))
                listing.names.append(picture::fromNativePath(QByteArrayView(name)));
        }
        errno = 0; // readdir() tells its end from a failure only by errno
    }
    const int readError = errno;
    closedir(dir);
    if (readError) {
        listing.names.clear();
        return refuse(readError);
    }
    listing.ok = true;
    std::sort(listing.names.begin(), listing.names.end(), order == Order::Natural ? naturalLess : nameLess);
    return listing;
}

bool isFolder(const QString &path)
{
    struct stat info;
    const QByteArray native = picture::toNativePath(path);
    return !native.isEmpty() && stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QStringList pictureFilesIn(const QString &folder, Order order, QString *error)
{
    const Listing listing = listPictures(folder, picturePattern(true), order, Match::NameOrContent);
    if (!listing.ok && error)
        *error = QCoreApplication::translate("browse", "Cannot read %1: %2.").arg(picture::displayPath(folder), listing.cause);
    QStringList paths;
    for (const QString &name : listing.names)
        paths.append(picture::pathIn(folder, name));
    return paths;
}

} // namespace browse
