#include "picture/base/regularfile.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/base/nativepath.h"

namespace picture {

QString RegularFile::causeOf(Refused why, int error)
{
    switch (why) {
    case Refused::No:
        break;
    case Refused::Missing:
        return QCoreApplication::translate("picture", "the file does not exist");
    case Refused::Folder:
        return QCoreApplication::translate("picture", "it is a folder, not a file");
    case Refused::NotRegular:
        return QCoreApplication::translate("picture", "it is not a regular file");
    case Refused::Unreadable:
        return QString::fromLocal8Bit(std::strerror(error));
    }
    return {};
}

RegularFile openRegularFile(const QString &path)
{
    RegularFile opened;
    const auto refuse = [&](RegularFile::Refused why, int error = 0) {
        opened.refused = why;
        opened.error = error;
        return std::move(opened);
    };
    const QByteArray native = toNativePath(path);
    const auto gone = [&](int error) {
        return refuse(error == ENOENT || error == ENOTDIR ? RegularFile::Refused::Missing : RegularFile::Refused::Unreadable, error);
    };
    // Looked at before it is opened, since opening a device may do something of its own.
    struct stat info;
    if (::stat(native.constData(), &info) != 0)
        return gone(errno);
    if (!S_ISREG(info.st_mode))
        return refuse(S_ISDIR(info.st_mode) ? RegularFile::Refused::Folder : RegularFile::Refused::NotRegular);
    // O_NONBLOCK: a pipe swapped in since the look above must not block the open.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return gone(errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        return refuse(folder ? RegularFile::Refused::Folder : RegularFile::Refused::NotRegular);
    }
    opened.size = info.st_size;
    opened.file = std::make_unique<QFile>();
    if (!opened.file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        opened.file.reset();
        return refuse(RegularFile::Refused::Unreadable, EIO);
    }
    return opened;
}

} // namespace picture
