#include "strip/pages.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>

#include "strip/survey.h"

namespace strip {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

} // namespace

QList<int> cellOwners(const QList<FrameLook> &looks, int total, bool dedupe, QList<int> *cellOf)
{
    QList<int> owners;
    QHash<QByteArray, int> cellOfLook;
    for (int i = 0; i < total; ++i) {
        if (dedupe) {
            if (const auto at = cellOfLook.constFind(looks[i].digest); at != cellOfLook.constEnd()) {
                cellOf->append(*at);
                continue;
            }
            cellOfLook.insert(looks[i].digest, int(owners.size()));
        }
        cellOf->append(int(owners.size()));
        owners.append(i);
    }
    return owners;
}

void keepSourcesForLaterPages(PagedSheet &paged, const SheetJob &named, const QList<int> &owners)
{
    // The last page that reads each source: a packed layout may put a later frame on an earlier page.
    QList<int> lastPageOf(named.sources.size(), -1);
    for (int c = 0; c < owners.size(); ++c) {
        int &last = lastPageOf[named.frames[owners[c]].source];
        last = std::max(last, paged.cells[c].first);
    }
    for (qsizetype p = 0; p < paged.pages.size(); ++p) {
        SheetJob &job = paged.pages[p];
        job.keptSources.resize(named.sources.size());
        for (qsizetype s = 0; s < named.sources.size(); ++s)
            job.keptSources[s] = lastPageOf[s] > p;
    }
}

QString pagedJsonRefusal(const PagedSheet &paged, NameScheme names, bool json, const QString &subject)
{
    if (paged.pages.size() <= 1 || names != NameScheme::Index || !json)
        return {};
    return tr("%1: the sheet takes %2 pages, and Phaser's createFromAseprite, which --names index is for, "
              "reads the frames of the first page's JSON only, so its animations would miss frames. "
              "Raise --max-size (or leave it out) for one sheet, or name the frames by path and load "
              "the pages with Phaser's load.multiatlas.")
        .arg(subject).arg(paged.pages.size());
}

SheetData describeSheet(const PagedSheet &paged, const SheetJob &named, const FrameNaming &naming,
                        const QStringList &images, int stillDuration, std::optional<Anchor> pivot,
                        const QString &pixelFormat)
{
    SheetData data;
    data.pixelFormat = pixelFormat;
    for (qsizetype p = 0; p < paged.pages.size(); ++p) {
        const Sheet &sheet = paged.pages[p].sheet;
        data.pages.append({images.value(p), QSize(int(sheet.width), int(sheet.height)), sheet});
    }
    for (int i = 0; i < named.frames.size(); ++i) {
        const int cell = paged.cellOf[i];
        const auto [page, at] = paged.cells[cell];
        const Sheet &sheet = paged.pages[page].sheet;
        DataFrame f;
        f.name = naming.names.value(i);
        f.page = page;
        f.cell = cell;
        f.rect = sheet.cellRect(at);
        if (sheet.grid()) {
            f.trimmed = !sheet.sourceCell.isEmpty();
            f.sourceSize = f.trimmed ? sheet.sourceCell : sheet.cell;
            f.sourceRect = f.trimmed ? QRect(sheet.trim, sheet.cell) : QRect(QPoint(0, 0), sheet.cell);
        } else {
            const Sheet::Packed &packed = sheet.packed[at];
            f.sourceSize = packed.sourceSize;
            f.sourceRect = packed.sourceRect;
            f.trimmed = packed.sourceRect != QRect(QPoint(0, 0), packed.sourceSize);
            f.rotated = packed.rotated;
        }
        const SheetFrame &frame = named.frames[i];
        const int delay = named.sources[frame.source].picture.delays().value(frame.frame);
        f.duration = delay > 0 ? delay : stillDuration;
        data.frames.append(f);
    }
    for (const FrameRun &run : naming.runs) {
        DataAnimation animation{run.name, {}, 0};
        for (int i = run.from; i <= run.to; ++i)
            animation.frames.append(i);
        const SheetSource &source = named.sources[named.frames[run.from].source];
        if (source.allFrames && source.frames > 1)
            animation.plays = source.picture.plays();
        data.animations.append(animation);
    }
    if (pivot)
        data.pivot = *pivot == Anchor::TopLeft ? QPointF(0, 0) : *pivot == Anchor::Center ? QPointF(0.5, 0.5) : QPointF(0.5, 1);
    return data;
}

} // namespace strip
