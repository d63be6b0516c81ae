// The main window as the user meets it: its elements, keys, hidden surfaces and every way out.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include <type_traits>

#include "app/mainwindow.h"
#include "browse/core/reader.h"
#include "browse/widgets/drivelist.h"
#include "browse/widgets/filelist.h"
#include "browse/widgets/folderlist.h"
#include "picture/pixels/surface.h"
#include "tests/support/scriptedprompts.h"

static_assert(std::is_same_v<decltype(MainWindow::MAX_IMAGES), qint16>);
static_assert(std::is_same_v<decltype(MainWindow::bmp_width), qint16>);
static_assert(std::is_same_v<decltype(MainWindow::bmp_height), qint16>);

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;
    ScriptedPrompts *prompts = nullptr;
    QTemporaryDir home;

    QWidget *element(const char *name) const
    {
        auto *w = window->findChild<QWidget *>(QLatin1String(name));
        if (!w)
            qWarning("no element %s", name);
        return w;
    }

    // Runs the event loop until the program quits; true when it did so within a few seconds.
    static bool endsProgram(const std::function<void()> &action)
    {
        QTimer::singleShot(0, action);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        return QCoreApplication::exec() == 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        QDir::setCurrent(home.path());
        browse::setReadWait(std::chrono::hours(1)); // every list filled before it is looked at
    }

    void init()
    {
        window = std::make_unique<MainWindow>();
        auto p = std::make_unique<ScriptedPrompts>();
        prompts = p.get();
        window->setPrompts(std::move(p));
        window->show();
        window->activateWindow(); // without a window manager nobody else gives it the focus
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void cleanup() { window.reset(); }

    void windowFrame()
    {
        QCOMPARE(window->objectName(), QStringLiteral("Corvane"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Corvane"));
        QCOMPARE(window->centralWidget()->size(), QSize(635, 388));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!window->windowIcon().isNull());
        const QSize iconSize = window->windowIcon().availableSizes().value(0);
        QCOMPARE(iconSize, QSize(32, 32));

        const QRect screen = window->screen()->availableGeometry();
        const QPoint offset = window->frameGeometry().center() - screen.center();
        QVERIFY2(qAbs(offset.x()) <= 16 && qAbs(offset.y()) <= 32, "the window opens centred on its screen");
    }

    void icon16Colours()
    {
        const QImage icon = window->windowIcon().pixmap(32, 32).toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                colours.insert(icon.pixel(x, y));
        QVERIFY2(colours.size() <= 16, qPrintable(QString::number(colours.size())));
    }

    void elements_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qreal>("points");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QString>("tooltip");
        // name, geometry, text, font size, bold, tooltip
        QTest::newRow("Drive1") << "Drive1" << QRect(8, 8, 193, 21) << "" << 8.25 << false << "";
        QTest::newRow("Dir1") << "Dir1" << QRect(8, 40, 193, 336) << "" << 8.25 << false << "";
        QTest::newRow("File1") << "File1" << QRect(208, 8, 150, 370) << "" << 8.25 << false << "";
        QTest::newRow("numhFrames") << "numhFrames" << QRect(544, 288, 41, 24) << "10" << 9.75 << true << "";
        QTest::newRow("Cmd_Write_File") << "Cmd_Write_File" << QRect(368, 328, 161, 25) << "&Write Image Strip" << 8.25
                                        << true << "";
        QTest::newRow("Cmd_Exit") << "Cmd_Exit" << QRect(536, 328, 73, 25) << "E&xit" << 8.25 << true
                                  << "Exit the program";
        QTest::newRow("chkWriteTextFile")
            << "chkWriteTextFile" << QRect(376, 360, 153, 17) << "Write .txt help file?" << 9.75 << true
            << "Clicking this will cause a .txt file to be written with the name of the image, # of Horizontal & Total Frames.";
        QTest::newRow("lblpreview") << "lblpreview" << QRect(368, 8, 239, 21) << "Preview of selected image:" << 9.75
                                    << true << "";
        QTest::newRow("Open") << "Open" << QRect(368, 32, 240, 240) << "" << -1.0 << false << "";
        QTest::newRow("lblnumframes") << "lblnumframes" << QRect(384, 288, 147, 21) << "# Horizontal Frames:" << 9.75
                                      << true << "";
    }

    void elements()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(qreal, points);
        QFETCH(bool, bold);
        QFETCH(QString, tooltip);

        QWidget *w = element(name.toLatin1().constData());
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        QVERIFY(w->isVisible());
        QVERIFY(w->isEnabled());
        QCOMPARE(w->toolTip(), tooltip);
        if (points > 0) {
            QCOMPARE(w->font().pointSizeF(), points);
            QCOMPARE(w->font().bold(), bold);
        }
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            QCOMPARE(button->text(), text);
        else if (auto *edit = qobject_cast<QLineEdit *>(w))
            QCOMPARE(edit->text(), text);
        else if (auto *label = qobject_cast<QLabel *>(w))
            QCOMPARE(label->text(), text);
    }

    void startState()
    {
        QCOMPARE(QApplication::focusWidget(), element("Drive1"));
        QCOMPARE(window->chkWriteTextFile->checkState(), Qt::Unchecked);
        QVERIFY(window->Open->pixmap().isNull());
        QVERIFY(window->File1->selectionModel()->selectedIndexes().isEmpty());
        QCOMPARE(window->File1->pattern(), QStringLiteral("*.BMP;*.gif;*.ico;*.jpg;*.jpeg"));
        QCOMPARE(window->File1->path(), QDir::currentPath());
        QCOMPARE(window->Dir1->path(), QDir::currentPath());
        QCOMPARE(window->MAX_IMAGES, qint16(100));
        for (QPushButton *b : {window->Cmd_Write_File, window->Cmd_Exit}) {
            QVERIFY(!b->isDefault());
            QVERIFY(!b->autoDefault());
        }
    }

    void colours()
    {
        const QColor menuBar = MainWindow::menuBarColor();
        QCOMPARE(window->centralWidget()->palette().color(QPalette::Window), menuBar);
        for (QLabel *label : {window->lblpreview, window->lblnumframes}) {
            QCOMPARE(label->palette().color(label->backgroundRole()), menuBar);
            QCOMPARE(label->palette().color(QPalette::WindowText), MainWindow::menuTextColor());
        }
        QCOMPARE(window->Image_strip->background(), menuBar);
        QCOMPARE(window->clearimage->background(), menuBar);
    }

    void menus()
    {
        // The menu bar's actions are found by their names.
        const std::pair<const char *, QAction *> named[] = {
            {"Exit", window->Exit}, {"Help", window->Help->menuAction()}, {"Contents", window->Contents}, {"About", window->About}};
        for (const auto &[name, action] : named)
            QCOMPARE(window->findChild<QAction *>(QLatin1String(name)), action);
        QCOMPARE(window->Exit->text(), QStringLiteral("E&xit"));
        QVERIFY(window->menuBar()->actions().contains(window->Exit));
        QCOMPARE(window->menuBar()->actions().indexOf(window->Exit), 0);
        QCOMPARE(window->Help->title(), QStringLiteral("&Help"));
        QCOMPARE(window->menuBar()->actions().indexOf(window->Help->menuAction()), 1);
        QCOMPARE(window->Help->actions(), (QList<QAction *>{window->Contents, window->About}));
        QCOMPARE(window->Contents->text(), QStringLiteral("&Contents..."));
        QCOMPARE(window->Contents->shortcut(), QKeySequence(Qt::Key_F1));
        QCOMPARE(window->About->text(), QStringLiteral("&About Corvane..."));
    }

    void tabCyclesThroughSevenElements()
    {
        const QStringList order = {QStringLiteral("Dir1"), QStringLiteral("File1"), QStringLiteral("numhFrames"),
                                   QStringLiteral("Cmd_Write_File"), QStringLiteral("Cmd_Exit"),
                                   QStringLiteral("chkWriteTextFile"), QStringLiteral("Drive1")};
        for (const QString &next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }
        QStringList back = order;
        std::reverse(back.begin(), back.end());
        back.removeFirst();
        back.append(QStringLiteral("Drive1"));
        for (const QString &previous : back) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), previous);
        }
    }

    void enterAndEscapeDoNothing()
    {
        window->numhFrames->setFocus();
        QTest::keyClick(window->numhFrames, Qt::Key_Return);
        QTest::keyClick(window->numhFrames, Qt::Key_Enter);
        QTest::keyClick(window->numhFrames, Qt::Key_Escape);
        window->Cmd_Exit->setFocus();
        QTest::keyClick(window->Cmd_Exit, Qt::Key_Return);
        QTest::keyClick(window->Cmd_Exit, Qt::Key_Escape);
        QCoreApplication::processEvents();
        QVERIFY(prompts->shown.isEmpty());
        QVERIFY(window->isVisible());
        QCOMPARE(window->numhFrames->text(), QStringLiteral("10"));
    }

    void hiddenSurfacesNeverShown()
    {
        const auto holders = window->findChildren<picture::PictureHolder *>(QStringLiteral("theFrame"));
        QCOMPARE(holders.size(), 102);
        for (int i = 0; i < MainWindow::kFrameHolders; ++i) {
            QCOMPARE(window->theFrame[i]->index(), i);
            QCOMPARE(window->theFrame[i]->width(), 10);
            QCOMPARE(window->theFrame[i]->height(), 10);
        }
        QCOMPARE(window->Image_strip->objectName(), QStringLiteral("Image_strip"));
        QCOMPARE(QSize(window->Image_strip->width(), window->Image_strip->height()), QSize(32, 25));
        QCOMPARE(QSize(window->clearimage->width(), window->clearimage->height()), QSize(32, 25));
        // They are not widgets at all, so no code path can put them on the screen.
        for (const char *name : {"theFrame", "Image_strip", "clearimage"})
            QVERIFY(!window->findChild<QWidget *>(QLatin1String(name)));
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!w->isVisible() || w == window.get());
    }

    void exitRoutes_data()
    {
        QTest::addColumn<QString>("route");
        QTest::newRow("button") << "button";
        QTest::newRow("menu") << "menu";
        QTest::newRow("alt-x") << "alt-x";
        QTest::newRow("alt-x from the field") << "alt-x-field";
        QTest::newRow("title-bar close") << "close";
    }

    void exitRoutes()
    {
        QFETCH(QString, route);
        MainWindow *w = window.get();
        const bool ended = endsProgram([w, route] {
            if (route == u"button")
                QTest::mouseClick(w->Cmd_Exit, Qt::LeftButton);
            else if (route == u"menu")
                w->Exit->trigger();
            else if (route == u"alt-x")
                QTest::keyClick(w->Drive1, Qt::Key_X, Qt::AltModifier);
            else if (route == u"alt-x-field")
                QTest::keyClick(w->numhFrames, Qt::Key_X, Qt::AltModifier);
            else
                w->close();
        });
        QVERIFY2(ended, "the program ends");
        QVERIFY(!w->isVisible());
    }

    void altHOpensTheHelpMenu()
    {
        window->numhFrames->setFocus();
        QTest::keyClick(window->numhFrames, Qt::Key_H, Qt::AltModifier);
        QTRY_VERIFY(window->Help->isVisible());
        QTest::keyClick(window->Help, Qt::Key_Escape);
        QTRY_VERIFY(!window->Help->isVisible());
        QVERIFY(prompts->shown.isEmpty());
    }

    void altWPressesWrite()
    {
        // With nothing selected the command ends on its own message.
        QTest::keyClick(window->Drive1, Qt::Key_W, Qt::AltModifier);
        // A mnemonic presses the button the way a click does, after its short press animation.
        QTRY_COMPARE(prompts->texts(), QStringList{QStringLiteral("No images were selected!")});
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
