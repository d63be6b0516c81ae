#include "strip/run.h"

#include <QFileInfo>

#include <algorithm>

#include "picture/base/nativepath.h"
#include "picture/base/savefile.h"
#include "strip/ends/dataends.h"
#include "strip/frames.h"
#include "strip/inputs.h"
#include "strip/layouts/layouts.h"
#include "strip/names.h"
#include "strip/publish/depfile.h"
#include "strip/report.h"
#include "strip/sheetcheck.h"

namespace strip {

namespace {

// The menu-bar colour of Qt's Fusion style, the window's background under Qt's default style.
const QColor windowBackground(0xef, 0xef, 0xef);

// Why one of the files a run writes cannot be, before any input is read.
QString unwritable(const QStringList &paths)
{
    for (const QString &path : paths) {
        // Inputs keep the bytes of names that are not UTF-8; an output is made by its name as text.
        if (picture::displayPath(path) != path)
            return QStringLiteral("Cannot write %1: its name is not valid UTF-8; give the output a UTF-8 name.")
                .arg(picture::displayPath(path));
        if (const QString why = picture::cannotSave(path); !why.isEmpty())
            return why;
    }
    return {};
}

// Every file a run writes for a sheet of these pages, in the order the dry run lists them: the
// pages, the JSON, the text file, the other data files (the JSON comes first in formats).
QStringList outputsOf(const RunRequest &r, const QStringList &sheetPaths)
{
    QStringList outputs = sheetPaths;
    const int pages = int(sheetPaths.size());
    qsizetype k = 0;
    if (r.json)
        outputs += dataFiles(*dataEnd(r.formats[k++]), r.output, pages);
    if (r.txt)
        outputs.append(sheetTextPath(r.output));
    for (; k < r.formats.size(); ++k)
        outputs += dataFiles(*dataEnd(r.formats[k]), r.output, pages);
    if (!r.depfile.isEmpty())
        outputs.append(r.depfile);
    return outputs;
}

} // namespace

RunPlan planRun(const RunRequest &r)
{
    RunPlan plan;
    const auto refuse = [&](const QString &why) {
        plan.refusal = why;
        return std::move(plan);
    };
    plan.outputs = outputsOf(r, {r.output});
    if (const QString why = unwritable(plan.outputs); !why.isEmpty())
        return refuse(why);
    if (const QString why = imageNameRefusal(r.output, r.txt ? r.formats + QStringList{QStringLiteral("txt")} : r.formats);
        !why.isEmpty())
        return refuse(why);
    const QString subject = QStringLiteral("Cannot write %1").arg(r.output);
    if (const QString why = endsRefusal(r.layout, r.pages.rotate, r.premultiply, r.formats, r.txt, subject); !why.isEmpty())
        return refuse(why);
    const Layout &laid = *layoutNamed(r.layout);

    // Inputs in the order given; a folder's files in the chosen order.
    SheetJob &job = plan.job;
    job.budget.acceptPng = true;
    const SheetEnd &end = sheetEnd(r.format);
    job.bytesPerPixel = end.bytesPerPixel;
    const InputFiles inputs = listInputs(r.inputs, r.order, r.output);
    if (!inputs.refusal.isEmpty())
        return refuse(inputs.refusal);
    const QStringList read = inputs.folders + inputs.paths;
    if (!r.depfile.isEmpty()) {
        if (const QString why = dependencyRefusal(r.depfile, read + plan.outputs); !why.isEmpty())
            return refuse(why);
    }
    // Every file opened once, on every core; each picture is decoded when its rows come.
    const GatherResult gathered = gather(inputs.paths, job.budget, {r.allFrames, false, true});
    for (const SheetSource &source : gathered.pictures) {
        if (!r.allFrames) {
            if (const int frames = source.picture.framesInFile(); frames > 1)
                plan.warnings.append(QStringLiteral("warning: %1 is animated (%2 frames); only its first frame is taken. "
                                                    "--all-frames takes them all.")
                                         .arg(picture::displayPath(source.path)).arg(frames));
        }
        for (int f = 0; f < source.frames; ++f)
            job.frames.append({int(job.sources.size()), f});
        job.sources.append(source);
    }
    if (!gathered.ok())
        return refuse(gathered.failure.message);
    // Frames enlarged pixel for pixel take their cells with them.
    job.transparent = r.alpha;
    job.premultiplied = r.premultiply;
    QSize largest;
    for (SheetSource &source : job.sources) {
        source.size *= r.scale;
        largest = largest.expandedTo(source.size);
    }
    SheetOptions layout = r.sheet;
    layout.powerOfTwo = r.pot;
    layout.scale = r.scale;
    layout.cell = r.cell == RunRequest::Cell::Given ? r.sheet.cell * r.scale
                : r.cell == RunRequest::Cell::Largest ? largest : job.sources.first().size;
    job.sheet = arrangeSheet(int(job.frames.size()), layout.cell, layout);
    // The whole grid is refused before anything is read a second time: what the format, the
    // largest sheet or the memory cannot hold (each page is checked again below).
    if (r.pages.maxSize == 0 && laid.grid) {
        if (const QString why = sheetRefusal(job, r.format, subject, r.compression); !why.isEmpty())
            return refuse(why);
    }

    // Names that engines look frames up by: unique, or nothing is written.
    const bool data = r.json || !r.formats.isEmpty();
    plan.naming = nameFrames(job, inputs.origins, r.names, QFileInfo(besideSheet(r.output, {})).fileName());
    if (data && !plan.naming.clash.isEmpty())
        return refuse(plan.naming.clash);

    // Cells and pages: trimmed, shared by frames of the same pixels, each animation from a row.
    PageOptions pages = r.pages;
    pages.anticlockwise = turnedAnticlockwise(r.formats);
    plan.paged = laid.lay(job, layout, plan.naming.runs, pages, subject);
    if (!plan.paged.refusal.isEmpty())
        return refuse(plan.paged.refusal);
    if (const QString why = pagedJsonRefusal(plan.paged, r.names, r.json, subject); !why.isEmpty())
        return refuse(why);
    const int pageCount = int(plan.paged.pages.size());
    plan.sheetPaths = {r.output};
    if (pageCount > 1) {
        plan.sheetPaths.clear();
        const QString suffix = u'.' + QFileInfo(r.output).suffix();
        for (int p = 0; p < pageCount; ++p)
            plan.sheetPaths.append(besideSheet(r.output, QStringLiteral("-%1%2").arg(p).arg(suffix)));
    }
    plan.outputs = outputsOf(r, plan.sheetPaths);
    if (pageCount > 1) {
        if (const QString why = unwritable(plan.outputs); !why.isEmpty())
            return refuse(why);
    }
    for (int p = 0; p < pageCount; ++p) {
        const QString page = QStringLiteral("Cannot write %1").arg(plan.sheetPaths[p]);
        qint64 bytes = 0;
        if (const QString why = sheetRefusal(plan.paged.pages[p], r.format, page, r.compression, &bytes); !why.isEmpty())
            return refuse(why);
        plan.memory = std::max(plan.memory, bytes);
    }
    QStringList images;
    for (const QString &path : std::as_const(plan.sheetPaths))
        images.append(QFileInfo(path).fileName());
    plan.data = describeSheet(plan.paged, job, plan.naming, images, r.duration, r.pivot, QLatin1String(end.pixelFormat));
    plan.data.premultiplied = r.premultiply;
    if (const QString why = safeNamesClash(plan.data, r.formats); !why.isEmpty())
        return refuse(why);

    const bool pagedAnimations = r.json || r.formats.contains(QStringLiteral("tiled"));
    plan.warnings += sheetWarnings(job, plan.paged, plan.data, plan.sheetPaths, r.sheet.clip, pagedAnimations);
    plan.background = r.background.value_or(end.alpha ? QColor(Qt::transparent) : windowBackground);
    if (!r.depfile.isEmpty()) {
        QStringList outputs = plan.outputs;
        outputs.removeAll(r.depfile);
        plan.dependencies = dependencyFile(outputs, read);
    }
    if (r.txt) {
        const Sheet &first = plan.paged.pages.first().sheet;
        plan.textLine = companionLine(imageName(QFileInfo(plan.sheetPaths.first()).fileName()), first.columns, first.frameTotal);
    }
    return plan;
}

} // namespace strip
