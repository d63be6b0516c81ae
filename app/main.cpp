#include <QApplication>

#include "app/mainwindow.h"
#include "app/startup.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const FontPreload fonts;
    setUpApplication();

    MainWindow window;
    window.show();
    return app.exec();
}
