#pragma once

#include <QFile>
#include <QString>

#include <memory>

namespace picture {

// A file opened for reading by the very bytes of its name (see nativepath.h), when it is a
// regular file: a pipe or a device would block or never end, so neither is read.
struct RegularFile {
    enum class Refused { No, Missing, Folder, NotRegular, Unreadable };
    std::unique_ptr<QFile> file; // open when refused is No
    qint64 size = 0;
    Refused refused = Refused::No;
    int error = 0;               // the errno value when Unreadable

    // Why it was refused, as the cause of a sentence that names the file ("the file does not
    // exist"); every reader of files says it in these words.
    QString cause() const { return causeOf(refused, error); }
    static QString causeOf(Refused why, int error = 0);
};

RegularFile openRegularFile(const QString &path);

} // namespace picture
