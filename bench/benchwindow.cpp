// corvane-bench-window: the program's start-up, as a whole process for bench/run.
//
//   corvane-bench-window startup [--phases]   the real window, offscreen, to idle
//   corvane-bench-window bare                 a bare application that quits at once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

#include "app/mainwindow.h"
#include "app/startup.h"

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

} // namespace

int main(int argc, char **argv)
{
    const QByteArray mode(argc > 1 ? argv[1] : "");
    if (mode == "startup")
        return startup(argc, argv);
    if (mode == "bare")
        return bare(argc, argv);
    std::fputs("usage: corvane-bench-window startup [--phases] | bare\n", stderr);
    return 2;
}
