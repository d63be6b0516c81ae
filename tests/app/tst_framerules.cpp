// The write command's first stage on the real window: the frame-count rules with their
// messages and resets, gathering the selection in list order, and the limit of 100.

#include <QTimer>

#include "tests/app/commandfixture.h"

namespace {

const QString kNoColumns = QStringLiteral("# of horizontal frames must be greater than zero. Resetting to 10 horizontal frame(s).");
const QString kNone = QStringLiteral("No images were selected!");
const QString kCancelled = QStringLiteral("Operation Cancelled");
const QString kLimit = QStringLiteral("Maximum of  100 frames are allowed! You selected more than  100 frames.");
const QString kFirst = QStringLiteral("The first  100 Frames will be used for the image strip.");

QString tooManyColumns(int n)
{
    return QStringLiteral("# of horizontal frames must be less than  100. Resetting to  %1 horizontal frames.").arg(n);
}

} // namespace

class TestFrameRules : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CommandFixture> f;
    QString fieldAtDialog;
    QList<QColor> heldAtDialog; // each holder's first pixel while the save dialog is up

    void watchDialog()
    {
        fieldAtDialog.clear();
        f->prompts->onSave = [this] {
            fieldAtDialog = f->window->numhFrames->text();
            heldAtDialog.clear();
            for (const picture::PictureHolder *holder : f->window->theFrame)
                heldAtDialog << (holder->picture().isNull() ? QColor() : holder->picture().pixelColor(0, 0));
        };
    }

private slots:
    void init()
    {
        f = std::make_unique<CommandFixture>();
        f->open();
        watchDialog();
    }

    void cleanup() { f.reset(); }

    void noColumnsResetsToTen_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("zero") << "0";
        QTest::newRow("negative") << "-3";
        QTest::newRow("letters") << "abc";
        QTest::newRow("empty") << "";
        QTest::newRow("rounds to no column") << "0.5";
        QTest::newRow("tiny") << "0.3";
        QTest::newRow("minus overflow") << "-1e999";
    }

    void noColumnsResetsToTen()
    {
        QFETCH(QString, field);
        f->makePictures(12);
        f->selectFirst(12);
        f->write(field);
        QCOMPARE(f->prompts->texts(), (QStringList{kNoColumns, kCancelled}));
        QCOMPARE(fieldAtDialog, QStringLiteral("10"));
        // Rows of 10: two rows of 32 x 32 cells.
        QCOMPARE(f->stripSize(), QSize(320, 64));
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
    }

    void lenientReadings_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QSize>("strip");
        QTest::newRow("12abc") << "12abc" << QSize(12 * 32, 32);
        QTest::newRow("1 2") << "1 2" << QSize(12 * 32, 32);
        QTest::newRow("1e1") << "1e1" << QSize(10 * 32, 64);
        // Not whole: width from the real value, divisions with 2 columns.
        QTest::newRow("2.5") << "2.5" << QSize(80, 6 * 32);
    }

    void lenientReadings()
    {
        QFETCH(QString, field);
        QFETCH(QSize, strip);
        f->makePictures(12);
        f->selectFirst(12);
        f->write(field);
        QCOMPARE(f->prompts->texts(), QStringList{kCancelled});
        QCOMPARE(fieldAtDialog, field);
        QCOMPARE(f->stripSize(), strip);
    }

    void tooManyColumnsAtTheLimit()
    {
        f->makePictures(7);
        f->selectFirst(7);
        f->write(QStringLiteral("100"));
        QCOMPARE(f->prompts->texts(), QStringList{kCancelled});
        QCOMPARE(f->stripSize(), QSize(7 * 32, 32));

        f->selectFirst(7);
        f->write(QStringLiteral("101"));
        QCOMPARE(f->prompts->texts(), (QStringList{kCancelled, tooManyColumns(7), kCancelled}));
        QCOMPARE(fieldAtDialog, QStringLiteral(" 7"));
        QCOMPARE(f->stripSize(), QSize(7 * 32, 32));

        // A number too large for a double still counts as too many frames.
        f->selectFirst(7);
        f->write(QStringLiteral("1e999"));
        QCOMPARE(f->prompts->texts().mid(3), (QStringList{tooManyColumns(7), kCancelled}));
    }

    void fewerPicturesThanColumnsMakeOneRowSilently()
    {
        f->makePictures(3);
        f->selectFirst(3);
        f->write(QStringLiteral("10"));
        QCOMPARE(f->prompts->texts(), QStringList{kCancelled});
        QCOMPARE(fieldAtDialog, QStringLiteral("10"));
        QCOMPARE(f->stripSize(), QSize(96, 32));
    }

    void exactlyOneHundredEntries()
    {
        f->makePictures(100, {4, 4});
        f->selectFirst(100);
        f->write(QStringLiteral("10"));
        QCOMPARE(f->prompts->texts(), QStringList{kCancelled});
        QCOMPARE(f->stripSize(), QSize(40, 40));
        QCOMPARE(heldAtDialog[99], CommandFixture::colourOf(99));
        // The command's pictures are let go when it ends.
        for (const picture::PictureHolder *holder : f->window->theFrame)
            QVERIFY(holder->picture().isNull());
    }

    void oneHundredAndFiftyEntriesUseTheFirstHundred()
    {
        f->makePictures(150, {4, 4});
        f->selectFirst(150);
        f->write(QStringLiteral("10"));
        QCOMPARE(f->prompts->texts(), (QStringList{kLimit, kFirst, kCancelled}));
        // Both limit messages come while the pictures load, under the busy pointer.
        QCOMPARE(f->prompts->shown[0].cursor, Qt::WaitCursor);
        QCOMPARE(f->prompts->shown[1].cursor, Qt::WaitCursor);
        QCOMPARE(f->prompts->dialogCursors.value(0), Qt::ArrowCursor);
        QCOMPARE(f->stripSize(), QSize(40, 40));
        for (int i : {0, 57, 99})
            QCOMPARE(heldAtDialog[i], CommandFixture::colourOf(i));
        // Holder 100 was never used.
        QCOMPARE(heldAtDialog[100], QColor());
    }

    void gathersInListOrder()
    {
        f->makePictures(12);
        // Selected in the order 5, 2, 9: holder 0 gets entry 2.
        f->selectRows({5, 2, 9});
        bool overLimit = true;
        QCOMPARE(f->window->selectedPaths(&overLimit),
                 (QStringList{f->file(QStringLiteral("p002.bmp")), f->file(QStringLiteral("p005.bmp")),
                              f->file(QStringLiteral("p009.bmp"))}));
        QVERIFY(!overLimit);
        f->write(QStringLiteral("3"));
        QCOMPARE(heldAtDialog.mid(0, 3), (QList<QColor>{CommandFixture::colourOf(2), CommandFixture::colourOf(5),
                                                         CommandFixture::colourOf(9)}));
    }

    void badFieldAndEmptySelection()
    {
        f->makePictures(3);
        f->write(QStringLiteral("abc"));
        QCOMPARE(f->prompts->texts(), (QStringList{kNoColumns, kNone}));
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
        QVERIFY(f->prompts->dialogFolders.isEmpty());
        QCOMPARE(f->window->cursor().shape(), Qt::ArrowCursor);
    }

    void emptySelectionKeepsTheField()
    {
        f->makePictures(2);
        f->write(QStringLiteral("7"));
        QCOMPARE(f->prompts->texts(), QStringList{kNone});
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("7"));
        QCOMPARE(f->prompts->shown[0].cursor, Qt::ArrowCursor);
    }

    void emptySelectionRefreshesTheList()
    {
        f->makePictures(2);
        testsupport::writeFile(f->file(QStringLiteral("late.gif")), "GIF89a");
        QCOMPARE(f->window->File1->count(), 2);
        f->write(QStringLiteral("7"));
        QCOMPARE(f->window->File1->count(), 3);
    }

    void unloadableEntryEndsTheCommand()
    {
        f->makePictures(3);
        testsupport::writeFile(f->file(QStringLiteral("p001.bmp")), "BM but not really a bitmap");
        const QString old = f->file(QStringLiteral("old.dat"));
        testsupport::writeFile(old, "keep me");
        f->window->File1->refresh();
        f->selectFirst(3);
        f->window->chkWriteTextFile->setChecked(true);
        f->write(QStringLiteral("3"), old);
        QCOMPARE(f->prompts->texts().size(), 1);
        QVERIFY2(f->prompts->texts().constFirst().contains(f->file(QStringLiteral("p001.bmp"))),
                 qPrintable(f->prompts->texts().constFirst()));
        QVERIFY(f->prompts->dialogFolders.isEmpty());
        QCOMPARE(testsupport::readFile(old), QByteArray("keep me"));
        QCOMPARE(f->window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(f->prompts->shown[0].cursor, Qt::ArrowCursor);
    }

    void entryDeletedAfterListing()
    {
        f->makePictures(2);
        f->selectFirst(2);
        QVERIFY(QFile::remove(f->file(QStringLiteral("p000.bmp"))));
        f->write(QStringLiteral("2"), f->file(QStringLiteral("out.bmp")));
        QCOMPARE(f->prompts->texts().size(), 1);
        QVERIFY(f->prompts->texts().constFirst().contains(f->file(QStringLiteral("p000.bmp"))));
        QVERIFY(!QFile::exists(f->file(QStringLiteral("out.bmp"))));
        // The closing refresh shows the folder as it is now.
        QCOMPARE(f->window->File1->names(), QStringList{QStringLiteral("p001.bmp")});
    }

    void busyPointerWithoutReentry()
    {
        f->makePictures(100, {16, 16});
        f->selectFirst(100);
        bool eventLoopRan = false;
        QTimer::singleShot(0, [&] { eventLoopRan = true; });
        bool ranBeforeDialog = true;
        f->prompts->onSave = [&] { ranBeforeDialog = eventLoopRan; };
        f->write(QStringLiteral("10"));
        QVERIFY2(!ranBeforeDialog, "the command gave control back to the event loop while it loaded");
        QCOMPARE(f->window->cursor().shape(), Qt::ArrowCursor);
    }

    void fullPathAtTheRootHoldsTwoSeparators()
    {
        const QString name = QStringLiteral("corvane-root-%1.bmp").arg(QCoreApplication::applicationPid());
        const QString atRoot = QStringLiteral("/") + name;
        if (!testsupport::solid(5, 5, Qt::red).save(atRoot, "BMP"))
            QSKIP("the root folder is not writable here");
        auto removeLater = qScopeGuard([&] { QFile::remove(atRoot); });
        QVERIFY(f->window->Dir1->setPath(f->window->Drive1->rootPath(), QStringLiteral("/")));
        const int row = int(f->window->File1->names().indexOf(name));
        QVERIFY(row >= 0);
        f->window->File1->select(row);
        bool overLimit = true;
        QCOMPARE(f->window->selectedPaths(&overLimit), QStringList{QStringLiteral("//") + name});
        QVERIFY(!overLimit);
        f->write(QStringLiteral("1"));
        QCOMPARE(f->prompts->texts(), QStringList{kCancelled});
        QCOMPARE(f->stripSize(), QSize(5, 5));
        QCOMPARE(f->prompts->dialogFolders.value(0), QStringLiteral("/"));
    }
};

QTEST_MAIN(TestFrameRules)
#include "tst_framerules.moc"
