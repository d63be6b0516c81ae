#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <memory>

#include <unistd.h>

#include "about/aboutform.h"
#include "about/artwork.h"
#include "about/helpdialog.h"
#include "about/helpviewer.h"
#include "app/mainwindow.h"
#include "tests/support/testsupport.h"

namespace {

const QString kHelpName = QStringLiteral("Corvane.hlp");

// Runs the process in folder for one test and puts the old current folder back afterwards.
class CurrentFolder
{
public:
    explicit CurrentFolder(const QString &folder)
        : m_old(QDir::currentPath())
    {
        QVERIFY(QDir::setCurrent(folder));
    }
    ~CurrentFolder() { QDir::setCurrent(m_old); }

private:
    QString m_old;
};

QStringList visibleTopLevels()
{
    QStringList names;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible())
            names << w->objectName();
    }
    return names;
}

// The text of the paragraph at the top of what the browser shows.
QString topOfView(QTextBrowser *browser)
{
    return browser->cursorForPosition(QPoint(20, 2)).block().text().trimmed();
}

bool isBlack(QRgb pixel)
{
    return qRed(pixel) < 8 && qGreen(pixel) < 8 && qBlue(pixel) < 8;
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> openWindow();
    HelpViewer *viewerOf(MainWindow &window) const { return window.CommonDialog1->viewer(); }

private slots:
    void cleanup();

    // Finding the help file.
    void findsFirstFolderHoldingTheFile_data();
    void findsFirstFolderHoldingTheFile();
    void searchesCurrentThenProgramThenDataFolder();
    void shippedHelpFileSitsBesideTheProgram();
    void shippedHelpFileExplainsTheProgram();

    // Help contents from the main window.
    void f1OpensHelpWhereverTheFocusIs_data();
    void f1OpensHelpWhereverTheFocusIs();
    void contentsMenuOpensHelp();
    void reopeningReusesViewerAtContents();
    void missingHelpFileIsReportedByTheViewer_data();
    void missingHelpFileIsReportedByTheViewer();
    void unreadableHelpFileIsReportedByTheViewer();

    // The about box.
    void artworkIs24Bit();
    void aboutBoxContent();
    void aboutBoxIsModal();
    void okHidesBoxAndNextShowingReusesIt();
    void closeButtonDiscardsBox();
    void everyExitRouteEndsProgramAfterAbout_data();
    void everyExitRouteEndsProgramAfterAbout();
};

std::unique_ptr<MainWindow> TestAbout::openWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("the main window did not become active");
    return window;
}

void TestAbout::cleanup()
{
    // Each test makes its own windows; none may linger into the next.
    QTRY_COMPARE(visibleTopLevels(), QStringList());
}

void TestAbout::findsFirstFolderHoldingTheFile_data()
{
    QTest::addColumn<QString>("holders"); // which of the folders a, b, c hold the file
    QTest::addColumn<QString>("found");

    QTest::newRow("none") << QString() << QString();
    QTest::newRow("only current") << QStringLiteral("a") << QStringLiteral("a");
    QTest::newRow("only program") << QStringLiteral("b") << QStringLiteral("b");
    QTest::newRow("only data") << QStringLiteral("c") << QStringLiteral("c");
    QTest::newRow("current before program") << QStringLiteral("ab") << QStringLiteral("a");
    QTest::newRow("program before data") << QStringLiteral("bc") << QStringLiteral("b");
    QTest::newRow("all") << QStringLiteral("abc") << QStringLiteral("a");
}

void TestAbout::findsFirstFolderHoldingTheFile()
{
    QFETCH(QString, holders);
    QFETCH(QString, found);

    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    QStringList folders;
    for (const QString &name : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}) {
        QVERIFY(QDir(sandbox.path()).mkdir(name));
        const QString folder = sandbox.filePath(name);
        folders << folder;
        if (holders.contains(name))
            testsupport::writeFile(folder + u'/' + kHelpName, "<html></html>");
        else // a folder of that name is no help file and must not stop the search
            QVERIFY(QDir(folder).mkdir(kHelpName));
    }

    const QString expected = found.isEmpty() ? QString() : sandbox.filePath(found + u'/' + kHelpName);
    QCOMPARE(help::findFile(kHelpName, folders), expected);
}

void TestAbout::searchesCurrentThenProgramThenDataFolder()
{
    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    CurrentFolder here(sandbox.path());

    // An installed program in <prefix>/bin finds its data in <prefix>/share/corvane, wherever
    // <prefix> is.
    const QString program = QCoreApplication::applicationDirPath();
    const QString prefix = program.left(program.lastIndexOf(u'/'));
    const QStringList expected{QDir::currentPath(), program, prefix + QStringLiteral("/share/corvane")};
    QCOMPARE(help::defaultFolders(), expected);
}

void TestAbout::shippedHelpFileSitsBesideTheProgram()
{
    // The build puts a copy beside the program, so a run from the build tree finds it.
    QCOMPARE(testsupport::readFile(QStringLiteral(CORVANE_HELP_BUILT)),
             testsupport::readFile(QStringLiteral(CORVANE_HELP_SOURCE)));
}

void TestAbout::shippedHelpFileExplainsTheProgram()
{
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(testsupport::readFile(QStringLiteral(CORVANE_HELP_SOURCE))));
    QCOMPARE(doc.metaInformation(QTextDocument::DocumentTitle), QStringLiteral("Corvane Help"));

    // Every link leads to a topic of the file, and the contents topic is there.
    QStringList anchors;
    QStringList links;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            anchors << format.anchorNames();
            if (!format.anchorHref().isEmpty())
                links << format.anchorHref();
        }
    }
    QVERIFY2(anchors.contains(QStringLiteral("contents")), qPrintable(anchors.join(u' ')));
    QVERIFY(links.size() >= 6);
    for (const QString &link : std::as_const(links)) {
        QVERIFY2(link.startsWith(u'#'), qPrintable(link));
        QVERIFY2(anchors.contains(link.mid(1)), qPrintable(link));
    }

    // The messages are quoted exactly as the program shows them, blanks included.
    const QString text = doc.toPlainText();
    const QStringList messages{
        QStringLiteral("# of horizontal frames must be greater than zero. Resetting to 10 horizontal frame(s)."),
        QStringLiteral("Maximum of  100 frames are allowed! You selected more than  100 frames."),
        QStringLiteral("The first  100 Frames will be used for the image strip."),
        QStringLiteral("No images were selected!"),
        QStringLiteral("# of horizontal frames must be less than  100. Resetting to  7 horizontal frames."),
        QStringLiteral("Operation Cancelled"),
        QStringLiteral("walk.bmp, 3, 7"),
        QStringLiteral("walk.TXT"),
    };
    for (const QString &message : messages)
        QVERIFY2(text.contains(message), qPrintable(message));
    for (const char *key : {"Alt+W", "Alt+X", "Alt+H", "F1", "Shift", "Ctrl", "Tab", "CR LF"})
        QVERIFY2(text.contains(QLatin1String(key)), key);
}

void TestAbout::f1OpensHelpWhereverTheFocusIs_data()
{
    QTest::addColumn<QString>("focus");
    QTest::newRow("drive list") << QStringLiteral("Drive1");
    QTest::newRow("folder list") << QStringLiteral("Dir1");
    QTest::newRow("file list") << QStringLiteral("File1");
    QTest::newRow("text field") << QStringLiteral("numhFrames");
    QTest::newRow("write button") << QStringLiteral("Cmd_Write_File");
    QTest::newRow("exit button") << QStringLiteral("Cmd_Exit");
    QTest::newRow("check box") << QStringLiteral("chkWriteTextFile");
}

void TestAbout::f1OpensHelpWhereverTheFocusIs()
{
    QFETCH(QString, focus);

    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    QVERIFY(QFile::copy(QStringLiteral(CORVANE_HELP_SOURCE), sandbox.filePath(kHelpName)));
    CurrentFolder here(sandbox.path());

    auto window = openWindow();
    auto *target = window->findChild<QWidget *>(focus);
    QVERIFY(target);
    target->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), target);
    QVERIFY(!viewerOf(*window));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);

    HelpViewer *viewer = viewerOf(*window);
    QVERIFY(viewer);
    QCOMPARE(window->CommonDialog1->objectName(), QStringLiteral("CommonDialog1"));
    QCOMPARE(window->CommonDialog1->helpFile(), kHelpName);
    QCOMPARE(window->CommonDialog1->helpCommand(), HelpDialog::HelpCommand::Contents);
    QCOMPARE(viewer->objectName(), QStringLiteral("helpViewer"));
    QVERIFY(viewer->isWindow());
    QTRY_VERIFY(viewer->isVisible());
    QCOMPARE(viewer->shownPath(), QFileInfo(sandbox.filePath(kHelpName)).absoluteFilePath());
    QCOMPARE(viewer->browser()->documentTitle(), QStringLiteral("Corvane Help"));
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Corvane Help"));

    // The viewer does not block the main window.
    QCOMPARE(viewer->windowModality(), Qt::NonModal);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(window->isEnabled());
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->numhFrames->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(window->numhFrames));
    window->numhFrames->selectAll();
    QTest::keyClicks(window->numhFrames, QStringLiteral("4"));
    QCOMPARE(window->numhFrames->text(), QStringLiteral("4"));
}

void TestAbout::contentsMenuOpensHelp()
{
    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    QVERIFY(QFile::copy(QStringLiteral(CORVANE_HELP_SOURCE), sandbox.filePath(kHelpName)));
    CurrentFolder here(sandbox.path());

    auto window = openWindow();
    QCOMPARE(window->Contents->text(), QStringLiteral("&Contents..."));
    QCOMPARE(window->Contents->shortcut(), QKeySequence(Qt::Key_F1));

    // Alt+H opens the Help menu; its access key C chooses Contents.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(window->Help->isVisible());
    QTest::keyClick(window->Help, Qt::Key_C);
    QTRY_VERIFY(viewerOf(*window) && viewerOf(*window)->isVisible());
    QCOMPARE(viewerOf(*window)->shownPath(), QFileInfo(sandbox.filePath(kHelpName)).absoluteFilePath());
}

void TestAbout::reopeningReusesViewerAtContents()
{
    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    QVERIFY(QFile::copy(QStringLiteral(CORVANE_HELP_SOURCE), sandbox.filePath(kHelpName)));
    CurrentFolder here(sandbox.path());

    auto window = openWindow();
    window->Contents->trigger();
    QPointer<HelpViewer> first = viewerOf(*window);
    QVERIFY(first);
    QTRY_VERIFY(first->isVisible());
    QScrollBar *scroll = first->browser()->verticalScrollBar();
    QTRY_VERIFY(scroll->maximum() > 0);
    QTRY_COMPARE(topOfView(first->browser()), QStringLiteral("Corvane Help"));

    // The reader wanders off to another topic and closes the viewer; the next request
    // brings the same window back, at the contents.
    first->browser()->scrollToAnchor(QStringLiteral("writing"));
    QTRY_COMPARE(topOfView(first->browser()), QStringLiteral("Writing the strip"));
    first->close();
    QVERIFY(first);
    QVERIFY(!first->isVisible());

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    QCOMPARE(viewerOf(*window), first.data());
    QTRY_VERIFY(first->isVisible());
    QTRY_COMPARE(topOfView(first->browser()), QStringLiteral("Corvane Help"));
}

void TestAbout::missingHelpFileIsReportedByTheViewer_data()
{
    QTest::addColumn<bool>("ownFolders");
    QTest::newRow("the viewer's own folders") << false;
    QTest::newRow("folders set for the test") << true;
}

void TestAbout::missingHelpFileIsReportedByTheViewer()
{
    QFETCH(bool, ownFolders);

    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    CurrentFolder here(sandbox.path());

    auto window = openWindow();
    QStringList searched = help::defaultFolders();
    if (ownFolders) {
        searched = {sandbox.filePath(QStringLiteral("one")), sandbox.filePath(QStringLiteral("two")),
                    sandbox.filePath(QStringLiteral("three"))};
        window->CommonDialog1->setSearchFolders(searched);
    } else if (!help::findFile(kHelpName, searched).isEmpty()) {
        QSKIP("a Corvane.hlp is installed or beside the test program, so it cannot go missing here");
    }

    window->numhFrames->setText(QStringLiteral("7"));
    QWidget *focusBefore = QApplication::focusWidget();
    QTest::keyClick(focusBefore, Qt::Key_F1);

    HelpViewer *viewer = viewerOf(*window);
    QVERIFY(viewer);
    QTRY_VERIFY(viewer->isVisible());
    QVERIFY(viewer->shownPath().isEmpty());
    const QString report = viewer->browser()->toPlainText();
    QVERIFY2(report.contains(kHelpName), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("not found")), qPrintable(report));
    for (const QString &folder : std::as_const(searched))
        QVERIFY2(report.contains(QDir::toNativeSeparators(folder)), qPrintable(folder));
    // The folders are named in the order they were searched.
    QVERIFY(report.indexOf(searched[0] + u'\n') < report.indexOf(searched[1] + u'\n'));
    QVERIFY(report.indexOf(searched[1] + u'\n') < report.indexOf(searched[2]));

    // The program takes no further step: no box of its own, the window as it was and usable.
    QCOMPARE(visibleTopLevels().size(), 2);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(window->numhFrames->text(), QStringLiteral("7"));
    QVERIFY(window->isVisible());
    QVERIFY(window->isEnabled());
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->numhFrames->setFocus();
    window->numhFrames->selectAll();
    QTest::keyClicks(window->numhFrames, QStringLiteral("12"));
    QCOMPARE(window->numhFrames->text(), QStringLiteral("12"));
}

void TestAbout::unreadableHelpFileIsReportedByTheViewer()
{
    if (::geteuid() == 0)
        QSKIP("running as root, every file is readable");
    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    const QString path = sandbox.filePath(kHelpName);
    testsupport::writeFile(path, "<html><body>help</body></html>");
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));

    auto window = openWindow();
    window->CommonDialog1->setSearchFolders({sandbox.path()});
    window->Contents->trigger();
    HelpViewer *viewer = viewerOf(*window);
    QVERIFY(viewer);
    const QString report = viewer->browser()->toPlainText();
    QVERIFY2(report.contains(path), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("could not be read")), qPrintable(report));
    QVERIFY(!QApplication::activeModalWidget());
}

void TestAbout::artworkIs24Bit()
{
    const QImage emblem = artwork::emblem();
    QCOMPARE(emblem.size(), QSize(50, 50));
    QCOMPARE(emblem.format(), QImage::Format_RGB888);
    QCOMPARE(emblem.depth(), 24);
    // On black: the corners are the background.
    for (const QPoint corner : {QPoint(0, 0), QPoint(49, 0), QPoint(0, 49), QPoint(49, 49)})
        QVERIFY(isBlack(emblem.pixel(corner)));

    const QImage logo = artwork::logo();
    QCOMPARE(logo.size(), QSize(81, 81));
    QCOMPARE(logo.format(), QImage::Format_RGB888);
    QCOMPARE(logo.depth(), 24);
    // A blue ground around the strip.
    for (const QPoint p : {QPoint(1, 1), QPoint(79, 79), QPoint(1, 70)}) {
        const QColor c = logo.pixelColor(p);
        QVERIFY2(c.blue() > 2 * c.red() && c.blue() > 2 * c.green() && c.blue() > 90,
                 qPrintable(c.name()));
    }
}

void TestAbout::aboutBoxContent()
{
    auto window = openWindow();
    QCOMPARE(window->About->text(), QStringLiteral("&About Corvane..."));
    QVERIFY(!window->aboutForm());
    window->About->trigger();
    AboutForm *box = window->aboutForm();
    QVERIFY(box);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QCOMPARE(window->findChild<AboutForm *>(QStringLiteral("aboutForm")), box);

    QCOMPARE(box->windowTitle(), QStringLiteral("About Corvane"));
    QCOMPARE(box->size(), QSize(353, 264));
    QCOMPARE(box->minimumSize(), QSize(353, 264));
    QCOMPARE(box->maximumSize(), QSize(353, 264));
    const Qt::WindowFlags flags = box->windowFlags();
    QVERIFY(flags.testFlag(Qt::Dialog));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY((box->geometry().center() - window->geometry().center()).manhattanLength() <= 2);
    QCOMPARE(box->windowIcon().pixmap(32, 32).toImage(), window->windowIcon().pixmap(32, 32).toImage());
    QVERIFY(!window->windowIcon().isNull());

    auto *picture1 = box->findChild<QLabel *>(QStringLiteral("Picture1"));
    auto *picture2 = box->findChild<QLabel *>(QStringLiteral("Picture2"));
    auto *title = box->findChild<QLabel *>(QStringLiteral("title"));
    auto *ok = box->findChild<QPushButton *>(QStringLiteral("aboutOK"));
    QVERIFY(picture1 && picture2 && title && ok);
    QCOMPARE(box->findChildren<QPushButton *>().size(), 1);

    QCOMPARE(picture1->geometry(), QRect(16, 8, 50, 50));
    QCOMPARE(picture1->frameShape(), QFrame::NoFrame);
    QCOMPARE(picture1->pixmap().size(), QSize(50, 50));
    QCOMPARE(picture2->geometry(), QRect(24, 72, 85, 79));
    QCOMPARE(picture2->frameShape(), QFrame::Box);
    QVERIFY(picture2->lineWidth() > 0);
    QCOMPARE(picture2->pixmap().size(), QSize(81, 81));
    QCOMPARE(picture2->palette().color(QPalette::Window), QColor(Qt::black));

    QCOMPARE(title->text(), QStringLiteral("Corvane v1.0"));
    QCOMPARE(title->geometry(), QRect(120, 88, 163, 19));
    QCOMPARE(title->font().family(), QStringLiteral("Times New Roman"));
    QCOMPARE(title->font().styleHint(), QFont::Serif);
    QCOMPARE(title->font().pointSizeF(), 12.0);
    QVERIFY(title->font().bold());
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    QCOMPARE(title->palette().color(QPalette::Window), QColor(Qt::black));

    QCOMPARE(ok->text(), QStringLiteral("Ok"));
    QCOMPARE(ok->geometry(), QRect((353 - 105) / 2, 232, 105, 25));
    QCOMPARE(ok->font().family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    QCOMPARE(ok->font().pointSizeF(), 9.75);
    QVERIFY(ok->font().bold());

    // What is on the screen: black ground, the emblem's black corner, the logo's blue inside
    // its border, yellow title text.
    const QImage shot = box->grab().toImage();
    QCOMPARE(shot.size(), QSize(353, 264) * box->devicePixelRatio());
    for (const QPoint p : {QPoint(5, 5), QPoint(340, 30), QPoint(200, 200), QPoint(16, 8)})
        QVERIFY2(isBlack(shot.pixel(p)), qPrintable(QColor(shot.pixel(p)).name()));
    const QColor inLogo = shot.pixelColor(24 + 4, 72 + 4);
    QVERIFY2(inLogo.blue() > 2 * inLogo.red(), qPrintable(inLogo.name()));
    bool yellow = false;
    for (int y = 88; y < 107 && !yellow; ++y) {
        for (int x = 120; x < 283 && !yellow; ++x) {
            const QColor c = shot.pixelColor(x, y);
            yellow = c.red() > 200 && c.green() > 200 && c.blue() < 60;
        }
    }
    QVERIFY(yellow);

    ok->click();
}

void TestAbout::aboutBoxIsModal()
{
    auto window = openWindow();
    window->About->trigger();
    AboutForm *box = window->aboutForm();
    QVERIFY(box);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget *>(box));
    QTRY_VERIFY(box->isActiveWindow());

    // Input reaching the main window through the window system is refused while the box shows.
    QWindow *handle = window->windowHandle();
    QTest::keyClick(handle, Qt::Key_F1);
    QVERIFY(!viewerOf(*window));
    QTest::keyClick(handle, Qt::Key_X, Qt::AltModifier);
    QTest::mouseClick(handle, Qt::LeftButton, {}, window->Cmd_Exit->mapTo(window.get(), QPoint(10, 10)));
    QVERIFY(window->isVisible());
    QVERIFY(box->isVisible());
    // Esc in the box does nothing: it has no cancel button.
    QTest::keyClick(box, Qt::Key_Escape);
    QVERIFY(box->isVisible());

    QTest::mouseClick(box->aboutOK, Qt::LeftButton);
    QVERIFY(!box->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    QTRY_VERIFY(window->isActiveWindow());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    QVERIFY(viewerOf(*window));
}

void TestAbout::okHidesBoxAndNextShowingReusesIt()
{
    auto window = openWindow();
    window->About->trigger();
    QPointer<AboutForm> first = window->aboutForm();
    QVERIFY(first);
    QTRY_VERIFY(first->isActiveWindow());
    QTest::mouseClick(first->aboutOK, Qt::LeftButton);
    QVERIFY(first);
    QVERIFY(!first->isVisible());
    QTRY_VERIFY(window->isActiveWindow());

    window->About->trigger();
    QCOMPARE(window->aboutForm(), first.data());
    QTRY_VERIFY(first->isVisible());
    QCOMPARE(first->title->text(), QStringLiteral("Corvane v1.0"));
    QCOMPARE(first->Picture2->pixmap().size(), QSize(81, 81));
    QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget *>(first.data()));
    QTRY_VERIFY(first->isActiveWindow());
    // Enter presses the box's only button.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!first->isVisible());
    QTRY_VERIFY(window->isActiveWindow());
    QVERIFY(first);
}

void TestAbout::closeButtonDiscardsBox()
{
    auto window = openWindow();
    window->About->trigger();
    QPointer<AboutForm> first = window->aboutForm();
    QVERIFY(first);
    first->setProperty("shownBefore", true);
    QTRY_VERIFY(first->isActiveWindow());

    QVERIFY(first->close());
    QTRY_VERIFY(!first);
    QVERIFY(!window->aboutForm());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(window->isVisible());
    QTRY_VERIFY(window->isActiveWindow());

    window->About->trigger();
    AboutForm *second = window->aboutForm();
    QVERIFY(second);
    QVERIFY(!second->property("shownBefore").isValid());
    QTRY_VERIFY(second->isVisible());
    QCOMPARE(second->title->text(), QStringLiteral("Corvane v1.0"));
    QTest::mouseClick(second->aboutOK, Qt::LeftButton);
    QTRY_VERIFY(window->isActiveWindow());
}

void TestAbout::everyExitRouteEndsProgramAfterAbout_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("closeBox"); // the box was ended by its close button, not "Ok"
    QTest::addColumn<bool>("withHelp"); // the help viewer is still open

    for (const char *route : {"Exit button", "Exit menu", "Alt+X", "window close"}) {
        QTest::addRow("%s after Ok", route) << QString::fromLatin1(route) << false << false;
        QTest::addRow("%s after close button", route) << QString::fromLatin1(route) << true << false;
    }
    QTest::addRow("window close with help open") << QStringLiteral("window close") << false << true;
    QTest::addRow("Alt+X with help open") << QStringLiteral("Alt+X") << false << true;
}

void TestAbout::everyExitRouteEndsProgramAfterAbout()
{
    QFETCH(QString, route);
    QFETCH(bool, closeBox);
    QFETCH(bool, withHelp);

    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    CurrentFolder here(sandbox.path());

    auto window = openWindow();
    if (withHelp) {
        window->Contents->trigger();
        QTRY_VERIFY(viewerOf(*window)->isVisible());
    }
    window->About->trigger();
    QPointer<AboutForm> box = window->aboutForm();
    QVERIFY(box);
    QTRY_VERIFY(box->isActiveWindow());
    if (closeBox) {
        box->close();
        QTRY_VERIFY(!box);
    } else {
        QTest::mouseClick(box->aboutOK, Qt::LeftButton);
    }
    QTRY_VERIFY(window->isActiveWindow());

    // Run the program's own event loop: it must end by itself once the route is taken.
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    QTimer::singleShot(0, window.get(), [&] {
        if (route == QLatin1String("Exit button"))
            QTest::mouseClick(window->Cmd_Exit, Qt::LeftButton);
        else if (route == QLatin1String("Exit menu"))
            window->Exit->trigger();
        else if (route == QLatin1String("Alt+X"))
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::AltModifier);
        else
            window->close();
    });
    // Only a guard against hanging the whole test run; the program is expected to end long before.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(60000);
    const int code = QApplication::exec();
    guard.stop();

    QCOMPARE(code, 0);
    QCOMPARE(quitting.size(), 1);
    QVERIFY(!window->isVisible());

    // What was left of the about box and the viewer goes with the main window.
    QPointer<HelpViewer> viewer = viewerOf(*window);
    window.reset();
    QVERIFY(!box);
    QVERIFY(!viewer);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
