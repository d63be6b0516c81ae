#include "strip/inputs.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "browse/core/listing.h"
#include "picture/base/nativepath.h"

namespace strip {

InputFiles listInputs(const QStringList &inputs, browse::Order order, const QString &sheetPath)
{
    InputFiles listed;
    const QFileInfo sheet(sheetPath);
    for (const QString &input : inputs) {
        QStringList files{input};
        const bool folder = browse::isFolder(input);
        if (folder) {
            listed.folders.append(input);
            files = browse::pictureFilesIn(input, order, &listed.refusal);
            if (!listed.refusal.isEmpty())
                return listed;
            files.removeIf([&](const QString &file) {
                return QFileInfo(file).fileName() == sheet.fileName() && QFileInfo(file) == sheet;
            });
            if (files.isEmpty()) {
                listed.refusal = QCoreApplication::translate("strip", "Cannot read %1: the folder holds no picture files.")
                                     .arg(picture::displayPath(input));
                return listed;
            }
        }
        for (const QString &file : std::as_const(files)) {
            listed.paths.append(file);
            listed.origins.append({input, folder});
        }
    }
    return listed;
}

} // namespace strip
