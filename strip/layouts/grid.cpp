#include "strip/layouts/layouts.h"

#include <QCoreApplication>

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

// Pages are cut between rows of cells; with trim or dedupe, every frame is read once first; an
// animation's runs keep together in a row when fillAnimations asks.
PagedSheet layOutGrid(const SheetJob &named, const SheetOptions &given, const QList<FrameRun> &runs,
                      const PageOptions &options, const QString &subject)
{
    PagedSheet paged;
    SheetOptions layout = given;
    const int total = int(named.frames.size());

    QList<FrameLook> looks;
    if (options.trim || options.dedupe) {
        SheetJob surveyed = named;
        surveyed.sheet.scale = std::max(layout.scale, 1);
        if (const QString failure = surveyFrames(surveyed, &looks, options.dedupe); !failure.isEmpty()) {
            paged.refusal = failure;
            return paged;
        }
    }

    // Cells: the first frame of each look, or every frame.
    const QList<int> owners = cellOwners(looks, total, options.dedupe, &paged.cellOf); // each cell's frame

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
    for (qsizetype p = 0; p < pageCells.size(); ++p)
        paged.pages.append(pageJob(pageCells[p], places.isEmpty() ? QList<int>() : pagePlaces[p]));
    keepSourcesForLaterPages(paged, named, owners);
    return paged;
}

} // namespace

extern const Layout gridLayout{"grid", "even cells in rows (the default)", true, layOutGrid};

} // namespace strip
