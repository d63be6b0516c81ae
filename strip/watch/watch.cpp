#include "strip/watch/watch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>

#include <mutex>

#include <sys/stat.h>

#include "picture/base/nativepath.h"
#include "strip/inputs.h"

namespace strip {

namespace {

QString absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// A file's identity, size and times to the nanosecond; a folder only as one, since writing an
// output into it changes its time.
QByteArray statOf(const QString &path)
{
    struct stat info;
    if (::stat(picture::toNativePath(path).constData(), &info) != 0)
        return QByteArrayLiteral("missing");
    if (S_ISDIR(info.st_mode))
        return QByteArrayLiteral("folder");
    return QByteArray::number(qulonglong(info.st_dev)) + ' ' + QByteArray::number(qulonglong(info.st_ino)) + ' '
        + QByteArray::number(qlonglong(info.st_size)) + ' ' + QByteArray::number(qlonglong(info.st_mtim.tv_sec)) + '.'
        + QByteArray::number(qlonglong(info.st_mtim.tv_nsec)) + ' ' + QByteArray::number(qlonglong(info.st_ctim.tv_sec))
        + '.' + QByteArray::number(qlonglong(info.st_ctim.tv_nsec));
}

// Whether a watch runs and whether one of its runs is under way, for the thread that waits for
// the stop signals.
struct Gate {
    std::mutex lock;
    bool watching = false, running = false, ending = false;
};

Gate &gate()
{
    static Gate g;
    return g;
}

bool beginRun()
{
    const std::lock_guard held(gate().lock);
    if (gate().ending)
        return false;
    gate().running = true;
    return true;
}

void endRun()
{
    const std::lock_guard held(gate().lock);
    gate().running = false;
}

// Watches what is wanted and nothing else; a path kept stays armed, so that what happened to it
// during the run is still heard.
void rearm(QFileSystemWatcher &watcher, const QStringList &wanted)
{
    const QStringList armed = watcher.files() + watcher.directories();
    const QSet<QString> want(wanted.begin(), wanted.end()), have(armed.begin(), armed.end());
    QStringList gone, added;
    for (const QString &path : armed)
        if (!want.contains(path))
            gone.append(path);
    for (const QString &path : wanted)
        if (!have.contains(path))
            added.append(path);
    if (!gone.isEmpty())
        watcher.removePaths(gone);
    if (!added.isEmpty())
        watcher.addPaths(added);
}

} // namespace

InputsState inputsState(const RunRequest &r)
{
    InputsState state;
    const InputFiles listed = listInputs(r.inputs, r.order, r.output);
    state[QString()] = listed.refusal.toUtf8();
    for (const QString &path : r.inputs + listed.folders + listed.paths)
        state[absolute(path)] = statOf(path);
    return state;
}

bool inputsDiffer(InputsState a, InputsState b, const QStringList &outputs)
{
    for (const QString &output : outputs) {
        a.erase(absolute(output));
        b.erase(absolute(output));
    }
    return a != b;
}

QStringList watchedPaths(const QStringList &given, const QStringList &read)
{
    QStringList paths;
    QSet<QString> seen;
    const auto add = [&](const QString &path) {
        if (!seen.contains(path)) {
            seen.insert(path);
            paths.append(path);
        }
    };
    for (const QString &input : given + read) {
        QString path = absolute(input);
        if (QFileInfo::exists(path))
            add(path);
        // The folder holding it, or the nearest that exists: where it comes back.
        for (QString up = QFileInfo(path).absolutePath();; up = QFileInfo(up).absolutePath()) {
            if (QFileInfo(up).isDir()) {
                add(up);
                break;
            }
            if (QFileInfo(up).isRoot())
                break;
        }
    }
    return paths;
}

QString watchLine(int frames, const QStringList &written)
{
    const QString count = frames == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(frames);
    if (written.isEmpty())
        return QStringLiteral("nothing changed (%1)").arg(count);
    QStringList shown;
    for (const QString &path : written)
        shown.append(picture::displayPath(path));
    return QStringLiteral("wrote %1 (%2)").arg(shown.join(QStringLiteral(", ")), count);
}

int watchRuns(const RunRequest &request, const std::function<WatchedRun()> &run)
{
    {
        const std::lock_guard held(gate().lock);
        gate().watching = true;
    }
    QFileSystemWatcher watcher;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setInterval(watchQuietMs);
    InputsState last;       // as the last run began
    QStringList outputs;    // the last run's
    bool touched = false;   // a file read was written to since the last run began
    bool ended = false;
    const auto runOnce = [&] {
        if (!beginRun())
            return;
        // Armed before the state is taken: a change after it is heard, one before it is in it.
        const InputFiles listed = listInputs(request.inputs, request.order, request.output);
        QStringList paths = watchedPaths(request.inputs, listed.folders + listed.paths);
        // An output given as an input too (a shell's *.png) would start the next run itself.
        for (const QString &output : outputs + QStringList{request.output})
            paths.removeAll(absolute(output));
        rearm(watcher, paths);
        last = inputsState(request);
        touched = false;
        const WatchedRun done = run();
        endRun();
        outputs = done.outputs;
        if (!done.goOn) {
            ended = true;
            QCoreApplication::exit(1);
        }
    };
    // A file's own event says it was written even where its size and time read the same.
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &quiet, [&] {
        touched = true;
        quiet.start();
    });
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &quiet, [&] { quiet.start(); });
    QObject::connect(&quiet, &QTimer::timeout, &quiet, [&] {
        if (touched || inputsDiffer(inputsState(request), last, outputs))
            runOnce();
    });
    runOnce();
    const int status = ended ? 1 : QCoreApplication::exec();
    const std::lock_guard held(gate().lock);
    gate().watching = false;
    return status;
}

bool endWatchBetweenRuns()
{
    const std::lock_guard held(gate().lock);
    if (!gate().watching || gate().running)
        return false;
    gate().ending = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    return true;
}

} // namespace strip
