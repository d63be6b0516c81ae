#include "strip/ends/dataends.h"

#include <QFileInfo>

#include "strip/layouts/layouts.h"
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

QString endsRefusal(const QString &layout, bool rotate, bool premultiply, const QStringList &ids, bool txt,
                    const QString &subject)
{
    const Layout *laid = layoutNamed(layout);
    const bool grid = laid && laid->grid;
    for (const QString &id : ids) {
        const DataEnd *end = dataEnd(id);
        if (!end)
            continue;
        if (rotate && end->noRotation)
            return QStringLiteral("%1: --rotate turns frames a quarter on the sheet, and %2; leave out --rotate or --format %3.")
                .arg(subject, QLatin1String(end->noRotation), id);
        if (premultiply && end->straightAlphaOnly)
            return QStringLiteral("%1: --alpha premultiply multiplies every colour by its alpha, and %2; leave out "
                                  "--alpha premultiply or --format %3.").arg(subject, QLatin1String(end->straightAlphaOnly), id);
        if (!grid && end->needsGrid)
            return QStringLiteral("%1: %2, which --layout %3 does not make; use --layout grid or leave out --format %4.")
                .arg(subject, QLatin1String(end->needsGrid), layout, id);
    }
    if (rotate) {
        QString clockwise, anticlockwise;
        for (const QString &id : ids)
            if (const DataEnd *end = dataEnd(id))
                (end->turnsBackClockwise ? anticlockwise : clockwise) = id;
        if (!clockwise.isEmpty() && !anticlockwise.isEmpty())
            return QStringLiteral("%1: with --rotate, --format %2 wants turned frames stored anticlockwise and --format %3 "
                                  "clockwise, so one sheet cannot serve both; write them in two runs.")
                .arg(subject, anticlockwise, clockwise);
    }
    if (txt && !grid)
        return QStringLiteral("%1: the text file records frames a row of an even grid, which --layout %2 does not make; "
                              "use --layout grid or leave out --txt.").arg(subject, layout);
    return {};
}

bool turnedAnticlockwise(const QStringList &ids)
{
    for (const QString &id : ids)
        if (const DataEnd *end = dataEnd(id); end && end->turnsBackClockwise)
            return true;
    return false;
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
