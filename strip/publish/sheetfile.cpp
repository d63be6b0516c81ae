#include "strip/publish/sheetfile.h"

#include <QCoreApplication>


namespace strip {

bool produceSheet(picture::SaveSink &sink, const QString &path, const SheetJob &job, SheetFormat format, const QColor &background,
                  SheetWritten *failure, const std::function<void(int done, int total)> &progress,
                  picture::Compression compression)
{
    QString inputError, encoderError;
    const bool ok = sheetEnd(format).write(job, sink, background, compression, &inputError, &encoderError, progress);
    if (!ok && inputError.isEmpty() && !encoderError.isEmpty())
        *failure = {false, QCoreApplication::translate("strip", "Cannot write %1: %2").arg(path, encoderError)};
    if (!inputError.isEmpty())
        *failure = {false, inputError, true};
    return ok;
}

QString stagePages(picture::StagedSave &save, const QList<SheetJob> &pages, const QStringList &paths, SheetFormat format,
                   const QColor &background, picture::Compression compression,
                   const std::function<void(int page, int done, int total)> &progress)
{
    for (qsizetype p = 0; p < pages.size(); ++p) {
        SheetWritten failure;
        const auto pageProgress = [&](int done, int total) {
            if (progress)
                progress(int(p), done, total);
        };
        const picture::SaveResult staged = save.stage(paths[p], [&](picture::SaveSink &sink) {
            return produceSheet(sink, paths[p], pages[p], format, background, &failure, pageProgress, compression);
        });
        if (!staged.ok)
            return failure.message.isEmpty() ? staged.message : failure.message;
    }
    return {};
}

SheetWritten composeOnly(const SheetJob &job, SheetFormat format, const std::function<void(int done, int total)> &progress)
{
    const BandCanvas canvas{[](int, int) { return true; }, [](const QImage &, int, int) {}, [](const Band &) { return true; }};
    QString error;
    if (!composeInBands(job, sheetEnd(format).order, canvas, &error, progress))
        return {false, error, true};
    return {};
}

SheetWritten writeSheet(const SheetJob &job, const QString &path, SheetFormat format, const QColor &background,
                        const std::function<void(int done, int total)> &progress)
{
    if (const QString refusal = sheetRefusal(job, format, QCoreApplication::translate("strip", "Cannot write %1").arg(path));
        !refusal.isEmpty())
        return {false, refusal};
    SheetWritten failure;
    const picture::SaveResult saved = picture::saveAtomically(
        path, [&](picture::SaveSink &sink) { return produceSheet(sink, path, job, format, background, &failure, progress); });
    if (saved.ok)
        return {};
    if (!failure.message.isEmpty())
        return failure;
    return {false, saved.message};
}

} // namespace strip
