// The drive, folder and file lists kept in step, the selection gestures and the preview,
// on the real window with real files.

#include <QApplication>
#include <QLabel>
#include <QTreeWidget>
#include <QtEndian>
#include <QtTest>

#include <condition_variable>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

#include "app/mainwindow.h"
#include "browse/widgets/drivelist.h"
#include "browse/widgets/filelist.h"
#include "browse/widgets/folderlist.h"
#include "browse/core/reader.h"
#include "picture/base/nativepath.h"
#include "picture/source/picture.h"
#include "tests/support/scriptedprompts.h"
#include "tests/support/testsupport.h"

namespace {

// Stands in for a mount that answers late or never: a reading of the held folder waits until
// the gate opens. It counts the readings held at once.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    QString held;
    bool open = false;
    int waiting = 0;
    int mostWaiting = 0;

    void pass(const QString &folder)
    {
        std::unique_lock lock(mutex);
        mostWaiting = std::max(mostWaiting, ++waiting);
        opened.wait(lock, [&] { return open || folder != held; });
        --waiting;
    }
    void release()
    {
        const std::lock_guard lock(mutex);
        open = true;
        opened.notify_all();
    }
    int most()
    {
        const std::lock_guard lock(mutex);
        return mostWaiting;
    }
};

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir sandbox;
    std::unique_ptr<MainWindow> window;

    QString folder(const QString &name) const
    {
        const QString path = QDir(sandbox.path()).filePath(name);
        QDir().mkpath(path);
        return QDir(path).canonicalPath();
    }

    static void savePicture(const QString &path, const QImage &image)
    {
        QVERIFY2(image.save(path, "BMP"), qPrintable(path));
    }

    // Opens path and waits for both lists, however long the folder takes to read.
    void openFolder(const QString &path)
    {
        window->Dir1->setPath(window->Drive1->rootPath(), path);
        settle();
        QCOMPARE(window->Dir1->path(), path);
    }

    void settle() const
    {
        QTRY_VERIFY_WITH_TIMEOUT(!window->Dir1->isReading() && !window->File1->isReading(), 60000);
    }

    QTreeWidgetItem *folderItem(const QString &text) const
    {
        return window->Dir1->findItems(text, Qt::MatchExactly | Qt::MatchRecursive).value(0);
    }

    QPoint itemCentre(int row) const
    {
        window->File1->scrollTo(window->File1->model()->index(row, 0));
        return window->File1->visualRect(window->File1->model()->index(row, 0)).center();
    }

    void click(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(window->File1->viewport(), Qt::LeftButton, modifiers, itemCentre(row));
        awaitPreview();
    }

    // The preview, decoded away from the window, is shown.
    void awaitPreview() const { QVERIFY(QTest::qWaitFor([this] { return window->previewSettled(); }, 10000)); }

    // A user's double-click: the first click's press and release, then the double-click.
    static void doubleClick(QWidget *viewport, QPoint at)
    {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    }

    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (int i = 0; i < window->File1->count(); ++i)
            if (window->File1->isSelected(i))
                rows.append(i);
        return rows;
    }

    QColor previewPixel(int x, int y) const
    {
        awaitPreview();
        return window->Open->pixmap().toImage().pixelColor(x, y);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox.isValid());
        QDir::setCurrent(folder(QStringLiteral("start")));
        browse::setReadWait(std::chrono::hours(1)); // only the slow-folder test goes on without a reading
    }

    void init()
    {
        window = std::make_unique<MainWindow>();
        window->setPrompts(std::make_unique<ScriptedPrompts>());
        window->show();
        window->activateWindow(); // without a window manager nobody else gives it the focus
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void cleanup() { window.reset(); }

    void startsOnTheCurrentFolder()
    {
        QCOMPARE(window->Dir1->path(), QDir::currentPath());
        QCOMPARE(window->File1->path(), QDir::currentPath());
        QCOMPARE(window->Drive1->rootPath(),
                 window->Drive1->itemData(browse::driveIndexFor(browse::drives(), QDir::currentPath())).toString());
    }

    void listsTheExampleFolderInOrder()
    {
        const QString dir = folder(QStringLiteral("example"));
        for (const char *name : {"a.BMP", "b.bmp", "c.Gif", "d.ICO", "e.jpeg", "f.JPG", "g.png", "h.tif", "i.jpe"})
            testsupport::writeFile(QDir(dir).filePath(QLatin1String(name)), "x");
        openFolder(dir);
        QCOMPARE(window->File1->path(), dir);
        QCOMPARE(window->File1->names(), (QStringList{QStringLiteral("a.BMP"), QStringLiteral("b.bmp"), QStringLiteral("c.Gif"),
                                                      QStringLiteral("d.ICO"), QStringLiteral("e.jpeg"), QStringLiteral("f.JPG")}));

        // What it lists goes by its pattern.
        window->File1->setPattern(QStringLiteral("*.PNG;h*"));
        QCOMPARE(window->File1->names(), (QStringList{QStringLiteral("g.png"), QStringLiteral("h.tif")}));
    }

    void selectionGesturesAndPreview()
    {
        const QString dir = folder(QStringLiteral("gestures"));
        const QList<QColor> colours = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan};
        for (int i = 0; i < colours.size(); ++i)
            savePicture(QDir(dir).filePath(QStringLiteral("p%1.bmp").arg(i)), testsupport::solid(20, 20, colours[i]));
        openFolder(dir);

        click(1);
        QCOMPARE(selectedRows(), QList<int>{1});
        QCOMPARE(previewPixel(120, 120), QColor(Qt::green));

        click(3, Qt::ShiftModifier);
        QCOMPARE(selectedRows(), (QList<int>{1, 2, 3}));
        QCOMPARE(previewPixel(0, 0), QColor(Qt::yellow));

        click(0, Qt::ControlModifier);
        QCOMPARE(selectedRows(), (QList<int>{0, 1, 2, 3}));
        QCOMPARE(previewPixel(0, 0), QColor(Qt::red));

        // A Ctrl-click that deselects still previews the file it was on.
        click(2, Qt::ControlModifier);
        QCOMPARE(selectedRows(), (QList<int>{0, 1, 3}));
        QCOMPARE(previewPixel(239, 239), QColor(Qt::blue));

        // The arrow keys preview every file they reach.
        click(0);
        for (int i = 1; i < colours.size(); ++i) {
            QTest::keyClick(window->File1, Qt::Key_Down);
            QCOMPARE(window->File1->currentPosition(), i);
            QCOMPARE(previewPixel(5, 5), colours[i]);
        }
        QTest::keyClick(window->File1, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(selectedRows(), (QList<int>{3, 4}));
        QCOMPARE(previewPixel(5, 5), colours[3]);
    }

    void tabbingInPreviewsAndSelectsNothing()
    {
        const QString dir = folder(QStringLiteral("tabbing"));
        savePicture(QDir(dir).filePath(QStringLiteral("only.bmp")), testsupport::solid(8, 8, Qt::red));
        openFolder(dir);
        window->Dir1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(window->Dir1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window->File1);
        QVERIFY(selectedRows().isEmpty());
        QVERIFY(window->Open->pixmap().isNull());
    }

    void previewStretchesToTheWholeArea_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("100 x 50 stretched") << QSize(100, 50) << QByteArray("BMP");
        QTest::newRow("40 x 30 pixel art enlarged") << QSize(40, 30) << QByteArray("BMP");
        QTest::newRow("1000 x 1000 reduced") << QSize(1000, 1000) << QByteArray("BMP");
        QTest::newRow("4000 x 3000 photo reduced") << QSize(4000, 3000) << QByteArray("JPEG");
    }

    void previewStretchesToTheWholeArea()
    {
        QFETCH(QSize, size);
        QFETCH(QByteArray, format);
        const QString dir = folder(QStringLiteral("stretch-%1").arg(size.width()));
        // Left half red, right half blue: after stretching the boundary sits in the middle.
        QImage image = testsupport::solid(size.width(), size.height(), Qt::red);
        for (int y = 0; y < size.height(); ++y)
            for (int x = size.width() / 2; x < size.width(); ++x)
                image.setPixelColor(x, y, Qt::blue);
        QVERIFY(image.save(QDir(dir).filePath(QStringLiteral("pic.") + QString::fromLatin1(format).toLower()), format));
        openFolder(dir);
        click(0);
        const QImage shown = window->Open->pixmap().toImage();
        QCOMPARE(shown.size(), QSize(240, 240));
        QCOMPARE(window->Open->size(), QSize(240, 240));
        QVERIFY(window->Open->hasScaledContents());
        const int tolerance = format == "JPEG" ? 24 : 0;
        for (int y : {0, 120, 239}) {
            QVERIFY(testsupport::firstDifference(shown.copy(2, y, 1, 1), testsupport::solid(1, 1, Qt::red), tolerance).isEmpty());
            QVERIFY(testsupport::firstDifference(shown.copy(237, y, 1, 1), testsupport::solid(1, 1, Qt::blue), tolerance).isEmpty());
        }
        // Enlarged, every pixel keeps a colour of the picture: no blur where red meets blue.
        if (size.width() < 240 && size.height() < 240) {
            for (int x = 0; x < 240; ++x)
                QVERIFY2(shown.pixelColor(x, 100) == QColor(Qt::red) || shown.pixelColor(x, 100) == QColor(Qt::blue),
                         qPrintable(QString::number(x)));
        }
    }

    void previewKeepsLastPictureAcrossFolderChanges()
    {
        const QString dir = folder(QStringLiteral("keep"));
        const QString sub = folder(QStringLiteral("keep/sub"));
        savePicture(QDir(dir).filePath(QStringLiteral("one.bmp")), testsupport::solid(8, 8, Qt::magenta));
        testsupport::writeFile(QDir(sub).filePath(QStringLiteral("two.gif")), "x");
        openFolder(dir);
        click(0);
        QCOMPARE(previewPixel(1, 1), QColor(Qt::magenta));

        // A double-click on the subfolder opens it: new files, nothing selected, preview kept.
        QTreeWidgetItem *subItem = window->Dir1->findItems(QStringLiteral("sub"), Qt::MatchExactly | Qt::MatchRecursive).value(0);
        QVERIFY(subItem);
        const QPoint at = window->Dir1->visualItemRect(subItem).center();
        doubleClick(window->Dir1->viewport(), at);
        QCOMPARE(window->Dir1->path(), sub);
        QCOMPARE(window->File1->path(), sub);
        QCOMPARE(window->File1->names(), QStringList{QStringLiteral("two.gif")});
        QVERIFY(selectedRows().isEmpty());
        QCOMPARE(window->File1->currentPosition(), -1);
        QCOMPARE(previewPixel(1, 1), QColor(Qt::magenta));

        window->File1->refresh();
        QCOMPARE(previewPixel(1, 1), QColor(Qt::magenta));
    }

    void singleClickInFolderListChangesNothing()
    {
        const QString dir = folder(QStringLiteral("single"));
        folder(QStringLiteral("single/inner"));
        savePicture(QDir(dir).filePath(QStringLiteral("one.bmp")), testsupport::solid(8, 8, Qt::cyan));
        openFolder(dir);
        click(0);
        QTreeWidgetItem *inner = window->Dir1->findItems(QStringLiteral("inner"), Qt::MatchExactly | Qt::MatchRecursive).value(0);
        QVERIFY(inner);
        QTest::mouseClick(window->Dir1->viewport(), Qt::LeftButton, {}, window->Dir1->visualItemRect(inner).center());
        QCoreApplication::processEvents();
        QCOMPARE(window->Dir1->path(), dir);
        QCOMPARE(window->File1->path(), dir);
        QCOMPARE(selectedRows(), QList<int>{0});
        QCOMPARE(previewPixel(1, 1), QColor(Qt::cyan));

        // Enter opens the highlighted folder, as a double-click does.
        QTest::keyClick(window->Dir1, Qt::Key_Return);
        QCOMPARE(window->File1->path(), QDir(dir).filePath(QStringLiteral("inner")));
    }

    void driveChangeMovesFolderAndFilesInOneStep()
    {
        const QString other = folder(QStringLiteral("otherdrive"));
        testsupport::writeFile(QDir(other).filePath(QStringLiteral("x.jpg")), "x");
        const QString gone = QDir(sandbox.path()).filePath(QStringLiteral("no-such-drive"));
        window->Drive1->setDrives({{QStringLiteral("/"), QStringLiteral("/")}, {other, other}, {gone, gone}}, 0);

        window->Drive1->setCurrentIndex(1);
        // The current folder does not lie on that drive, so it opens on the drive's root.
        QCOMPARE(window->Dir1->path(), other);
        QCOMPARE(window->File1->path(), other);
        QCOMPARE(window->File1->names(), QStringList{QStringLiteral("x.jpg")});

        // A drive that cannot be read leaves every list where it was, and usable.
        window->Drive1->setCurrentIndex(2);
        QCOMPARE(window->Drive1->currentIndex(), 1);
        QCOMPARE(window->Dir1->path(), other);
        QCOMPARE(window->File1->path(), other);

        window->Drive1->setCurrentIndex(0);
        QCOMPARE(window->Dir1->path(), QDir::currentPath());
        QCOMPARE(window->File1->path(), QDir::currentPath());
    }

    void unreadableFolderKeepsTheLists()
    {
        const QString dir = folder(QStringLiteral("vanish"));
        const QString doomed = folder(QStringLiteral("vanish/doomed"));
        openFolder(dir);
        QVERIFY(QDir(doomed).removeRecursively());
        QTreeWidgetItem *item = window->Dir1->findItems(QStringLiteral("doomed"), Qt::MatchExactly | Qt::MatchRecursive).value(0);
        QVERIFY(item);
        doubleClick(window->Dir1->viewport(), window->Dir1->visualItemRect(item).center());
        QCOMPARE(window->Dir1->path(), dir);
        QCOMPARE(window->File1->path(), dir);
        QCOMPARE(window->Dir1->currentItem()->text(0), QStringLiteral("vanish"));
    }

    // Bitmaps whose info header holds their masks (52 bytes: RGB, 56: RGB and alpha) preview as
    // other bitmaps do.
    void previewOfBitmapHeadersWithMasks_data()
    {
        QTest::addColumn<int>("headerSize");
        QTest::newRow("52 bytes") << 52;
        QTest::newRow("56 bytes") << 56;
    }

    void previewOfBitmapHeadersWithMasks()
    {
        QFETCH(int, headerSize);
        const QString dir = folder(QStringLiteral("masks-%1").arg(headerSize));
        QByteArray info(headerSize, '\0');
        uchar *p = reinterpret_cast<uchar *>(info.data());
        qToLittleEndian<quint32>(quint32(headerSize), p);
        qToLittleEndian<qint32>(2, p + 4);
        qToLittleEndian<qint32>(2, p + 8);
        qToLittleEndian<quint16>(1, p + 12);
        qToLittleEndian<quint16>(32, p + 14);
        qToLittleEndian<quint32>(3, p + 16); // bit fields
        const quint32 masks[] = {0x00ff0000u, 0x0000ff00u, 0x000000ffu, 0xff000000u};
        for (int i = 0; 40 + 4 * i < headerSize; ++i)
            qToLittleEndian<quint32>(masks[i], p + 40 + 4 * i);
        QByteArray file("BM");
        file += QByteArray(12, '\0');
        qToLittleEndian<quint32>(quint32(14 + headerSize + 16), file.data() + 2);
        qToLittleEndian<quint32>(quint32(14 + headerSize), file.data() + 10);
        file += info;
        for (int i = 0; i < 4; ++i)
            file += QByteArray("\x00\x00\xff\xff", 4); // opaque red, B G R A
        testsupport::writeFile(QDir(dir).filePath(QStringLiteral("masks.bmp")), file);
        openFolder(dir);
        click(0);
        QVERIFY2(window->Open->toolTip().isEmpty(), qPrintable(window->Open->toolTip()));
        QCOMPARE(previewPixel(120, 120), QColor(Qt::red));
    }

    // A large picture is decoded while the window answers: a timer keeps ticking, and a click
    // on another picture meanwhile wins; the large one, stale by then, is never shown.
    void previewDecodesAwayFromTheWindow()
    {
        const QString dir = folder(QStringLiteral("large"));
        savePicture(QDir(dir).filePath(QStringLiteral("a-large.bmp")), testsupport::solid(3000, 2000, Qt::blue));
        savePicture(QDir(dir).filePath(QStringLiteral("b-small.bmp")), testsupport::solid(8, 8, Qt::red));
        openFolder(dir);
        int ticksWhileDecoding = 0;
        bool staleShown = false;
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, this, [&] {
            if (!window->previewSettled())
                ++ticksWhileDecoding;
            const QPixmap shown = window->Open->pixmap();
            staleShown = staleShown || (!shown.isNull() && shown.toImage().pixelColor(0, 0) == QColor(Qt::blue));
        });
        ticks.start(0);
        QTest::mouseClick(window->File1->viewport(), Qt::LeftButton, {}, itemCentre(0));
        QTest::mouseClick(window->File1->viewport(), Qt::LeftButton, {}, itemCentre(1));
        awaitPreview();
        QVERIFY(window->File1->isSelected(1));
        // One decode runs at a time, in the order asked: the large picture's result came, and was
        // dropped, before the small one's.
        ticks.stop();
        QVERIFY(ticksWhileDecoding > 0);
        QVERIFY(!staleShown);
        QCOMPARE(previewPixel(0, 0), QColor(Qt::red));
    }

    void brokenOrVanishedPictureClearsThePreview()
    {
        const QString dir = folder(QStringLiteral("broken"));
        savePicture(QDir(dir).filePath(QStringLiteral("a-good.bmp")), testsupport::solid(8, 8, Qt::red));
        testsupport::writeFile(QDir(dir).filePath(QStringLiteral("b-broken.jpg")), "not a picture at all");
        savePicture(QDir(dir).filePath(QStringLiteral("c-gone.bmp")), testsupport::solid(8, 8, Qt::blue));
        openFolder(dir);
        click(0);
        QVERIFY(!window->Open->pixmap().isNull());
        click(1);
        QVERIFY(window->Open->pixmap().isNull());
        QVERIFY(window->Open->toolTip().contains(QStringLiteral("b-broken.jpg")));
        QVERIFY(QFile::remove(QDir(dir).filePath(QStringLiteral("c-gone.bmp"))));
        click(2);
        QVERIFY(window->Open->pixmap().isNull());
        click(0);
        QCOMPARE(previewPixel(0, 0), QColor(Qt::red));
    }

    void oddNamesPreview()
    {
        const QString dir = folder(QStringLiteral("odd"));
        const QStringList names = {QStringLiteral("-dash.bmp"), QStringLiteral("Twin.bmp"), QStringLiteral("twin.bmp"),
                                   QStringLiteral("with space.bmp"), QStringLiteral("Ünï.bmp")};
        for (int i = 0; i < names.size(); ++i)
            savePicture(QDir(dir).filePath(names[i]), testsupport::solid(4, 4, QColor(40 * i, 0, 0)));
        openFolder(dir);
        QCOMPARE(window->File1->count(), names.size());
        for (int row = 0; row < names.size(); ++row) {
            click(row);
            const int i = int(names.indexOf(window->File1->name(row)));
            QCOMPARE(previewPixel(0, 0), QColor(40 * i, 0, 0));
        }
    }

    void previewAtTheRootHasOneSeparator()
    {
        const QString name = QStringLiteral("corvane-root-preview-%1.bmp").arg(QCoreApplication::applicationPid());
        const QString atRoot = QStringLiteral("/") + name;
        if (!testsupport::solid(6, 6, Qt::green).save(atRoot, "BMP"))
            QSKIP("the root folder is not writable here");
        auto removeLater = qScopeGuard([&] { QFile::remove(atRoot); });
        openFolder(QStringLiteral("/"));
        QCOMPARE(window->File1->path(), QStringLiteral("/"));
        const int row = int(window->File1->names().indexOf(name));
        QVERIFY(row >= 0);
        click(row);
        QCOMPARE(previewPixel(3, 3), QColor(Qt::green));
    }

    void moreThan32767Pictures()
    {
        const QString dir = folder(QStringLiteral("many"));
        constexpr int kCount = 33000;
        for (int i = 0; i < kCount; ++i) {
            QFile f(QDir(dir).filePath(QStringLiteral("f%1.gif").arg(i, 5, 10, QLatin1Char('0'))));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        openFolder(dir);
        QCOMPARE(window->File1->count(), kCount);
        window->File1->select(kCount - 1);
        window->File1->select(32768);
        QVERIFY(window->File1->isSelected(kCount - 1));
        QCOMPARE(window->File1->name(kCount - 1), QStringLiteral("f32999.gif"));
        click(kCount - 1);
        QCOMPARE(window->File1->currentPosition(), kCount - 1);
        QCOMPARE(selectedRows(), QList<int>{kCount - 1});
        window->File1->refresh();
        settle();
        QCOMPARE(window->File1->count(), kCount);
    }

    // The lists never end up empty while a folder above can be read.
    void listsFallBackOnTheNearestReadableFolder()
    {
        // A folder whose parent has gone since the list showed it.
        const QString top = folder(QStringLiteral("fallback"));
        openFolder(folder(QStringLiteral("fallback/x/y/z")));
        QVERIFY(QDir(top + QStringLiteral("/x")).removeRecursively());
        QTreeWidgetItem *y = folderItem(QStringLiteral("y"));
        QVERIFY(y);
        doubleClick(window->Dir1->viewport(), window->Dir1->visualItemRect(y).center());
        settle();
        QCOMPARE(window->Dir1->path(), top);
        QCOMPARE(window->File1->path(), top);

        // Picking the current drive again when its folder has gone.
        const QString drive = folder(QStringLiteral("fallback/drive"));
        const QString inside = folder(QStringLiteral("fallback/drive/inside"));
        window->Drive1->setDrives({{drive, drive}}, 0);
        openFolder(inside);
        QVERIFY(QDir(inside).removeRecursively());
        window->Drive1->showPopup();
        QTest::keyClick(window->Drive1->view(), Qt::Key_Return);
        settle();
        QCOMPARE(window->Dir1->path(), drive);
        QCOMPARE(window->File1->path(), drive);

        // Starting in a folder that has gone.
        const QString gone = folder(QStringLiteral("fallback/gone/deeper"));
        QVERIFY(QDir::setCurrent(gone));
        auto back = qScopeGuard([this] { QDir::setCurrent(folder(QStringLiteral("start"))); });
        QVERIFY(QDir(top + QStringLiteral("/gone")).removeRecursively());
        window = std::make_unique<MainWindow>();
        settle();
        QCOMPARE(window->Dir1->path(), top);
        QCOMPARE(window->File1->path(), top);
    }

    // A drive opens the current folder only when that folder is on that very mount.
    void drivesOpenTheCurrentFolderOnlyOnTheirOwnMount_data()
    {
        QTest::addColumn<int>("drive");
        QTest::addColumn<QString>("opens");
        QTest::newRow("a mount above the current folder's own") << 0 << "mounts";
        QTest::newRow("the current folder's own mount") << 1 << "mounts/inner/work";
    }

    void drivesOpenTheCurrentFolderOnlyOnTheirOwnMount()
    {
        QFETCH(int, drive);
        QFETCH(QString, opens);
        const QString outer = folder(QStringLiteral("mounts"));
        const QString inner = folder(QStringLiteral("mounts/inner"));
        const QString elsewhere = folder(QStringLiteral("elsewhere"));
        QVERIFY(QDir::setCurrent(folder(QStringLiteral("mounts/inner/work"))));
        auto back = qScopeGuard([this] { QDir::setCurrent(folder(QStringLiteral("start"))); });
        window->Drive1->setDrives({{outer, outer}, {inner, inner}, {elsewhere, elsewhere}}, 2);
        window->Drive1->setCurrentIndex(drive);
        settle();
        QCOMPARE(window->Dir1->path(), folder(opens));
        QCOMPARE(window->File1->path(), folder(opens));
    }

    // A folder that takes its time is applied when it comes, unless another has been asked for
    // since; meanwhile the window goes on, with one reading per list at most.
    void slowFoldersKeepTheWindowResponsive()
    {
        const QString fast = folder(QStringLiteral("pace/fast"));
        const QString slow = folder(QStringLiteral("pace/slow"));
        testsupport::writeFile(QDir(fast).filePath(QStringLiteral("a.gif")), "x");
        testsupport::writeFile(QDir(slow).filePath(QStringLiteral("b.gif")), "x");
        openFolder(fast);
        auto dirGate = std::make_shared<Gate>();
        auto fileGate = std::make_shared<Gate>();
        auto driveGate = std::make_shared<Gate>();
        auto release = qScopeGuard([=] {
            for (const auto &gate : {dirGate, fileGate, driveGate})
                gate->release();
        });
        dirGate->held = fileGate->held = slow;
        // A held reading is never answered in time, however long the wait.
        browse::setReadWait(std::chrono::milliseconds(0));
        auto restoreWait = qScopeGuard([] { browse::setReadWait(std::chrono::hours(1)); });
        window->Dir1->setChainReader([dirGate](const QString &root, const QString &folder) {
            dirGate->pass(folder);
            return browse::nearestFolderChain(root, folder);
        });
        window->File1->setListReader([fileGate](const QString &folder, const QString &pattern) {
            fileGate->pass(folder);
            return browse::listPictures(folder, pattern);
        });

        // The folder list answered late, the window going on meanwhile.
        QVERIFY(!window->Dir1->setPath(window->Drive1->rootPath(), slow));
        QCOMPARE(window->Dir1->cursor().shape(), Qt::WaitCursor);
        bool handled = false;
        QTimer::singleShot(0, window.get(), [&] { handled = true; });
        QTRY_VERIFY(handled);
        QCOMPARE(window->Dir1->path(), fast);
        QSignalSpy dirShown(window->Dir1, &browse::FolderList::pathChanged);
        dirGate->release();
        QVERIFY(dirShown.wait(60000));
        QCOMPARE(window->Dir1->path(), slow);
        QCOMPARE(window->Dir1->cursor().shape(), Qt::ArrowCursor);

        // The file list: requests while a reading is held wait for it, and only the last counts.
        QSignalSpy listed(window->File1, &browse::FileList::listed);
        QCOMPARE(window->File1->cursor().shape(), Qt::WaitCursor);
        for (const QString &asked : {fast, slow, fast})
            window->File1->setPath(asked);
        fileGate->release();
        QVERIFY(listed.wait(60000));
        settle();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(window->File1->path(), fast);
        QCOMPARE(window->File1->names(), QStringList{QStringLiteral("a.gif")});
        QCOMPARE(fileGate->most(), 1);

        // The drive list offers the root file system until the mount table answers.
        driveGate->held = QStringLiteral("mount table");
        browse::DriveList drives(nullptr, [driveGate, fast] {
            driveGate->pass(QStringLiteral("mount table"));
            return QList<browse::Drive>{{QStringLiteral("/"), QStringLiteral("/")}, {fast, fast}};
        });
        QCOMPARE(drives.driveCount(), 1);
        driveGate->release();
        QTRY_VERIFY_WITH_TIMEOUT(!drives.isReading(), 60000);
        QCOMPARE(drives.driveCount(), 2);
        QCOMPARE(drives.itemData(1).toString(), fast);
    }

    // A folder or file whose name is not UTF-8 opens and lists under its own bytes.
    void namesThatAreNotUtf8()
    {
        const QString top = folder(QStringLiteral("latin1"));
        const QByteArray folderBytes = QFile::encodeName(top) + "/dossier \xE9t\xE9";
        const QByteArray fileBytes = folderBytes + "/caf\xE9.bmp";
        QCOMPARE(::mkdir(folderBytes.constData(), 0755), 0);
        const QString plain = QDir(top).filePath(QStringLiteral("plain.bmp"));
        savePicture(plain, testsupport::solid(8, 8, Qt::darkGreen));
        QCOMPARE(::rename(QFile::encodeName(plain).constData(), fileBytes.constData()), 0);
        openFolder(top);

        QTreeWidgetItem *item = folderItem(QStringLiteral("dossier \uFFFDt\uFFFD"));
        QVERIFY(item);
        doubleClick(window->Dir1->viewport(), window->Dir1->visualItemRect(item).center());
        settle();
        QCOMPARE(picture::toNativePath(window->Dir1->path()), folderBytes);
        QCOMPARE(picture::toNativePath(window->File1->path()), folderBytes);
        QCOMPARE(window->File1->count(), 1);
        QCOMPARE(picture::toNativePath(window->File1->path() + u'/' + window->File1->name(0)), fileBytes);
        QCOMPARE(window->File1->model()->index(0, 0).data().toString(), QStringLiteral("caf\uFFFD.bmp"));
        // It previews, and goes into a strip, by its own bytes.
        click(0);
        QCOMPARE(previewPixel(4, 4), QColor(Qt::darkGreen));
        bool overLimit = false;
        const QStringList selected = window->selectedPaths(&overLimit);
        QCOMPARE(selected.size(), 1);
        QVERIFY(picture::load(selected.constFirst()).ok());
    }
};

QTEST_MAIN(TestBrowser)
#include "tst_browser.moc"
