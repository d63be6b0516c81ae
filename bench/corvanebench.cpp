// corvane-bench: runs the write command's own code, and the pieces it is measured against,
// as whole processes for bench/run.
//
//   corvane-bench write N OUT FILES... [--background #rrggbb] [--phases]
//                                                                load, lay out, compose and write the BMP in bands
//   corvane-bench decode [--parallel] [--all-frames] FILES...    decode only, with the same loader; every
//                                                                frame of an animation with --all-frames
//   corvane-bench png-floor OUTDIR PAGE... -- FILES...            the floor of a packed sheet: decode FILES
//                                                                on every core, then write each PAGE's
//                                                                pixels as a PNG with our writer; prints
//                                                                the seconds spent reading the PAGEs
//   corvane-bench list DIR                                       list a folder as the file list does
//
// It needs no widgets and does not load them: the program's start-up is measured by
// corvane-bench-window.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <atomic>
#include <mutex>
#include <cstdio>

#include "browse/core/folders.h"
#include "picture/source/animation.h"
#include "picture/source/picture.h"
#include "picture/codecs/pngwriter.h"
#include "picture/base/savefile.h"
#include "picture/base/threads.h"
#include "strip/frames.h"
#include "strip/publish/sheetfile.h"

namespace {

constexpr int maxImages = 100; // MAX_IMAGES once the window has loaded

int usage()
{
    std::fputs("usage: corvane-bench write N OUT FILES... [--background #rrggbb] [--phases]\n"
               "       corvane-bench decode [--parallel] [--all-frames] FILES...\n"
               "       corvane-bench png-floor OUTDIR PAGE... -- FILES...\n"
               "       corvane-bench list DIR\n",
               stderr);
    return 2;
}

void fail(const QString &message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The write command from the moment the paths are gathered to the bitmap on disk: the very
// calls the window's command makes.
int write(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(2);
    QColor background(0xef, 0xef, 0xef); // the Fusion menu-bar colour the window uses
    if (const qsizetype at = args.indexOf(QStringLiteral("--background")); at >= 0 && at + 1 < args.size()) {
        background = QColor::fromString(args[at + 1]);
        args.remove(at, 2);
    }
    const bool phases = args.removeAll(QStringLiteral("--phases")) > 0;
    if (args.size() < 3 || !background.isValid())
        return usage();
    bool numeric = false;
    const int perRow = args.takeFirst().toInt(&numeric);
    const QString out = args.takeFirst();
    if (!numeric || perRow < 1)
        return usage();
    const QStringList paths = args.mid(0, maxImages);

    QElapsedTimer clock;
    clock.start();
    auto phase = [&](const char *name) {
        if (phases)
            std::fprintf(stderr, "%-8s %7.1f ms\n", name, double(clock.nsecsElapsed()) / 1e6);
        clock.restart();
    };
    const strip::GatherResult gathered = strip::loadPictures(paths);
    phase("load");
    if (!gathered.ok()) {
        fail(gathered.failure.message);
        return 1;
    }
    if (gathered.loaded() == 0) {
        fail(QStringLiteral("No images were selected!"));
        return 1;
    }
    const double horizontal = std::min(perRow, gathered.loaded());
    const strip::StripPlan plan = strip::planStrip(gathered.pictures, gathered.loaded(), horizontal);
    if (!plan.ok) {
        fail(plan.message);
        return 1;
    }
    phase("plan");
    const strip::SheetWritten saved = strip::writeSheet(plan.job, out, strip::SheetFormat::Bmp, background);
    phase("write");
    if (phases) { // how much of the memory came in large pages
        QFile rollup(QStringLiteral("/proc/self/smaps_rollup"));
        if (rollup.open(QIODevice::ReadOnly))
            for (const QByteArray &line : rollup.readAll().split('\n'))
                if (line.startsWith("Rss:") || line.startsWith("AnonHugePages:"))
                    std::fprintf(stderr, "%s\n", line.simplified().constData());
    }
    if (!saved.ok) {
        fail(saved.message);
        return 1;
    }
    return 0;
}

// The loader alone, each picture dropped once decoded: the floor's share. One after another,
// or spread over every core, as the write command spreads it. The pixels decoded, or -1 with
// the loader's message. PNG and WebP are read too, as the command line reads them.
// The pixels of every frame of the file at path, read one after another as a run reads them;
// -1 with *message set when it cannot be read.
qint64 decodeFrames(const QString &path, const picture::Budget &budget, QString *message)
{
    const picture::Source source = picture::Source::open(path, path, budget, true);
    picture::FrameStream stream(source);
    qint64 pixels = 0;
    QImage frame;
    picture::Loaded refusal = source.refusal();
    for (int f = 0; refusal.ok() && f < source.frames(); ++f) {
        if (!stream.next(&frame, &refusal))
            break;
        pixels += qint64(frame.width()) * frame.height();
    }
    if (!refusal.ok()) {
        *message = refusal.message;
        return -1;
    }
    return pixels;
}

qint64 decodeAll(const QStringList &paths, bool parallel, bool allFrames, QString *message)
{
    picture::Budget budget;
    budget.acceptPng = true;
    std::atomic<qsizetype> next{0};
    std::atomic<qint64> pixels{0};
    std::atomic<bool> failed{false};
    std::mutex messageLock;
    auto work = [&] {
        for (qsizetype k; !failed && (k = next.fetch_add(1)) < paths.size();) {
            QString why;
            qint64 read = -1;
            if (allFrames) {
                read = decodeFrames(paths[k], budget, &why);
            } else if (const picture::Loaded loaded = picture::load(paths[k], budget); loaded.ok()) {
                read = qint64(loaded.image.width()) * loaded.image.height();
            } else {
                why = loaded.message;
            }
            if (read < 0) {
                const std::lock_guard lock(messageLock);
                failed = true;
                *message = why;
                return;
            }
            pixels += read;
        }
    };
    picture::runOnThreads(parallel ? QThread::idealThreadCount() : 1, work);
    return failed ? -1 : pixels.load();
}

int decode(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList paths = app.arguments().mid(2);
    const bool parallel = paths.removeAll(QStringLiteral("--parallel")) > 0;
    const bool allFrames = paths.removeAll(QStringLiteral("--all-frames")) > 0;
    if (paths.isEmpty())
        return usage();
    QString message;
    const qint64 pixels = decodeAll(paths, parallel, allFrames, &message);
    if (pixels < 0) {
        fail(message);
        return 1;
    }
    std::printf("%lld pixels\n", static_cast<long long>(pixels));
    return 0;
}

// The least a packed sheet can cost: every input decoded on every core, then pages of the
// sheet's size and pixels written with our PNG writer at its default compression (the layout
// chosen from the pixels, as the sheet's is). The pages are read first; the time that took is
// printed (seconds), for the caller to take from the whole process's.
int pngFloor(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    const qsizetype dashes = args.indexOf(QStringLiteral("--"));
    if (dashes < 2 || dashes + 1 >= args.size())
        return usage();
    const QString folder = args[0];
    QElapsedTimer reading;
    reading.start();
    QList<QImage> pages;
    for (const QString &path : args.mid(1, dashes - 1)) {
        const picture::Loaded page = picture::load(path, picture::Budget{.acceptPng = true});
        if (!page.ok()) {
            fail(page.message);
            return 1;
        }
        pages.append(page.image.convertToFormat(QImage::Format_RGBA8888));
    }
    const QStringList inputs = args.mid(dashes + 1);
    const qint64 readingNs = reading.nsecsElapsed();

    QString message;
    if (decodeAll(inputs, true, false, &message) < 0) {
        fail(message);
        return 1;
    }
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QImage &page = pages[i];
        const QString out = folder + QStringLiteral("/floor-%1.png").arg(i);
        QString encoderError;
        const picture::SaveResult saved = picture::saveAtomically(out, [&](picture::SaveSink &sink) {
            picture::PngWriter writer(sink, page.width(), page.height(),
                                      picture::smallestLayout(page, page.height()));
            const bool ok = writer.writeRows(page, 0, page.height()) && writer.finish();
            encoderError = writer.error();
            return ok;
        });
        if (!saved.ok) {
            fail(encoderError.isEmpty() ? saved.message : out + QStringLiteral(": ") + encoderError);
            return 1;
        }
    }
    std::printf("%.4f\n", double(readingNs) / 1e9);
    return 0;
}

// No application object: listing a folder needs none, and the file list's work is all there is.
int list(int argc, char **argv)
{
    if (argc != 3)
        return usage();
    const browse::Listing listing = browse::listPictures(QString::fromLocal8Bit(argv[2]));
    if (!listing.ok) {
        fail(listing.message);
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(listing.names.size()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const QByteArray mode(argv[1]);
    if (mode == "write")
        return write(argc, argv);
    if (mode == "decode")
        return decode(argc, argv);
    if (mode == "list")
        return list(argc, argv);
    if (mode == "png-floor")
        return pngFloor(argc, argv);
    return usage();
}
