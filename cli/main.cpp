// corvane-strip: the window's strips from the command line, PNG sheets with JSON for game
// engines, and sheets cut back into frames. Everything it does lives in the core library; this
// file gathers the inputs and reports.
#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include <pthread.h>
#include <unistd.h>

#include "cli/options.h"
#include "picture/nativepath.h"
#include "strip/ends/dataends.h"
#include "strip/ends/sheetends.h"
#include "strip/framenames.h"
#include "strip/frames.h"
#include "strip/inputs.h"
#include "strip/names.h"
#include "strip/pages.h"
#include "strip/report.h"
#include "strip/sheetdata.h"
#include "strip/sheetfile.h"
#include "strip/split.h"

namespace {

// The menu-bar colour of Qt's Fusion style, the window's background under Qt's default style.
const QColor windowBackground(0xef, 0xef, 0xef);

enum Status { Written = 0, Failed = 1, Usage = 2 };

void say(const QString &text)
{
    std::fprintf(stderr, "corvane-strip: %s\n", qUtf8Printable(text));
}

// A bar on standard error, redrawn in place; only where someone watches it.
class Progress
{
public:
    explicit Progress(bool shown) : m_shown(shown) {}
    void operator()(int done, int total)
    {
        if (!m_shown)
            return;
        const int width = 40;
        const int filled = total ? done * width / total : width;
        std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(), QByteArray(width - filled, '.').constData(),
                     total ? done * 100 / total : 100);
        if (done == total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    bool m_shown;
};

// Every file a run writes is refused, before any input is read, for what would stop it.
bool writable(const QStringList &paths)
{
    for (const QString &path : paths) {
        // Inputs keep the bytes of names that are not UTF-8; an output is made by its name as text.
        if (picture::displayPath(path) != path) {
            say(QStringLiteral("Cannot write %1: its name is not valid UTF-8; give the output a UTF-8 name.")
                    .arg(picture::displayPath(path)));
            return false;
        }
        if (const QString why = picture::cannotSave(path); !why.isEmpty()) {
            say(why);
            return false;
        }
    }
    return true;
}

// Every file a run writes for a sheet of these pages, in the order the dry run lists them: the
// pages, the JSON, the text file, the other data files (the JSON comes first in o.formats).
QStringList outputsOf(const cli::Options &o, const QStringList &sheetPaths)
{
    QStringList outputs = sheetPaths;
    const int pages = int(sheetPaths.size());
    qsizetype k = 0;
    if (o.json)
        outputs += strip::dataFiles(*strip::dataEnd(o.formats[k++]), o.output, pages);
    if (o.txt)
        outputs.append(strip::sheetTextPath(o.output));
    for (; k < o.formats.size(); ++k)
        outputs += strip::dataFiles(*strip::dataEnd(o.formats[k]), o.output, pages);
    return outputs;
}

int compose(const cli::Options &o)
{
    QStringList outputs = outputsOf(o, {o.output});
    if (!writable(outputs))
        return Failed;
    if (const QString refusal = strip::imageNameRefusal(o.output, o.txt ? o.formats + QStringList{QStringLiteral("txt")} : o.formats);
        !refusal.isEmpty()) {
        say(refusal);
        return Failed;
    }

    // Inputs in the order given; a folder's files in the chosen order.
    strip::SheetJob job;
    job.budget.acceptPng = true;
    const strip::SheetEnd &sheetEnd = strip::sheetEnd(o.format);
    job.bytesPerPixel = sheetEnd.bytesPerPixel;
    const strip::InputFiles inputs = strip::listInputs(o.inputs, o.order, o.output);
    if (!inputs.refusal.isEmpty()) {
        say(inputs.refusal);
        return Failed;
    }
    // Every file opened once, on every core; each picture is decoded when its rows come.
    const strip::GatherResult gathered = strip::gather(inputs.paths, job.budget, {o.allFrames, false, true});
    for (const strip::SheetSource &source : gathered.pictures) {
        if (!o.allFrames && !o.quiet) {
            if (const int frames = source.picture.framesInFile(); frames > 1)
                say(QStringLiteral("warning: %1 is animated (%2 frames); only its first frame is taken. "
                                   "--all-frames takes them all.").arg(picture::displayPath(source.path)).arg(frames));
        }
        for (int f = 0; f < source.frames; ++f)
            job.frames.append({int(job.sources.size()), f});
        job.sources.append(source);
    }
    if (!gathered.ok()) {
        say(gathered.failure.message);
        return Failed;
    }
    // Frames enlarged pixel for pixel take their cells with them.
    job.transparent = o.alpha;
    QSize largest;
    for (strip::SheetSource &source : job.sources) {
        source.size *= o.scale;
        largest = largest.expandedTo(source.size);
    }
    strip::SheetOptions layout = o.sheet;
    layout.powerOfTwo = o.pot;
    layout.scale = o.scale;
    layout.cell = o.cell == cli::Options::Cell::Given ? o.sheet.cell * o.scale
                : o.cell == cli::Options::Cell::Largest ? largest : job.sources.first().size;
    job.sheet = strip::arrangeSheet(int(job.frames.size()), layout.cell, layout);
    const QString subject = QStringLiteral("Cannot write %1").arg(o.output);
    // The whole sheet is refused before anything is read a second time: what the format, the
    // largest sheet or the memory cannot hold (each page is checked again below).
    const strip::SheetFormat format = o.format;
    if (o.pages.maxSize == 0) {
        if (const QString refusal = strip::sheetRefusal(job, format, subject, o.compression); !refusal.isEmpty()) {
            say(refusal);
            return Failed;
        }
    }

    // Names that engines look frames up by: unique, or nothing is written.
    const bool data = o.json || !o.formats.isEmpty();
    const strip::FrameNaming naming = strip::nameFrames(job, inputs.origins, o.names,
                                                        QFileInfo(strip::besideSheet(o.output, {})).fileName());
    if (data && !naming.clash.isEmpty()) {
        say(naming.clash);
        return Failed;
    }

    // Cells and pages: trimmed, shared by frames of the same pixels, each animation from a row.
    const strip::PagedSheet paged = strip::layOutPages(job, layout, naming.runs, o.pages, subject);
    if (!paged.refusal.isEmpty()) {
        say(paged.refusal);
        return Failed;
    }
    if (const QString refusal = strip::pagedJsonRefusal(paged, o.names, o.json, subject); !refusal.isEmpty()) {
        say(refusal);
        return Failed;
    }
    const int pageCount = int(paged.pages.size());
    QStringList sheetPaths{o.output};
    if (pageCount > 1) {
        sheetPaths.clear();
        const QString suffix = u'.' + QFileInfo(o.output).suffix();
        for (int p = 0; p < pageCount; ++p)
            sheetPaths.append(strip::besideSheet(o.output, QStringLiteral("-%1%2").arg(p).arg(suffix)));
    }
    outputs = outputsOf(o, sheetPaths);
    if (pageCount > 1 && !writable(outputs))
        return Failed;
    for (int p = 0; p < pageCount; ++p) {
        if (const QString refusal = strip::sheetRefusal(paged.pages[p], format, QStringLiteral("Cannot write %1").arg(sheetPaths[p]), o.compression);
            !refusal.isEmpty()) {
            say(refusal);
            return Failed;
        }
    }
    QStringList images;
    for (const QString &path : std::as_const(sheetPaths))
        images.append(QFileInfo(path).fileName());
    const strip::SheetData sheetData = strip::describeSheet(paged, job, naming, images, o.duration, o.pivot,
                                                            QLatin1String(sheetEnd.pixelFormat));
    if (const QString clash = strip::safeNamesClash(sheetData, o.formats); !clash.isEmpty()) {
        say(clash);
        return Failed;
    }

    if (!o.quiet) {
        const bool pagedAnimations = o.json || o.formats.contains(QStringLiteral("tiled"));
        for (const QString &warning : strip::sheetWarnings(job, paged, sheetData, sheetPaths, o.sheet.clip, pagedAnimations))
            say(warning);
    }

    Progress progress(!o.quiet && isatty(STDERR_FILENO) && job.frames.size() >= 20);
    const auto pageProgress = [&](int p, int done, int total) { progress(p * total + done, pageCount * total); };
    if (o.dryRun) {
        // The run without its writes: every picture decoded and prepared, so that a damaged one
        // is refused here as the run would refuse it.
        for (int p = 0; p < pageCount; ++p) {
            if (const strip::SheetWritten checked = strip::composeOnly(paged.pages[p], format,
                                                                          [&, p](int done, int total) { pageProgress(p, done, total); }); !checked.ok) {
                say(checked.message);
                return Failed;
            }
        }
        qint64 memory = 0;
        for (const strip::SheetJob &page : paged.pages)
            memory = std::max(memory, strip::plannedBytes(page, format, o.compression));
        std::fputs(qUtf8Printable(strip::dryRunReport(job, paged, naming, sheetData, sheetPaths, outputs, memory,
                                                      o.pages.dedupe, data)), stdout);
        return Written;
    }

    // The sheet's pages and every data file are replaced together or not at all.
    picture::StagedSave save;
    const QColor background = o.background.value_or(sheetEnd.alpha ? QColor(Qt::transparent) : windowBackground);
    if (const QString failed = strip::stagePages(save, paged.pages, sheetPaths, format, background, o.compression,
                                                 pageProgress);
        !failed.isEmpty()) {
        say(failed);
        return Failed;
    }

    if (const QString failed = strip::stageData(save, sheetData, o.formats, o.output); !failed.isEmpty()) {
        say(failed);
        return Failed;
    }
    if (o.txt) {
        const strip::Sheet &first = paged.pages.first().sheet;
        const QByteArray line = strip::companionLine(strip::imageName(QFileInfo(sheetPaths.first()).fileName()),
                                                     first.columns, first.frameTotal);
        const picture::SaveResult staged = save.stage(strip::sheetTextPath(o.output), line);
        if (!staged.ok) {
            say(staged.message);
            return Failed;
        }
    }
    if (const picture::SaveResult committed = save.commit(); !committed.ok) {
        say(committed.message);
        return Failed;
    }
    return Written;
}

// A sheet cut back into its frames, each a PNG file in the output folder.
int split(const cli::Options &o)
{
    picture::Budget budget;
    budget.acceptPng = true;
    const picture::Loaded sheet = picture::Source::open(o.splitSheet, picture::displayPath(o.splitSheet), budget).decode();
    if (!sheet.ok()) {
        say(sheet.message);
        return Failed;
    }
    strip::SplitPlan plan;
    if (!o.splitData.isEmpty()) {
        plan = strip::framesFromJsonFile(o.splitData, sheet.image.size(), budget.maxTotalBytes);
    } else {
        plan = strip::framesFromGrid(sheet.image.size(), o.sheet.cell);
        if (!o.quiet && plan.error.isEmpty()
            && (sheet.image.width() % o.sheet.cell.width() || sheet.image.height() % o.sheet.cell.height()))
            say(QStringLiteral("warning: %1 is %2 x %3 pixels, not a whole number of %4 x %5 cells; "
                               "the pixels to the right and below the last whole cells are left out.")
                    .arg(o.splitSheet).arg(sheet.image.width()).arg(sheet.image.height())
                    .arg(o.sheet.cell.width()).arg(o.sheet.cell.height()));
    }
    strip::placeFrames(plan, sheet.image.size(), o.output);
    if (plan.error.isEmpty())
        plan.error = strip::blockedOnDisk(plan);
    if (!plan.error.isEmpty()) {
        say(plan.error);
        return Failed;
    }
    if (o.dryRun) {
        std::printf("frames: %d\nwould write:\n", int(plan.frames.size()));
        for (qsizetype i = 0; i < plan.frames.size(); ++i) {
            const QRect &r = plan.frames[i].rect;
            std::printf("  %s: %d x %d at %d, %d\n", qUtf8Printable(plan.files[i]), r.width(), r.height(), r.x(), r.y());
        }
        return Written;
    }
    QString error;
    if (!strip::writeFrames(plan, sheet.image, &error)) {
        say(error);
        return Failed;
    }
    return Written;
}

// The first cause for which standard output refused what was printed. The C library forgets
// it when a write inside printf() fails, so standard output goes through writeStdout(), which
// keeps it.
int stdoutError = 0;

ssize_t writeStdout(void *, const char *data, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(STDOUT_FILENO, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (stdoutError == 0)
                stdoutError = n < 0 ? errno : ENOSPC;
            return -1;
        }
        done += size_t(n);
    }
    return ssize_t(size);
}

void keepStdoutErrors()
{
    if (FILE *out = fopencookie(nullptr, "w", cookie_io_functions_t{nullptr, writeStdout, nullptr, nullptr})) {
        setvbuf(out, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
        stdout = out;
    }
}

// What was printed reached standard output: a full disk or a closed pipe fails the run as any
// other write does. Called after every action, so that each is covered.
bool flushedStdout()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && stdoutError == 0)
        return true;
    const int error = stdoutError ? stdoutError : errno;
    say(QStringLiteral("Cannot write to standard output: %1.").arg(QString::fromLocal8Bit(std::strerror(error))));
    return false;
}

// Ctrl-C, a hang-up or a termination while files are staged: what is staged goes, then the
// program ends of the signal, as it would have. The signals wait for a thread of their own,
// so that taking the files away may lock and allocate as any code does.
void watchStopSignals()
{
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, signal);
    // Before any other thread starts, so that every thread leaves these signals to the watcher.
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    try {
        std::thread([stop] {
            int signal = 0;
            if (sigwait(&stop, &signal) != 0)
                return;
            picture::discardStagedForExit();
            std::signal(signal, SIG_DFL);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signal);
            pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
            std::raise(signal);
        }).detach();
    } catch (const std::system_error &) {
        pthread_sigmask(SIG_UNBLOCK, &stop, nullptr); // no watcher: the signals end the program at once
    }
}

} // namespace

int main(int argc, char *argv[])
{
    watchStopSignals();
    keepStdoutErrors();
    // File names are bytes: an argument that is not UTF-8 keeps them, as the window's lists do.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(picture::fromNativePath(argv[i]));
    // The picture decoders are Qt plugins, found through the application; no display is needed.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-strip"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    int status = Written;
    try {
        const cli::Options o = cli::parseOptions(arguments);
        switch (o.action) {
        case cli::Options::Action::Help:
            std::fputs(qUtf8Printable(cli::helpText()), stdout);
            break;
        case cli::Options::Action::Version:
            std::printf("corvane-strip %s\n", CORVANE_VERSION);
            break;
        case cli::Options::Action::Split:
            status = split(o);
            break;
        case cli::Options::Action::Compose:
            status = compose(o);
            break;
        }
    } catch (const cli::UsageError &e) {
        say(e.message);
        std::fprintf(stderr, "Try 'corvane-strip --help' for more information.\n");
        status = Usage;
    } catch (const std::bad_alloc &) {
        say(QStringLiteral("Cannot go on: not enough memory."));
        status = Failed;
    } catch (const std::exception &e) {
        say(QStringLiteral("Cannot go on: %1").arg(QString::fromLocal8Bit(e.what())));
        status = Failed;
    }
    if (!flushedStdout() && status == Written)
        status = Failed;
    return status;
}
