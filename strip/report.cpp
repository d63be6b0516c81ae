#include "strip/report.h"

#include <QCoreApplication>

#include <algorithm>

#include "picture/base/nativepath.h"

namespace strip {

QStringList sheetWarnings(const SheetJob &job, const PagedSheet &paged, const SheetData &data, const QStringList &sheetPaths,
                          bool clip, bool pagedAnimations)
{
    QStringList lines;
    const Sheet &cells = paged.pages.first().sheet;
    if (clip && cells.grid()) {
        for (const SheetSource &source : job.sources) {
            const QSize cell = cells.sourceCell.isEmpty() ? cells.cell : cells.sourceCell;
            if (source.size.width() > cell.width() || source.size.height() > cell.height())
                lines.append(QStringLiteral("warning: %1 is %2 x %3 pixels, larger than its %4 x %5 cell: it is cut at the "
                                            "cell's edge. --cell max makes every cell hold the largest picture.")
                                 .arg(picture::displayPath(source.path)).arg(source.size.width()).arg(source.size.height())
                                 .arg(cell.width()).arg(cell.height()));
        }
    }
    for (qsizetype p = 0; p < paged.pages.size(); ++p) {
        const Sheet &sheet = paged.pages[p].sheet;
        for (const int limit : {16384, 8192, 4096}) {
            if (std::max(sheet.width, sheet.height) > limit) {
                lines.append(QStringLiteral("warning: %1 is %2 x %3 pixels, more than %4 pixels a side, the largest texture "
                                            "many graphics processors take; --max-size %4 cuts it into pages.")
                                 .arg(sheetPaths[p]).arg(sheet.width).arg(sheet.height).arg(limit));
                break;
            }
        }
    }
    if (paged.pages.size() > 1 && pagedAnimations) {
        for (const DataAnimation &animation : data.animations) {
            // A packed layout may put any frame on any page.
            int first = data.frames[animation.frames.first()].page, last = first;
            for (const int i : animation.frames) {
                first = std::min(first, data.frames[i].page);
                last = std::max(last, data.frames[i].page);
            }
            if (first == last)
                continue;
            // A packed layout has no rows to start an animation on: only a larger page holds it.
            const QString advice = cells.grid() ? QStringLiteral("--fill animations starts each on a row.")
                                                : QStringLiteral("A larger --max-size may hold it on one.");
            lines.append(QStringLiteral("warning: the animation %1 runs from page %2 to page %3; PixiJS's animations "
                                        "and Tiled's tilesets hold it on neither. %4")
                             .arg(picture::shownName(animation.name)).arg(first).arg(last).arg(advice));
        }
    }
    return lines;
}

namespace {

// The counts and layout of a sheet and its pages.
QString layoutLines(const SheetJob &job, const PagedSheet &paged, const QStringList &sheetPaths, bool dedupe)
{
    const qsizetype pageCount = paged.pages.size();
    const Sheet &sheet = paged.pages.first().sheet;
    QString out = QStringLiteral("frames: %1\n").arg(job.frames.size());
    if (dedupe)
        out += QStringLiteral("cells: %1\n").arg(paged.cells.size());
    if (sheet.grid()) {
        out += QStringLiteral("columns: %1\nrows: %2\ncell: %3 x %4\n")
                   .arg(sheet.columns).arg(sheet.rows).arg(sheet.cell.width()).arg(sheet.cell.height());
    } else {
        // How full the pages are: the frames' shown pixels over the pages' pixels.
        qint64 shown = 0, whole = 0;
        int turned = 0;
        for (const SheetJob &page : paged.pages) {
            whole += page.sheet.width * page.sheet.height;
            for (const Sheet::Packed &p : page.sheet.packed) {
                shown += qint64(p.rect.width()) * p.rect.height();
                turned += p.rotated;
            }
        }
        out += QStringLiteral("layout: packed, each frame trimmed alone\nfilled: %1 %\n")
                   .arg(whole > 0 ? 100.0 * double(shown) / double(whole) : 0.0, 0, 'f', 1);
        if (turned > 0)
            out += QStringLiteral("turned: %1 frames, a quarter %2\n").arg(turned)
                       .arg(sheet.anticlockwise ? QStringLiteral("anticlockwise") : QStringLiteral("clockwise"));
    }
    out += QStringLiteral("padding: %1\nmargin: %2\n").arg(sheet.padding).arg(sheet.margin);
    if (!sheet.sourceCell.isEmpty())
        out += QStringLiteral("trimmed from: %1 x %2, at %3, %4\n")
                   .arg(sheet.sourceCell.width()).arg(sheet.sourceCell.height()).arg(sheet.trim.x()).arg(sheet.trim.y());
    if (pageCount == 1)
        out += QStringLiteral("sheet: %1 x %2 pixels\n").arg(sheet.width).arg(sheet.height);
    for (qsizetype p = 0; pageCount > 1 && p < pageCount; ++p) {
        const Sheet &page = paged.pages[p].sheet;
        out += page.grid() ? QStringLiteral("page %1: %2, %3 x %4 pixels, cells: %5, rows: %6\n")
                                 .arg(p).arg(sheetPaths[p]).arg(page.width).arg(page.height).arg(page.frameTotal).arg(page.rows)
                           : QStringLiteral("page %1: %2, %3 x %4 pixels, frames: %5\n")
                                 .arg(p).arg(sheetPaths[p]).arg(page.width).arg(page.height).arg(page.frameTotal);
    }
    return out;
}

// The frames in sheet order and the cell they share, and the animations.
QString frameLines(const SheetJob &job, const PagedSheet &paged, const FrameNaming &naming, const SheetData &data, bool named)
{
    const qsizetype pageCount = paged.pages.size();
    QString out = QStringLiteral("frame order:\n");
    QList<int> owners(paged.cells.size(), -1); // the first frame of each cell
    for (int i = int(job.frames.size()) - 1; i >= 0; --i)
        owners[paged.cellOf[i]] = i;
    for (int i = 0; i < job.frames.size(); ++i) {
        const SheetSource &s = job.sources[job.frames[i].source];
        out += QStringLiteral("  %1: %2").arg(i).arg(picture::displayPath(s.path));
        if (s.allFrames)
            out += QStringLiteral(", frame %1").arg(job.frames[i].frame);
        if (named)
            out += QStringLiteral(", named %1").arg(picture::shownName(naming.names[i]));
        if (pageCount > 1)
            out += QStringLiteral(", page %1").arg(paged.cells[paged.cellOf[i]].first);
        if (const int owner = owners[paged.cellOf[i]]; owner != i)
            out += QStringLiteral(", the same as %1").arg(owner);
        out += u'\n';
    }
    if (named) {
        out += QStringLiteral("animations:\n");
        for (const DataAnimation &animation : data.animations) {
            out += QStringLiteral("  %1: frames %2 to %3").arg(picture::shownName(animation.name))
                       .arg(animation.frames.first()).arg(animation.frames.last());
            if (animation.direction != picture::SpriteTag::Direction::Forward) {
                QStringList order;
                for (const int i : playOrder(animation))
                    order.append(QString::number(i));
                out += QStringLiteral(", played %1").arg(order.join(u' '));
            }
            if (animation.plays == 1)
                out += QStringLiteral(", plays once");
            else if (animation.plays > 1)
                out += QStringLiteral(", plays %1 times").arg(animation.plays);
            out += u'\n';
        }
    }
    return out;
}

QString memoryLine(qint64 memory)
{
    return QStringLiteral("estimated memory: %1 MiB\n").arg(picture::mebibytes(memory));
}

QString fileLines(const QStringList &outputs)
{
    QString out = QStringLiteral("would write:\n");
    for (const QString &path : outputs)
        out += QStringLiteral("  %1\n").arg(path);
    return out;
}

} // namespace

QString dryRunReport(const RunPlan &plan, bool dedupe, bool named)
{
    if (plan.sheets.size() == 1) {
        const SheetPlan &s = plan.sheets.first();
        return layoutLines(s.job, s.paged, s.sheetPaths, dedupe) + memoryLine(plan.memory)
            + frameLines(s.job, s.paged, s.naming, s.data, named) + fileLines(plan.outputs);
    }
    QString out;
    for (const SheetPlan &s : plan.sheets)
        out += QStringLiteral("variant %1:\n").arg(s.variant) + layoutLines(s.job, s.paged, s.sheetPaths, dedupe)
            + frameLines(s.job, s.paged, s.naming, s.data, named);
    return out + memoryLine(plan.memory) + fileLines(plan.outputs);
}

} // namespace strip
