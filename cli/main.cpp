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
#include "picture/base/nativepath.h"
#include "strip/publish/publish.h"
#include "strip/report.h"
#include "strip/split/split.h"
#include "strip/watch/watch.h"

namespace {

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

// One run; under a watch it also tells the watch what it writes, and prints its line.
int compose(const cli::Options &o, strip::WatchedRun *watched = nullptr)
{
    const strip::RunPlan plan = strip::planRun(o);
    if (watched)
        watched->outputs = plan.outputs;
    for (const QString &warning : plan.warnings)
        if (!o.quiet)
            say(warning);
    if (!plan.refusal.isEmpty()) {
        say(plan.refusal);
        return Failed;
    }
    const int pageCount = plan.pageCount();
    Progress progress(!o.quiet && isatty(STDERR_FILENO) && plan.sheets.first().job.frames.size() >= 20);
    const auto pageProgress = [&](int p, int done, int total) { progress(p * total + done, pageCount * total); };
    if (o.dryRun) {
        if (const QString failed = strip::rehearseRun(plan, o, pageProgress); !failed.isEmpty()) {
            say(failed);
            return Failed;
        }
        std::fputs(qUtf8Printable(strip::dryRunReport(plan, o.pages.dedupe, !o.formats.isEmpty())), stdout);
        return Written;
    }
    QStringList written;
    if (const QString failed = strip::publishRun(plan, o, pageProgress, &written); !failed.isEmpty()) {
        say(failed);
        return Failed;
    }
    if (watched)
        std::printf("%s\n", qUtf8Printable(strip::watchLine(int(plan.sheets.first().job.frames.size()), written)));
    return Written;
}

// A sheet cut back into its frames, each a PNG file in the output folder.
int split(const cli::Options &o)
{
    const strip::SplitPlan plan = strip::planSplit(o.splitSheet, o.splitData, o.sheet.cell, o.output);
    if (!o.quiet && !plan.warning.isEmpty())
        say(plan.warning);
    if (!plan.error.isEmpty()) {
        say(plan.error);
        return Failed;
    }
    if (o.dryRun) {
        std::fputs(qUtf8Printable(strip::splitReport(plan)), stdout);
        return Written;
    }
    QString error;
    if (!strip::writeFrames(plan, plan.sheet, &error)) {
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
// program ends of the signal, as it would have; between the runs of a watch it ends the watch.
// The signals wait for a thread of their own, so that taking the files away may lock and
// allocate as any code does.
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
            // Between the runs of a watch: its normal end.
            if (strip::endWatchBetweenRuns())
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
            if (!o.watch) {
                status = compose(o);
                break;
            }
            // Each run's line reaches its reader before the next change; a failed run is told and
            // watched on, as the next save may mend it.
            status = strip::watchRuns(o, [&] {
                strip::WatchedRun run;
                compose(o, &run);
                run.goOn = flushedStdout();
                return run;
            }) == 0 ? Written : Failed;
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
    // A run that failed has said why; a watch that lost standard output has said so already.
    if (status == Written && !flushedStdout())
        status = Failed;
    return status;
}
