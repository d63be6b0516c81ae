#include "app/startup.h"

#include <QApplication>
#include <QFontDatabase>

#include <system_error>

#include "app/appicon.h"

void setUpApplication()
{
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.corvane.Corvane"));
    QApplication::setWindowIcon(appIcon());
}

FontPreload::FontPreload()
{
    try {
        // Every function of the font database may be called from any thread.
        m_thread = std::thread([] { QFontDatabase::families(); });
    } catch (const std::system_error &) { // no thread to be had: the window loads the fonts itself
    }
}

FontPreload::~FontPreload()
{
    if (m_thread.joinable())
        m_thread.join();
}
