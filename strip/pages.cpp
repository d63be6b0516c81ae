#include "strip/pages.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <limits>
#include <numeric>

#include "strip/survey.h"

namespace strip {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

// The part of the whole cell that some frame shows, in enlarged pixels: each frame's visible
// pixels where the anchor puts it, cut at the cell. One pixel block at the corner when no frame
// shows anything, so that the sheet still has its cells.
QRect shownPart(const SheetJob &named, const SheetOptions &layout, const QList<FrameLook> &looks)
{
    const Sheet one = arrangeSheet(1, layout.cell, layout);
    const int scale = std::max(layout.scale, 1);
    const QRect cell(QPoint(0, 0), layout.cell);
    QRect shown;
    for (int i = 0; i < named.frames.size(); ++i) {
        const QRect &v = looks[i].visible;
        if (v.isEmpty())
            continue;
        const QSize size = named.sources[named.frames[i].source].size;
        const QPoint at = one.placed(0, size) - one.origin(0);
        shown |= QRect(v.topLeft() * scale + at, v.size() * scale).intersected(cell);
    }
    return shown.isEmpty() ? QRect(0, 0, scale, scale) : shown;
}

} // namespace

PagedSheet layOutPages(const SheetJob &named, const SheetOptions &given, const QList<FrameRun> &runs,
                       const PageOptions &options, const QString &subject)
{
    PagedSheet paged;
    SheetOptions layout = given;
    const int total = int(named.frames.size());

    QList<FrameLook> looks;
    if (options.trim || options.dedupe) {
        SheetJob surveyed = named;
        surveyed.sheet.scale = std::max(layout.scale, 1);
        if (const QString failure = surveyFrames(surveyed, &looks); !failure.isEmpty()) {
            paged.refusal = failure;
            return paged;
        }
    }

    // Cells: the first frame of each look, or every frame.
    QList<int> owners; // the named frame that each cell draws
    QHash<QByteArray, int> cellOfLook;
    for (int i = 0; i < total; ++i) {
        if (options.dedupe) {
            if (const auto at = cellOfLook.constFind(looks[i].digest); at != cellOfLook.constEnd()) {
                paged.cellOf.append(*at);
                continue;
            }
            cellOfLook.insert(looks[i].digest, int(owners.size()));
        } else {
        }
        paged.cellOf.append(int(owners.size()));
        owners.append(i);
    }

    if (options.trim) {
        const QRect shown = shownPart(named, layout, looks);
        if (shown != QRect(QPoint(0, 0), layout.cell)) {
            layout.sourceCell = layout.cell;
            layout.trim = shown.topLeft();
            layout.cell = shown.size();
        }
    }

    // Grid places: one after another, or each animation from the start of a row.
    QList<int> places;
    if (options.fillAnimations) {
        QList<int> runOf(total);
        for (qsizetype r = 0; r < runs.size(); ++r)
            for (int i = runs[r].from; i <= runs[r].to && i < total; ++i)
                runOf[i] = int(r);
        QList<int> cellsOfRun(runs.size() + 1);
        for (const int owner : std::as_const(owners))
            ++cellsOfRun[runOf[owner]];
        layout.columns = std::clamp(layout.columns, 1, std::max(1, *std::max_element(cellsOfRun.begin(), cellsOfRun.end())));
        int place = 0;
        for (qsizetype c = 0; c < owners.size(); ++c) {
            if (c > 0 && runOf[owners[c]] != runOf[owners[c - 1]] && place % layout.columns != 0)
                place += layout.columns - place % layout.columns;
            places.append(place++);
        }
    }

    auto pageJob = [&](const QList<int> &cellsOnPage, const QList<int> &pagePlaces) {
        SheetJob job = named;
        job.frames.clear();
        for (const int c : cellsOnPage)
            job.frames.append(named.frames[owners[c]]);
        job.sheet = arrangeSheet(int(cellsOnPage.size()), layout.cell, layout, pagePlaces);
        return job;
    };
    QList<int> all(owners.size());
    std::iota(all.begin(), all.end(), 0);
    SheetJob whole = pageJob(all, places);
    const qint64 most = options.maxSize;
    if (most <= 0 || (whole.sheet.width <= most && whole.sheet.height <= most)) {
        for (int c = 0; c < owners.size(); ++c)
            paged.cells.append({0, c});
        paged.pages.append(std::move(whole));
        return paged;
    }
    if (whole.sheet.width > most) {
        paged.refusal = tr("%1: a row of %2 cells is %3 pixels wide, more than --max-size %4 allows; "
                           "lower --columns or raise --max-size.")
                            .arg(subject).arg(whole.sheet.columns).arg(whole.sheet.width).arg(most);
        return paged;
    }
    // The most rows a page holds: its height, margins and rounding included, within the size.
    // A page's height grows with its rows, so the first that is too tall ends the search; each
    // probe is a page of whole rows, laid out without a list of places.
    const int columns = whole.sheet.columns;
    SheetOptions probe = layout;
    probe.columns = columns;
    int rowsPerPage = 0;
    for (int rows = 1; rows <= whole.sheet.rows; ++rows) {
        if (arrangeSheet(int(qMin<qint64>(qint64(rows) * columns, std::numeric_limits<int>::max())), layout.cell, probe).height > most)
            break;
        rowsPerPage = rows;
    }
    if (rowsPerPage == 0) {
        paged.refusal = tr("%1: a row of cells is %2 pixels tall, more than --max-size %3 allows.")
                            .arg(subject).arg(whole.sheet.rowTop(1) + (whole.sheet.rows == 1 ? 0 : whole.sheet.margin))
                            .arg(most);
        return paged;
    }

    // Each cell's page and its place there: by its row, or by its count when frames take the
    // places one after another (filled down the columns, too, within each page).
    const int perPage = rowsPerPage * columns;
    QList<QList<int>> pageCells, pagePlaces;
    for (int c = 0; c < owners.size(); ++c) {
        const int place = places.isEmpty() ? c : places[c];
        const int page = place / perPage;
        if (page >= pageCells.size()) {
            pageCells.resize(page + 1);
            pagePlaces.resize(page + 1);
        }
        paged.cells.append({page, int(pageCells[page].size())});
        pageCells[page].append(c);
        pagePlaces[page].append(place - page * perPage);
    }
    layout.columns = columns;
    QList<int> lastPageOf(named.sources.size(), -1);
    for (int c = 0; c < owners.size(); ++c)
        lastPageOf[named.frames[owners[c]].source] = paged.cells[c].first;
    for (qsizetype p = 0; p < pageCells.size(); ++p) {
        SheetJob job = pageJob(pageCells[p], places.isEmpty() ? QList<int>() : pagePlaces[p]);
        job.keptSources.resize(named.sources.size());
        for (qsizetype s = 0; s < named.sources.size(); ++s)
            job.keptSources[s] = lastPageOf[s] > p;
        paged.pages.append(std::move(job));
    }
    return paged;
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
        f.trimmed = !sheet.sourceCell.isEmpty();
        f.sourceSize = f.trimmed ? sheet.sourceCell : sheet.cell;
        f.sourceRect = f.trimmed ? QRect(sheet.trim, sheet.cell) : QRect(QPoint(0, 0), sheet.cell);
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
