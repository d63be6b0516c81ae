#include "strip/ends/dataends.h"

#include <QFileInfo>

#include "strip/names.h"

namespace strip {

// Each end is defined beside its writer.
extern const DataEnd jsonHashEnd, jsonArrayEnd, tiledEnd, libgdxEnd, godotEnd, cssEnd, sparrowEnd, cocos2dEnd;

std::span<const DataEnd> dataEnds()
{
    static const DataEnd ends[] = {jsonHashEnd, jsonArrayEnd, tiledEnd, libgdxEnd, godotEnd, cssEnd, sparrowEnd, cocos2dEnd};
    return ends;
}

const DataEnd *dataEnd(const QString &id)
{
    for (const DataEnd &end : dataEnds())
        if (id == QLatin1String(end.id))
            return &end;
    return nullptr;
}

QStringList dataFiles(const DataEnd &end, const QString &sheetPath, int pages)
{
    const QString suffix = QLatin1String(end.suffix);
    if (end.files == DataEnd::Files::One || pages <= 1)
        return {besideSheet(sheetPath, suffix)};
    QStringList files;
    for (int p = 0; p < pages; ++p)
        files.append(p == 0 && end.files == DataEnd::Files::EachPageFirstBare
                         ? besideSheet(sheetPath, suffix)
                         : besideSheet(sheetPath, QStringLiteral("-%1%2").arg(p).arg(suffix)));
    return files;
}

QString stageData(picture::StagedSave &save, const SheetData &data, const QStringList &ids, const QString &sheetPath)
{
    for (const QString &id : ids) {
        const DataEnd *end = dataEnd(id);
        if (!end)
            continue;
        const QStringList files = dataFiles(*end, sheetPath, int(data.pages.size()));
        QStringList names;
        for (const QString &file : files)
            names.append(QFileInfo(file).fileName());
        for (qsizetype k = 0; k < files.size(); ++k) {
            const picture::SaveResult staged = save.stage(files[k], end->write(data, int(k), names));
            if (!staged.ok)
                return staged.message;
        }
    }
    return {};
}

} // namespace strip
