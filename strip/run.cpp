#include "strip/run.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include "picture/base/nativepath.h"
#include "picture/base/savefile.h"
#include "picture/pixels/resize.h"
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

// The files a run writes for a sheet of these pages, in the order the dry run lists them: the
// pages, the JSON, the text file, the other data files (the JSON comes first in formats).
QStringList outputsOf(const RunRequest &r, const QString &output, const QStringList &sheetPaths)
{
    QStringList outputs = sheetPaths;
    const int pages = int(sheetPaths.size());
    qsizetype k = 0;
    if (r.json)
        outputs += dataFiles(*dataEnd(r.formats[k++]), output, pages);
    if (r.txt)
        outputs.append(sheetTextPath(output));
    for (; k < r.formats.size(); ++k)
        outputs += dataFiles(*dataEnd(r.formats[k]), output, pages);
    return outputs;
}

// A file as the run takes it: with each, an editor's file gives one source a shown layer.
QList<SheetSource> layersOf(const SheetSource &file, bool each)
{
    const auto sprite = file.picture.sprite();
    QList<SheetSource> layers;
    for (const picture::SpriteLayer &layer : sprite && each ? sprite->layers : QList<picture::SpriteLayer>()) {
        if (!layer.shown)
            continue;
        SheetSource source = file;
        source.picture = file.picture.onlyLayer(layer.index);
        source.layer = layer.name;
        layers.append(source);
    }
    return layers.isEmpty() ? QList<SheetSource>{file} : layers;
}

// The sheets a run writes: the output alone, or the output with each variant's suffix.
QList<RunRequest::Variant> sheetsOf(const RunRequest &r)
{
    return r.variants.isEmpty() ? QList<RunRequest::Variant>{{QString(), r.scale, 1}} : r.variants;
}

QString variantOutput(const QString &output, const QString &suffix)
{
    return suffix.isEmpty() ? output : besideSheet(output, suffix + u'.' + QFileInfo(output).suffix());
}

// What PixiJS takes a variant's frames to be drawn at, from meta.scale: its factor over the
// factor of the variant without a suffix, or of the smallest when every one has a suffix.
QString resolutionOf(const RunRequest &r, const RunRequest::Variant &v)
{
    if (r.variants.isEmpty())
        return QStringLiteral("1");
    const RunRequest::Variant *base = nullptr;
    for (const RunRequest::Variant &other : r.variants)
        if (other.suffix.isEmpty())
            base = &other;
    if (!base) {
        base = &r.variants.first();
        for (const RunRequest::Variant &other : r.variants)
            if (other.num * base->den < base->num * other.den)
                base = &other;
    }
    const qint64 num = v.num * base->den, den = v.den * base->num; // both below 10^13
    if (num % den == 0)
        return QString::number(num / den);
    return QString::number(double(num) / double(den), 'g', 10);
}

// PixiJS's asset resolver reads a resolution from @Nx in a file name, to choose between
// variants; a name that says another one than meta.scale draws at is worth a word.
QString resolutionWarning(const QString &output, const QString &suffix, const QString &resolution)
{
    static const QRegularExpression retina(QStringLiteral("@([0-9.]+)x")); // PixiJS's own pattern
    static const QRegularExpression number(QStringLiteral("^[0-9]*\\.?[0-9]*")); // what parseFloat reads of it
    const QRegularExpressionMatch m = retina.match(suffix);
    bool ok = false;
    const double named = m.hasMatch() ? number.match(m.captured(1)).captured(0).toDouble(&ok) : 0;
    const double drawn = resolution.toDouble();
    if (!ok || std::abs(named - drawn) <= 1e-9 * drawn)
        return {};
    return QStringLiteral("warning: %1 is named for resolution %2 (PixiJS reads @%2x in a file name), but its frames are "
                          "drawn at resolution %3 (its scale over the base variant's, its JSON's meta.scale).")
        .arg(picture::displayPath(output), QString::number(named), resolution);
}

} // namespace

int RunPlan::pageCount() const
{
    int pages = 0;
    for (const SheetPlan &sheet : sheets)
        pages += int(sheet.paged.pages.size());
    return pages;
}

namespace {

// One sheet of the run from the pictures gathered: sized by its factor, laid out, named,
// checked and described. Empty, or why nothing may be written.
QString planSheet(const RunRequest &r, const RunRequest::Variant &variant, const QList<SheetSource> &sources,
                  const QList<SheetFrame> &frames, const QList<SourceOrigin> &origins, SheetPlan &plan, QStringList &warnings)
{
    const Layout &laid = *layoutNamed(r.layout);
    const SheetEnd &end = sheetEnd(r.format);
    const QString subject = QStringLiteral("Cannot write %1").arg(plan.output);
    SheetJob &job = plan.job;
    job.budget.acceptPng = true;
    job.bytesPerPixel = end.bytesPerPixel;
    job.sources = sources;
    job.frames = frames;
    job.transparent = r.alpha;
    job.premultiplied = r.premultiply;
    // Frames enlarged pixel for pixel take their cells with them; reduced ones, each frame and
    // the cell to its own nearest whole pixels.
    const bool reduced = variant.num < variant.den;
    const int scale = reduced ? 1 : int(variant.num / variant.den);
    QSize largest;
    for (SheetSource &source : job.sources) {
        if (reduced) {
            source.reducedFrom = source.size;
            source.size = picture::scaledSize(source.size, variant.num, variant.den);
        } else {
            source.size *= scale;
        }
        largest = largest.expandedTo(source.size);
    }
    SheetOptions layout = r.sheet;
    layout.powerOfTwo = r.pot;
    layout.scale = scale;
    const QSize given = reduced ? picture::scaledSize(r.sheet.cell, variant.num, variant.den) : r.sheet.cell * scale;
    layout.cell = r.cell == RunRequest::Cell::Given ? given
                : r.cell == RunRequest::Cell::Largest ? largest : job.sources.first().size;
    job.sheet = arrangeSheet(int(job.frames.size()), layout.cell, layout);
    // The whole grid is refused before anything is read a second time: what the format, the
    // largest sheet or the memory cannot hold (each page is checked again below).
    if (r.pages.maxSize == 0 && laid.grid) {
        if (const QString why = sheetRefusal(job, r.format, subject, r.compression); !why.isEmpty())
            return why;
    }

    // Names that engines look frames up by: unique, or nothing is written. Every variant's
    // frames and animations have the names of the output's, so that a game finds them alike.
    const bool data = r.json || !r.formats.isEmpty();
    plan.naming = nameFrames(job, origins, r.names, QFileInfo(besideSheet(r.output, {})).fileName());
    if (data && !plan.naming.clash.isEmpty())
        return plan.naming.clash;

    // Cells and pages: trimmed, shared by frames of the same pixels, each animation from a row.
    PageOptions pages = r.pages;
    pages.anticlockwise = turnedAnticlockwise(r.formats);
    plan.paged = laid.lay(job, layout, plan.naming.runs, pages, subject);
    if (!plan.paged.refusal.isEmpty())
        return plan.paged.refusal;
    if (const QString why = pagedJsonRefusal(plan.paged, r.names, r.json, subject); !why.isEmpty())
        return why;
    const int pageCount = int(plan.paged.pages.size());
    plan.sheetPaths = {plan.output};
    if (pageCount > 1) {
        plan.sheetPaths.clear();
        const QString suffix = u'.' + QFileInfo(plan.output).suffix();
        for (int p = 0; p < pageCount; ++p)
            plan.sheetPaths.append(besideSheet(plan.output, QStringLiteral("-%1%2").arg(p).arg(suffix)));
    }
    plan.outputs = outputsOf(r, plan.output, plan.sheetPaths);
    if (pageCount > 1) {
        if (const QString why = unwritable(plan.outputs); !why.isEmpty())
            return why;
    }
    for (int p = 0; p < pageCount; ++p) {
        const QString page = QStringLiteral("Cannot write %1").arg(plan.sheetPaths[p]);
        qint64 bytes = 0;
        if (const QString why = sheetRefusal(plan.paged.pages[p], r.format, page, r.compression, &bytes); !why.isEmpty())
            return why;
        plan.memory = std::max(plan.memory, bytes);
    }
    QStringList images;
    for (const QString &path : std::as_const(plan.sheetPaths))
        images.append(QFileInfo(path).fileName());
    plan.data = describeSheet(plan.paged, job, plan.naming, images, r.duration, r.pivot, QLatin1String(end.pixelFormat));
    plan.data.premultiplied = r.premultiply;
    plan.data.resolution = resolutionOf(r, variant);
    if (const QString why = safeNamesClash(plan.data, r.formats); !why.isEmpty())
        return why;

    const bool pagedAnimations = r.json || r.formats.contains(QStringLiteral("tiled"));
    warnings += sheetWarnings(job, plan.paged, plan.data, plan.sheetPaths, r.sheet.clip, pagedAnimations);
    if (r.json || r.formats.contains(QStringLiteral("json-hash")) || r.formats.contains(QStringLiteral("json-array")))
        if (const QString warning = resolutionWarning(plan.output, variant.suffix, plan.data.resolution); !warning.isEmpty())
            warnings.append(warning);
    plan.background = r.background.value_or(end.alpha ? QColor(Qt::transparent) : windowBackground);
    if (r.txt) {
        const Sheet &first = plan.paged.pages.first().sheet;
        plan.textLine = companionLine(imageName(QFileInfo(plan.sheetPaths.first()).fileName()), first.columns, first.frameTotal);
    }
    return {};
}

} // namespace

RunPlan planRun(const RunRequest &r)
{
    RunPlan plan;
    const auto refuse = [&](const QString &why) {
        plan.refusal = why;
        return std::move(plan);
    };
    const QList<RunRequest::Variant> variants = sheetsOf(r);
    const auto withDepfile = [&](QStringList outputs) {
        if (!r.depfile.isEmpty())
            outputs.append(r.depfile);
        return outputs;
    };
    QStringList outputs;
    for (const RunRequest::Variant &variant : variants) {
        const QString output = variantOutput(r.output, variant.suffix);
        outputs += outputsOf(r, output, {output});
    }
    if (const QString why = unwritable(withDepfile(outputs)); !why.isEmpty())
        return refuse(why);
    for (const RunRequest::Variant &variant : variants) {
        const QString output = variantOutput(r.output, variant.suffix);
        if (const QString why = imageNameRefusal(output, r.txt ? r.formats + QStringList{QStringLiteral("txt")} : r.formats);
            !why.isEmpty())
            return refuse(why);
    }
    const QString subject = QStringLiteral("Cannot write %1").arg(r.output);
    if (const QString why = endsRefusal(r.layout, r.pages.rotate, r.premultiply, r.formats, r.txt, subject); !why.isEmpty())
        return refuse(why);

    // Inputs in the order given; a folder's files in the chosen order.
    picture::Budget budget;
    budget.acceptPng = true;
    const InputFiles inputs = listInputs(r.inputs, r.order, r.output);
    if (!inputs.refusal.isEmpty())
        return refuse(inputs.refusal);
    const QStringList read = inputs.folders + inputs.paths;
    if (!r.depfile.isEmpty()) {
        if (const QString why = dependencyRefusal(r.depfile, read + withDepfile(outputs)); !why.isEmpty())
            return refuse(why);
    }
    // Every file opened once, on every core; each picture is decoded when its rows come. The
    // variants share the files, held open until the last sheet's last band.
    const GatherResult gathered = gather(inputs.paths, budget, {r.allFrames, false, true});
    QList<SheetSource> sources;
    QList<SheetFrame> frames;
    QList<SourceOrigin> origins; // one a source: a file's layers share its origin
    for (qsizetype k = 0; k < gathered.pictures.size(); ++k) {
        const SheetSource &file = gathered.pictures[k];
        if (!r.allFrames) {
            if (const int count = file.picture.framesInFile(); count > 1)
                plan.warnings.append(QStringLiteral("warning: %1 is animated (%2 frames); only its first frame is taken. "
                                                    "--all-frames takes them all.")
                                         .arg(picture::displayPath(file.path)).arg(count));
        }
        for (const SheetSource &source : layersOf(file, r.layersEach)) {
            for (int f = 0; f < source.frames; ++f)
                frames.append({int(sources.size()), f});
            sources.append(source);
            origins.append(inputs.origins[k]);
        }
    }
    if (!gathered.ok())
        return refuse(gathered.failure.message);

    // One sheet after another, each within the memory a run may use: they are composed one
    // by one, so the run holds the most that one of them holds.
    outputs.clear();
    for (const RunRequest::Variant &variant : variants) {
        SheetPlan sheet;
        sheet.output = variantOutput(r.output, variant.suffix);
        if (!r.variants.isEmpty())
            sheet.variant = variant.suffix + u'=' + QString::number(double(variant.num) / double(variant.den), 'g', 10);
        QStringList warnings;
        if (const QString why = planSheet(r, variant, sources, frames, origins, sheet, warnings); !why.isEmpty())
            return refuse(why);
        // What an earlier variant said already is not said again.
        const QStringList said = plan.warnings;
        for (const QString &warning : std::as_const(warnings))
            if (!said.contains(warning))
                plan.warnings.append(warning);
        outputs += sheet.outputs;
        plan.memory = std::max(plan.memory, sheet.memory);
        plan.sheets.append(std::move(sheet));
    }
    for (qsizetype s = 0; s + 1 < plan.sheets.size(); ++s)
        for (SheetJob &page : plan.sheets[s].paged.pages)
            page.keptSources = QList<bool>(page.sources.size(), true);
    for (qsizetype k = 0; !r.variants.isEmpty() && k < outputs.size(); ++k)
        if (outputs.indexOf(outputs[k]) != k)
            return refuse(QStringLiteral("Cannot write %1: two variants would both write it; give them suffixes that "
                                         "make other names.").arg(picture::displayPath(outputs[k])));
    plan.outputs = withDepfile(outputs);
    if (!r.depfile.isEmpty())
        plan.dependencies = dependencyFile(outputs, read);
    return plan;
}

} // namespace strip
