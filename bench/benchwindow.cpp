// corvane-bench-window: the program's start-up, as a whole process for bench/run.
//
//   corvane-bench-window startup [--phases]   the real window, offscreen, to idle
//   corvane-bench-window bare                 a bare application that quits at once
//   corvane-bench-window preview RUNS FILES...  the median time, in ms, from a click on each
//                                             file to its picture in the preview, offscreen, and
//                                             the longest the event loop waited meanwhile

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "browse/widgets/drivelist.h"
#include "browse/widgets/filelist.h"
#include "browse/widgets/folderlist.h"

namespace {

void offscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The program's own start: the same set-up as its main(), the window shown, then out at the
// first moment the event loop has nothing left to do.
int startup(int argc, char **argv)
{
    offscreenUnlessSet();
    QElapsedTimer clock;
    clock.start();
    const bool phases = argc > 2 && QByteArray(argv[2]) == "--phases";
    auto phase = [&](const char *name) {
        if (phases)
            std::fprintf(stderr, "%-12s %6.1f ms\n", name, double(clock.nsecsElapsed()) / 1e6);
        clock.restart();
    };
    QApplication app(argc, argv);
    phase("application");
    const FontPreload fonts;
    setUpApplication();
    phase("set-up");
    MainWindow window;
    phase("window");
    window.show();
    phase("show");
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int code = app.exec();
    phase("to idle");
    return code;
}

int bare(int argc, char **argv)
{
    offscreenUnlessSet();
    QApplication app(argc, argv);
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}

// A click on each file in the real file list, RUNS times, each time from an empty preview.
int preview(int argc, char **argv)
{
    offscreenUnlessSet();
    QApplication app(argc, argv);
    setUpApplication();
    const QStringList args = app.arguments().mid(2);
    const int runs = args.value(0).toInt();
    if (runs < 1 || args.size() < 2)
        return 2;
    MainWindow window;
    window.show();
    for (const QString &path : args.mid(1)) {
        const QFileInfo file(path);
        window.Dir1->setPath(window.Drive1->rootPath(), file.absolutePath());
        const int row = int(window.File1->names().indexOf(file.fileName()));
        if (row < 0) {
            std::fprintf(stderr, "%s is not in the file list\n", qPrintable(path));
            return 1;
        }
        window.File1->setCurrentIndex(window.File1->model()->index(row, 0));
        std::vector<double> times, waits;
        for (int r = 0; r < runs; ++r) {
            window.Open->clear();
            QElapsedTimer clock, sinceTick;
            clock.start();
            sinceTick.start();
            window.File1_Click();
            // The longest the event loop waited while the picture decoded: the handler itself,
            // then the longest gap between the ticks of a timer that fires as often as it can.
            double longest = double(sinceTick.nsecsElapsed()) / 1e6;
            QTimer ticks;
            QObject::connect(&ticks, &QTimer::timeout, [&] {
                longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
                sinceTick.restart();
            });
            ticks.start(0);
            while (!window.previewSettled())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
            waits.push_back(longest);
            if (window.Open->pixmap().isNull()) {
                std::fprintf(stderr, "%s: no preview\n", qPrintable(path));
                return 1;
            }
        }
        std::sort(times.begin(), times.end());
        std::sort(waits.begin(), waits.end());
        std::printf("%s %.1f %.1f\n", qPrintable(file.fileName()), times[times.size() / 2], waits.back());
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray mode(argc > 1 ? argv[1] : "");
    if (mode == "startup")
        return startup(argc, argv);
    if (mode == "bare")
        return bare(argc, argv);
    if (mode == "preview")
        return preview(argc, argv);
    std::fputs("usage: corvane-bench-window startup [--phases] | bare | preview RUNS FILES...\n", stderr);
    return 2;
}
