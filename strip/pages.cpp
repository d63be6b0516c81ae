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

// The sheet's frames of each source, by the source's frame number.
QList<QHash<int, int>> sheetFramesOf(const SheetJob &named)
{
    QList<QHash<int, int>> at(named.sources.size());
    for (int i = 0; i < named.frames.size(); ++i)
        at[named.frames[i].source].insert(named.frames[i].frame, i);
    return at;
}

// The slices of every editor's file, each key on the sheet's frame of its file's frame, scaled
// as its frames are; and a frame's pivot from the first slice with a pivot in effect on it.
void describeSlices(const SheetJob &named, SheetData *data)
{
    const QList<QHash<int, int>> sheetFrames = sheetFramesOf(named);
    for (qsizetype s = 0; s < named.sources.size(); ++s) {
        const SheetSource &source = named.sources[s];
        const auto sprite = source.picture.sprite();
        if (!sprite || source.picture.size().isEmpty())
            continue;
        const QSize canvas = source.picture.size();
        // Enlarged or reduced as the frames are, to the nearest whole pixel.
        const double fx = double(source.size.width()) / canvas.width(), fy = double(source.size.height()) / canvas.height();
        const auto scaledPoint = [&](QPoint p) { return QPoint(qRound(p.x() * fx), qRound(p.y() * fy)); };
        const auto scaled = [&](QRect r) { return QRect(scaledPoint(r.topLeft()), QSize(qRound(r.width() * fx), qRound(r.height() * fy))); };
        for (const picture::SpriteSlice &slice : sprite->slices) {
            DataSlice described{slice.name, {}};
            for (const picture::SpriteSliceKey &key : slice.keys) {
                // A key from a frame the sheet leaves out holds for the file's frames after it.
                int first = key.frame;
                while (first < source.frames && !sheetFrames[s].contains(first))
                    ++first;
                if (first >= source.frames)
                    continue;
                DataSlice::Key k{sheetFrames[s].value(first), scaled(key.bounds), {}, {}};
                if (key.center)
                    k.center = scaled(*key.center);
                if (key.pivot)
                    k.pivot = scaledPoint(*key.pivot);
                described.keys.append(k);
            }
            if (!described.keys.isEmpty())
                data->slices.append(described);
        }
        for (auto frame = sheetFrames[s].cbegin(); frame != sheetFrames[s].cend(); ++frame) {
            for (const picture::SpriteSlice &slice : sprite->slices) {
                const picture::SpriteSliceKey *inEffect = nullptr;
                for (const picture::SpriteSliceKey &key : slice.keys)
                    if (key.frame <= frame.key())
                        inEffect = &key;
                if (!inEffect || !inEffect->pivot || inEffect->bounds.isEmpty())
                    continue;
                const QPoint at = inEffect->bounds.topLeft() + *inEffect->pivot;
                data->frames[frame.value()].pivot = QPointF(double(at.x()) / canvas.width(), double(at.y()) / canvas.height());
                break;
            }
        }
    }
}

} // namespace

QList<int> playOrder(const DataAnimation &animation)
{
    using Direction = picture::SpriteTag::Direction;
    const QList<int> &forward = animation.frames;
    QList<int> backward(forward.crbegin(), forward.crend());
    const bool startsBack = animation.direction == Direction::Reverse || animation.direction == Direction::PingPongReverse;
    QList<int> order = startsBack ? backward : forward;
    if (animation.direction == Direction::PingPong || animation.direction == Direction::PingPongReverse) {
        // Back again without its ends: they are shown once a pass.
        const QList<int> &back = startsBack ? forward : backward;
        for (qsizetype i = 1; i + 1 < back.size(); ++i)
            order.append(back[i]);
    }
    return order;
}

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
    // A file's layers share its bytes: each keeps them as long as the last of them needs them.
    const QList<int> fileOf = fileOwners(named);
    QList<int> lastPageOf(named.sources.size(), -1);
    for (int c = 0; c < owners.size(); ++c) {
        int &last = lastPageOf[fileOf[named.frames[owners[c]].source]];
        last = std::max(last, paged.cells[c].first);
    }
    for (qsizetype s = 0; s < named.sources.size(); ++s)
        lastPageOf[s] = lastPageOf[fileOf[s]];
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
    for (const FrameRun &run : naming.animations) {
        DataAnimation animation{run.name, {}, 0, run.direction};
        for (int i = run.from; i <= run.to; ++i)
            animation.frames.append(i);
        const SheetSource &source = named.sources[named.frames[run.from].source];
        if (run.plays >= 0)
            animation.plays = run.plays;
        else if (source.allFrames && source.frames > 1)
            animation.plays = source.picture.plays();
        data.animations.append(animation);
    }
    describeSlices(named, &data);
    if (pivot)
        data.pivot = *pivot == Anchor::TopLeft ? QPointF(0, 0) : *pivot == Anchor::Center ? QPointF(0.5, 0.5) : QPointF(0.5, 1);
    return data;
}

} // namespace strip
