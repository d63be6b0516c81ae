#include "strip/layouts/layouts.h"

#include <QCoreApplication>

#include <algorithm>

#include "picture/base/nativepath.h"
#include "strip/layouts/maxrects.h"
#include "strip/survey.h"

namespace strip {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

// Each frame trimmed to its own visible pixels and packed with the others into as few and as
// small pages as MaxRects finds; frames of the same pixels share one rectangle with --dedupe.
PagedSheet layOutDense(const SheetJob &named, const SheetOptions &layout, const QList<FrameRun> &,
                       const PageOptions &options, const QString &subject)
{
    PagedSheet paged;
    const int scale = std::max(layout.scale, 1);
    QList<FrameLook> looks;
    SheetJob surveyed = named;
    surveyed.sheet.scale = scale;
    if (const QString failure = surveyFrames(surveyed, &looks, options.dedupe); !failure.isEmpty()) {
        paged.refusal = failure;
        return paged;
    }
    const QList<int> owners = cellOwners(looks, int(named.frames.size()), options.dedupe, &paged.cellOf);

    // What each cell shows, in enlarged pixels; a frame that shows nothing keeps one pixel block,
    // so that it still has a place and its whole size in the data.
    const int e = layout.extrude;
    QList<QRect> shown;
    QList<QSize> sizes; // with the extruded edges, which the packer keeps apart by the padding
    for (const int owner : owners) {
        const QRect v = looks[owner].visible.isEmpty() ? QRect(0, 0, 1, 1) : looks[owner].visible;
        shown.append(QRect(v.topLeft() * scale, v.size() * scale));
        sizes.append(shown.last().size() + QSize(2 * e, 2 * e));
    }
    PackOptions pack;
    pack.padding = layout.padding;
    pack.margin = layout.margin;
    pack.maxSide = options.maxSize;
    pack.rotate = options.rotate;
    pack.powerOfTwo = layout.powerOfTwo;
    const Packing packing = packRectangles(sizes, pack);
    if (packing.refusal != Packing::Refusal::None) {
        const SheetFrame &f = named.frames[owners[std::max(packing.refused, 0)]];
        const SheetSource &source = named.sources[f.source];
        const QString frame = source.frames > 1 ? tr(", frame %1,").arg(f.frame) : QString();
        const QSize s = sizes[std::max(packing.refused, 0)];
        paged.refusal = tr("%1: %2%3 is %4 x %5 pixels once trimmed (its extruded edges included), more than a "
                           "page of --max-size %6%7 holds within its margin; raise --max-size.")
                            .arg(subject, picture::displayPath(source.path), frame).arg(s.width()).arg(s.height())
                            .arg(options.maxSize)
                            .arg(layout.powerOfTwo ? tr(" (its largest power of two, with --pot)") : QString());
        return paged;
    }

    // Each page's job: its cells in sheet order, each in its own rectangle.
    QList<QList<Sheet::Packed>> placed(packing.pages.size());
    QList<SheetJob> jobs(packing.pages.size(), named);
    for (SheetJob &job : jobs)
        job.frames.clear();
    for (int c = 0; c < owners.size(); ++c) {
        const PackedRect &r = packing.rects[c];
        const SheetFrame &f = named.frames[owners[c]];
        const QSize picture = named.sources[f.source].size;
        const QSize size = r.rotated ? shown[c].size().transposed() : shown[c].size();
        paged.cells.append({r.page, int(placed[r.page].size())});
        placed[r.page].append({QRect(r.topLeft + QPoint(e, e), size), shown[c], picture, r.rotated});
        jobs[r.page].frames.append(f);
    }
    for (qsizetype p = 0; p < jobs.size(); ++p) {
        jobs[p].sheet = packedSheet(placed[p], packing.pages[p], layout.padding, layout.margin, e, scale,
                                   options.anticlockwise);
        paged.pages.append(std::move(jobs[p]));
    }
    keepSourcesForLaterPages(paged, named, owners);
    return paged;
}

} // namespace

extern const Layout denseLayout{"dense", "each frame trimmed alone and packed tightly (MaxRects)", false, layOutDense};

} // namespace strip
