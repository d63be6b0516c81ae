#include "strip/framenames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include "picture/base/nativepath.h"
#include "strip/bands.h"

namespace strip {

namespace {

// A folder's own name, also for "." or "frames/"; empty for the root.
QString folderName(const QString &input)
{
    return QFileInfo(QDir::cleanPath(QDir(input).absolutePath())).fileName();
}

QString frameLabel(const SheetSource &source, int frame)
{
    const QString shown = picture::shownName(source.path);
    const QString layer = source.layer.isEmpty() ? shown : QCoreApplication::translate("strip", "%1 (layer %2)").arg(shown, source.layer);
    return source.allFrames ? QCoreApplication::translate("strip", "%1 (frame %2)").arg(layer).arg(frame) : layer;
}

QString animationClash(const QList<FrameRun> &runs, const QString &name, const QString &path)
{
    for (const FrameRun &run : runs)
        if (run.name == name)
            return QCoreApplication::translate("strip", "Cannot name the animations: two would be named '%1' "
                                                        "(the second from %2).").arg(picture::shownName(name), picture::shownName(path));
    return {};
}

} // namespace

FrameNaming nameFrames(const SheetJob &job, const QList<SourceOrigin> &origins, NameScheme scheme,
                       const QString &stillsName)
{
    FrameNaming result;
    QHash<QString, int> taken;
    QHash<QString, int> stillRuns; // runs of still pictures so far, by their folder as given
    for (int i = 0; i < job.frames.size(); ++i) {
        const SheetFrame &f = job.frames[i];
        const SheetSource &source = job.sources[f.source];
        const SourceOrigin &origin = origins[f.source];
        QString name = QString::number(i);
        if (scheme == NameScheme::Path) {
            const QString folder = origin.folder ? folderName(origin.input) : QString();
            name = (folder.isEmpty() ? QString() : folder + u'/') + QFileInfo(source.path).fileName();
            if (!source.layer.isEmpty())
                name += u'/' + source.layer;
            if (source.allFrames)
                name += QStringLiteral("#%1").arg(f.frame);
        }
        if (const auto at = taken.constFind(name); at != taken.constEnd()) {
            const SheetFrame &other = job.frames[*at];
            result.clash = QCoreApplication::translate("strip", "Cannot name the frames: %1 and %2 would both be named '%3'; "
                                                                "give their folders, or use --names index.")
                               .arg(frameLabel(job.sources[other.source], other.frame), frameLabel(source, f.frame), picture::shownName(name));
            return result;
        }
        taken.insert(name, i);
        result.names.append(name);

        // A run goes on while its frames come from the same animated GIF, or are still pictures
        // of the same folder, or still pictures given one by one. A GIF in a folder is its own
        // run, named folder/file.
        auto isAnimated = [&](const SheetSource &s) { return s.allFrames && s.frames > 1; };
        const bool animated = isAnimated(source);
        const QString folder = origin.folder ? folderName(origin.input) : QString();
        QString runName = animated ? (folder.isEmpty() ? QString() : folder + u'/') + QFileInfo(source.path).completeBaseName()
                                   : QString();
        if (animated && !source.layer.isEmpty())
            runName += u'/' + source.layer;
        const bool continues = i > 0 && [&] {
            const SheetFrame &p = job.frames[i - 1];
            const SourceOrigin &po = origins[p.source];
            if (animated)
                return p.source == f.source;
            return !isAnimated(job.sources[p.source]) && origin.folder == po.folder
                && (!origin.folder || origin.input == po.input);
        }();
        if (continues) {
            result.runs.last().to = i;
            continue;
        }
        if (runName.isEmpty()) {
            // A folder's stills after one of its GIFs are a run of their own, named as the
            // loose stills' later runs are.
            const QString stills = origin.folder ? folder : stillsName;
            const int later = stillRuns[origin.folder ? origin.input : QString()]++;
            runName = later == 0 ? stills : QStringLiteral("%1-%2").arg(stills).arg(later + 1);
        }
        if (const QString clash = animationClash(result.runs, runName, source.path); !clash.isEmpty()) {
            result.clash = clash;
            return result;
        }
        result.runs.append({runName, i, i});
    }
    for (const FrameRun &run : std::as_const(result.runs)) {
        const SheetSource &source = job.sources[job.frames[run.from].source];
        const auto sprite = source.picture.sprite();
        if (!sprite || sprite->tags.isEmpty() || !source.allFrames || source.frames <= 1) {
            result.animations.append(run);
            continue;
        }
        for (const picture::SpriteTag &tag : sprite->tags) {
            // The run holds the file's frames in their order, from its first.
            if (tag.from > tag.to || tag.to > run.to - run.from)
                continue;
            const QString name = run.name + u'/' + tag.name;
            if (const QString clash = animationClash(result.animations, name, source.path); !clash.isEmpty()) {
                result.clash = clash;
                return result;
            }
            result.animations.append({name, run.from + tag.from, run.from + tag.to, tag.direction, tag.repeat});
        }
    }
    return result;
}

} // namespace strip
