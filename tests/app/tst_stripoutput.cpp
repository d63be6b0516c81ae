// The write command end to end: the composed strip read back by Pillow, the output names, the
// companion text file's exact bytes, cancel, and every way the writing can fail.

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include <new>
#include <stdexcept>

#include "tests/app/commandfixture.h"

namespace {

// What the strip must be, built here without any of the program's drawing code.
QImage expectedStrip(const QList<QImage> &pictures, int columns, QColor background)
{
    const QSize cell = pictures.constFirst().size();
    const int rows = int((pictures.size() + columns - 1) / columns);
    QImage strip(columns * cell.width(), rows * cell.height(), QImage::Format_RGB32);
    strip.fill(background);
    for (int i = 0; i < pictures.size(); ++i) {
        const QImage p = pictures[i].convertToFormat(QImage::Format_ARGB32);
        const int ox = (i % columns) * cell.width();
        const int oy = (i / columns) * cell.height();
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x)
                if (strip.rect().contains(ox + x, oy + y) && qAlpha(p.pixel(x, y)) == 255)
                    strip.setPixel(ox + x, oy + y, p.pixel(x, y));
    }
    return strip;
}

QStringList leftovers(const QString &dir)
{
    // Anything but what the test itself put there or expects: temporary files of a writer.
    QStringList odd;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!name.startsWith(u'p') && !name.startsWith(QStringLiteral("walk")) && !name.startsWith(QStringLiteral("Walk"))
            && !name.startsWith(QStringLiteral("WALK")) && !name.startsWith(QStringLiteral("old")))
            odd.append(name);
    }
    return odd;
}

} // namespace

class TestStripOutput : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CommandFixture> f;

    QImage readBack(const QString &path)
    {
        QString error, format;
        const QImage image = testsupport::readWithPillow(path, &error, &format);
        if (image.isNull())
            qWarning("Pillow could not read %s: %s", qPrintable(path), qPrintable(error));
        else if (format != u"BMP")
            qWarning("Pillow reads %s as %s", qPrintable(path), qPrintable(format));
        return image;
    }

    QList<QImage> pictures(int count, QSize size = {32, 32})
    {
        QList<QImage> list;
        for (int i = 0; i < count; ++i)
            list.append(testsupport::solid(size.width(), size.height(), CommandFixture::colourOf(i)));
        return list;
    }

    void verifyStrip(const QString &path, const QImage &expected)
    {
        const QImage got = readBack(path);
        QVERIFY(!got.isNull());
        const QString diff = testsupport::firstDifference(got, expected);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

private slots:
    void init()
    {
        f = std::make_unique<CommandFixture>();
        f->open();
    }

    void cleanup() { f.reset(); }

    void sevenPicturesInRowsOfThree()
    {
        f->makePictures(7);
        f->selectFirst(7);
        f->window->chkWriteTextFile->setChecked(true);
        f->write(QStringLiteral("3"), f->file(QStringLiteral("walk.bmp")));
        QVERIFY(f->prompts->texts().isEmpty());
        QCOMPARE(f->prompts->dialogFolders, QStringList{f->dir()});
        QCOMPARE(f->window->bmp_width, qint16(32));
        QCOMPARE(f->window->bmp_height, qint16(32));
        const QImage expected = expectedStrip(pictures(7), 3, MainWindow::menuBarColor());
        QCOMPARE(expected.size(), QSize(96, 96));
        verifyStrip(f->file(QStringLiteral("walk.bmp")), expected);
        // The two empty cells keep the background colour.
        const QImage got = readBack(f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(got.pixelColor(40, 70), MainWindow::menuBarColor());
        QCOMPARE(got.pixelColor(95, 95), MainWindow::menuBarColor());
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.TXT"))), QByteArray("walk.bmp, 3, 7\r\n"));
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
        QCOMPARE(f->window->cursor().shape(), Qt::ArrowCursor);
        // The new bitmap is listed; the text file never is.
        QVERIFY(f->window->File1->names().contains(QStringLiteral("walk.bmp")));
        QVERIFY(!f->window->File1->names().contains(QStringLiteral("walk.TXT")));
        QCOMPARE(leftovers(f->dir()), QStringList());
    }

    void gridShapes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("6 by 3") << 6 << "3" << 3 << QByteArray("walk.bmp, 3, 6\r\n");
        QTest::newRow("6 by 6") << 6 << "6" << 6 << QByteArray("walk.bmp, 6, 6\r\n");
        QTest::newRow("6 by 10 lowered") << 6 << "10" << 6 << QByteArray("walk.bmp, 6, 6\r\n");
        QTest::newRow("4 by 10 lowered") << 4 << "10" << 4 << QByteArray("walk.bmp, 4, 4\r\n");
        QTest::newRow("one picture") << 1 << "10" << 1 << QByteArray("walk.bmp, 1, 1\r\n");
        QTest::newRow("12 by 5") << 12 << "5" << 5 << QByteArray("walk.bmp, 5, 12\r\n");
    }

    void gridShapes()
    {
        QFETCH(int, count);
        QFETCH(QString, field);
        QFETCH(int, columns);
        QFETCH(QByteArray, line);
        f->makePictures(count, {8, 6});
        f->selectFirst(count);
        f->window->chkWriteTextFile->setChecked(true);
        f->write(field, f->file(QStringLiteral("walk.bmp")));
        verifyStrip(f->file(QStringLiteral("walk.bmp")), expectedStrip(pictures(count, {8, 6}), columns, MainWindow::menuBarColor()));
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.TXT"))), line);
    }

    void nonWholeCountIsCarried()
    {
        f->makePictures(5, {10, 10});
        f->selectFirst(5);
        f->window->chkWriteTextFile->setChecked(true);
        f->write(QStringLiteral("2.5"), f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.TXT"))), QByteArray("walk.bmp, 2.5, 5\r\n"));
        const QImage got = readBack(f->file(QStringLiteral("walk.bmp")));
        // Width from the real count, three rows from two columns; picture 2, below the real
        // count, lies at x = 2 * 10 in the second row, cut at the edge; 3 and 4 in their columns.
        QCOMPARE(got.size(), QSize(25, 30));
        QCOMPARE(got.pixelColor(24, 10), CommandFixture::colourOf(2));
        QCOMPARE(got.pixelColor(10, 10), CommandFixture::colourOf(3));
        QCOMPARE(got.pixelColor(0, 20), CommandFixture::colourOf(4));
        QCOMPARE(got.pixelColor(10, 20), MainWindow::menuBarColor());
    }

    void largerSecondPictureOverlaps_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("with the fourth picture") << 4;
        QTest::newRow("without it") << 3;
    }

    void largerSecondPictureOverlaps()
    {
        QFETCH(int, count);
        const QList<QImage> pics = {testsupport::solid(32, 32, Qt::red), testsupport::solid(48, 48, Qt::green),
                                    testsupport::solid(32, 32, Qt::blue), testsupport::solid(32, 32, Qt::yellow)};
        for (int i = 0; i < count; ++i)
            QVERIFY(pics[i].save(f->file(QStringLiteral("p%1.bmp").arg(i)), "BMP"));
        f->window->File1->refresh();
        f->selectFirst(count);
        f->write(QStringLiteral("2"), f->file(QStringLiteral("walk.bmp")));
        const QImage got = readBack(f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(got.size(), QSize(64, 64));
        QCOMPARE(got.pixelColor(63, 0), QColor(Qt::green));     // cut at the strip's edge
        QCOMPARE(got.pixelColor(5, 40), QColor(Qt::blue));
        const QColor underFourth = count == 4 ? QColor(Qt::yellow) : QColor(Qt::green);
        QCOMPARE(got.pixelColor(40, 40), underFourth);           // the second picture's lower part
        QCOMPARE(got.pixelColor(63, 63), count == 4 ? QColor(Qt::yellow) : MainWindow::menuBarColor());
    }

    void largerFirstPictureSetsTheCell()
    {
        QVERIFY(testsupport::solid(48, 48, Qt::red).save(f->file(QStringLiteral("p0.bmp")), "BMP"));
        QVERIFY(testsupport::solid(32, 32, Qt::blue).save(f->file(QStringLiteral("p1.bmp")), "BMP"));
        QVERIFY(testsupport::solid(32, 32, Qt::green).save(f->file(QStringLiteral("p2.bmp")), "BMP"));
        f->window->File1->refresh();
        f->selectFirst(3);
        f->write(QStringLiteral("3"), f->file(QStringLiteral("walk.bmp")));
        const QImage got = readBack(f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(got.size(), QSize(144, 48));
        QCOMPARE(got.pixelColor(48, 0), QColor(Qt::blue));
        QCOMPARE(got.pixelColor(48 + 33, 5), MainWindow::menuBarColor());  // band to its right
        QCOMPARE(got.pixelColor(50, 40), MainWindow::menuBarColor());      // band below it
        QCOMPARE(got.pixelColor(96, 31), QColor(Qt::green));
    }

    void iconFirstTakesItsOwnSize()
    {
        QImage icon(24, 24, QImage::Format_ARGB32);
        icon.fill(Qt::transparent);
        for (int y = 4; y < 20; ++y)
            for (int x = 4; x < 20; ++x)
                icon.setPixelColor(x, y, Qt::red);
        QVERIFY(icon.save(f->file(QStringLiteral("a.ico")), "ICO"));
        QVERIFY(testsupport::solid(10, 10, Qt::blue).save(f->file(QStringLiteral("b.bmp")), "BMP"));
        f->window->File1->refresh();
        f->selectFirst(2);
        f->write(QStringLiteral("2"), f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(f->window->bmp_width, qint16(24));
        const QImage got = readBack(f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(got.size(), QSize(48, 24));
        // Transparent parts of the icon show the background.
        QCOMPARE(got.pixelColor(1, 1), MainWindow::menuBarColor());
        QCOMPARE(got.pixelColor(10, 10), QColor(Qt::red));
        QCOMPARE(got.pixelColor(24, 0), QColor(Qt::blue));
    }

    void smallerSecondRunLeavesNothingOfTheFirst()
    {
        f->makePictures(9);
        f->selectFirst(9);
        f->write(QStringLiteral("3"), f->file(QStringLiteral("walk.bmp")));
        f->selectFirst(2);
        f->write(QStringLiteral("3"), f->file(QStringLiteral("walk2.bmp")));
        verifyStrip(f->file(QStringLiteral("walk2.bmp")), expectedStrip(pictures(2), 2, MainWindow::menuBarColor()));
    }

    void names_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("bitmap");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("no extension") << "walk" << "walk" << "walk.TXT" << QByteArray("walk, 2, 2\r\n");
        QTest::newRow("walk.bmp") << "walk.bmp" << "walk.bmp" << "walk.TXT" << QByteArray("walk.bmp, 2, 2\r\n");
        QTest::newRow("Walk.Bmp") << "Walk.Bmp" << "Walk.Bmp" << "Walk.TXT" << QByteArray("Walk.Bmp, 2, 2\r\n");
        QTest::newRow("doubled") << "walk.bmp.bmp" << "walk.bmp" << "walk.TXT" << QByteArray("walk.bmp, 2, 2\r\n");
        QTest::newRow("doubled upper") << "WALK.BMP.bmp" << "WALK.BMP" << "WALK.TXT" << QByteArray("WALK.BMP, 2, 2\r\n");
        QTest::newRow("bmpx") << "walk.bmpx" << "walk.bmpx" << "walk.TXT" << QByteArray("walk.bmpx, 2, 2\r\n");
        QTest::newRow("folder with .bmp") << "x.bmp.d/walk.bmp" << "x.bmp.d/walk.bmp" << "x.bmp.d/walk.TXT"
                                          << QByteArray("walk.bmp, 2, 2\r\n");
    }

    void names()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, bitmap);
        QFETCH(QString, text);
        QFETCH(QByteArray, line);
        QDir(f->dir()).mkdir(QStringLiteral("x.bmp.d"));
        f->makePictures(2);
        f->selectFirst(2);
        f->window->chkWriteTextFile->setChecked(true);
        f->write(QStringLiteral("2"), f->file(chosen));
        QVERIFY2(f->prompts->texts().isEmpty(), qPrintable(f->prompts->texts().join(u'|')));
        verifyStrip(f->file(bitmap), expectedStrip(pictures(2), 2, MainWindow::menuBarColor()));
        QCOMPARE(testsupport::readFile(f->file(text)), line);
        QVERIFY(!QFile::exists(QDir(f->dir()).filePath(QStringLiteral("x.TXT"))));
        // Listed only when the name matches the pattern.
        QCOMPARE(f->window->File1->names().contains(bitmap), bitmap.endsWith(QStringLiteral("bmp"), Qt::CaseInsensitive)
                                                                 && !bitmap.contains(u'/'));
    }

    // The doubled-extension rule can turn the chosen name into another file that exists: the
    // dialog's question is asked for it, and declining cancels.
    void shortenedNameThatExists_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("written");
        QTest::newRow("replaced after Yes") << "walk.bmp.bmp" << true << true << true << true;
        QTest::newRow("kept after No") << "walk.bmp.bmp" << true << false << true << false;
        QTest::newRow("nothing there") << "walk.bmp.bmp" << false << false << false << true;
        QTest::newRow("name as typed: the dialog asked") << "walk.bmp" << true << false << false << true;
    }

    void shortenedNameThatExists()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, exists);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, written);
        f->makePictures(2);
        if (exists)
            testsupport::writeFile(f->file(QStringLiteral("walk.bmp")), "precious");
        f->selectFirst(2);
        f->window->chkWriteTextFile->setChecked(true);
        f->prompts->replaceAnswer = answer;
        f->write(QStringLiteral("2"), f->file(chosen));
        QCOMPARE(f->prompts->replaceQuestions, asked ? QStringList{f->file(QStringLiteral("walk.bmp"))} : QStringList());
        QCOMPARE(f->prompts->texts(), written ? QStringList() : QStringList{QStringLiteral("Operation Cancelled")});
        if (written)
            verifyStrip(f->file(QStringLiteral("walk.bmp")), expectedStrip(pictures(2), 2, MainWindow::menuBarColor()));
        else
            QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.bmp"))), QByteArray("precious"));
        QCOMPARE(QFile::exists(f->file(QStringLiteral("walk.TXT"))), written);
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
    }

    void cancelWritesNothing()
    {
        f->makePictures(3);
        f->selectFirst(3);
        f->window->chkWriteTextFile->setChecked(true);
        const QStringList before = QDir(f->dir()).entryList(QDir::Files);
        f->write(QStringLiteral("7"));
        QCOMPARE(f->prompts->texts(), QStringList{QStringLiteral("Operation Cancelled")});
        QCOMPARE(QDir(f->dir()).entryList(QDir::Files), before);
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
        // The strip stays composed until the next run.
        QCOMPARE(f->stripSize(), QSize(96, 32));
    }

    // A failure of memory, or anything else thrown, ends the command with a message; the
    // window goes on and what was on disk stays.
    void failureInsideTheCommandIsReported_data()
    {
        QTest::addColumn<bool>("memory");
        QTest::newRow("no memory") << true;
        QTest::newRow("another failure") << false;
    }

    void failureInsideTheCommandIsReported()
    {
        QFETCH(bool, memory);
        f->makePictures(3);
        f->selectFirst(3);
        testsupport::writeFile(f->file(QStringLiteral("walk.bmp")), "precious");
        f->prompts->onSave = [memory] {
            if (memory)
                throw std::bad_alloc();
            throw std::runtime_error("the dialog failed");
        };
        f->write(QStringLiteral("3"));
        f->prompts->onSave = {};
        QCOMPARE(f->prompts->texts(), QStringList{memory ? QStringLiteral("The strip cannot be made: there is not enough memory.")
                                                         : QStringLiteral("The strip cannot be made: the dialog failed")});
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.bmp"))), QByteArray("precious"));
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
        QCOMPARE(f->window->cursor().shape(), Qt::ArrowCursor);
    }

    void textFileOnlyWhenChecked_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("unchecked") << int(Qt::Unchecked);
        QTest::newRow("grey") << int(Qt::PartiallyChecked);
    }

    void textFileOnlyWhenChecked()
    {
        QFETCH(int, state);
        f->makePictures(2);
        testsupport::writeFile(f->file(QStringLiteral("walk.TXT")), "old line\r\n");
        f->window->chkWriteTextFile->setTristate(true);
        f->window->chkWriteTextFile->setCheckState(Qt::CheckState(state));
        f->selectFirst(2);
        f->write(QStringLiteral("2"), f->file(QStringLiteral("walk.bmp")));
        QVERIFY(QFile::exists(f->file(QStringLiteral("walk.bmp"))));
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.TXT"))), QByteArray("old line\r\n"));
    }

    void existingTextFileIsReplaced()
    {
        f->makePictures(2);
        testsupport::writeFile(f->file(QStringLiteral("walk.TXT")), "an older and much longer line\r\n");
        f->window->chkWriteTextFile->setChecked(true);
        f->selectFirst(2);
        f->write(QStringLiteral("1"), f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.TXT"))), QByteArray("walk.bmp, 1, 2\r\n"));
    }

    void bitmapThatCannotBeWritten()
    {
        f->makePictures(2);
        f->selectFirst(2);
        f->window->chkWriteTextFile->setChecked(true);
        // A folder stands where the bitmap should go.
        QVERIFY(QDir(f->dir()).mkdir(QStringLiteral("walk.bmp")));
        f->write(QStringLiteral("5"), f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(f->prompts->texts().size(), 1);
        QVERIFY2(f->prompts->texts().constFirst().contains(f->file(QStringLiteral("walk.bmp"))),
                 qPrintable(f->prompts->texts().constFirst()));
        QVERIFY(!QFile::exists(f->file(QStringLiteral("walk.TXT"))));
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
        QCOMPARE(f->window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(leftovers(f->dir()), QStringList());
    }

    void textFileThatCannotBeWrittenKeepsTheBitmap()
    {
        f->makePictures(2);
        f->selectFirst(2);
        f->window->chkWriteTextFile->setChecked(true);
        QVERIFY(QDir(f->dir()).mkdir(QStringLiteral("walk.TXT")));
        f->write(QStringLiteral("2"), f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(f->prompts->texts().size(), 1);
        QVERIFY(f->prompts->texts().constFirst().contains(f->file(QStringLiteral("walk.TXT"))));
        verifyStrip(f->file(QStringLiteral("walk.bmp")), expectedStrip(pictures(2), 2, MainWindow::menuBarColor()));
        QCOMPARE(f->window->numhFrames->text(), QStringLiteral("10"));
        QVERIFY(f->window->File1->names().contains(QStringLiteral("walk.bmp")));
        QCOMPARE(leftovers(f->dir()), QStringList());
    }

    void oversizedFirstPictureIsRefused()
    {
        // 33000 x 1: small on disk, but wider than a frame cell can be.
        QVERIFY(testsupport::solid(33000, 1, Qt::red).save(f->file(QStringLiteral("p0.bmp")), "BMP"));
        f->window->File1->refresh();
        f->selectFirst(1);
        f->write(QStringLiteral("1"), f->file(QStringLiteral("walk.bmp")));
        QCOMPARE(f->prompts->texts().size(), 1);
        QVERIFY2(f->prompts->texts().constFirst().contains(QStringLiteral("33000")), qPrintable(f->prompts->texts().constFirst()));
        QVERIFY(!QFile::exists(f->file(QStringLiteral("walk.bmp"))));
    }

    // The real save dialog and the real message boxes, driven as a user would.
    void realDialogsEndToEnd()
    {
        f->window->setPrompts(std::make_unique<Prompts>());
        f->makePictures(3);
        f->selectFirst(3);
        f->window->chkWriteTextFile->setChecked(true);
        f->window->numhFrames->setText(QStringLiteral("0"));
        QStringList seen;
        bool typedName = false;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                seen.append(box->windowTitle() + u'|' + box->text());
                QCOMPARE(box->icon(), QMessageBox::NoIcon);
                QCOMPARE(box->buttons().size(), 1);
                box->button(QMessageBox::Ok)->click();
            } else if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && !typedName) {
                typedName = true;
                QCOMPARE(dialog->directory().absolutePath(), f->dir());
                QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("Window Bitmaps (*.bmp)")});
                QCOMPARE(dialog->defaultSuffix(), QString());
                auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                QVERIFY(name);
                name->setText(QStringLiteral("walk.bmp"));
                QTest::keyClick(name, Qt::Key_Return);
            }
        });
        driver.start(50);
        QTest::mouseClick(f->window->Cmd_Write_File, Qt::LeftButton);
        driver.stop();
        QCOMPARE(seen, QStringList{QStringLiteral(
                           "Corvane|# of horizontal frames must be greater than zero. Resetting to 10 horizontal frame(s).")});
        QVERIFY(typedName);
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.TXT"))), QByteArray("walk.bmp, 3, 3\r\n"));
        verifyStrip(f->file(QStringLiteral("walk.bmp")), expectedStrip(pictures(3), 3, MainWindow::menuBarColor()));

        // Cancelling the real dialog gives the real "Operation Cancelled" box.
        seen.clear();
        typedName = true;
        connect(&driver, &QTimer::timeout, this, [&] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        driver.start(50);
        f->selectFirst(3);
        QTest::mouseClick(f->window->Cmd_Write_File, Qt::LeftButton);
        driver.stop();
        QCOMPARE(seen, QStringList{QStringLiteral("Corvane|Operation Cancelled")});
    }

    // The real dialog stays open on a folder that does not exist, and the question about the
    // shortened name is the one the dialog itself asks, in the same words.
    void realDialogRefusesAMissingFolderAndAsksAboutTheShortenedName()
    {
        f->window->setPrompts(std::make_unique<Prompts>());
        f->makePictures(2);
        testsupport::writeFile(f->file(QStringLiteral("walk.bmp")), "precious");
        testsupport::writeFile(f->file(QStringLiteral("walk.bmp.bmp")), "also precious");
        f->selectFirst(2);
        QStringList seen;
        QStringList parents; // the object names of the boxes' parents
        const QStringList names = {QStringLiteral("nosuch/walk.bmp"), QStringLiteral("walk.bmp.bmp")};
        int typed = 0;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                seen.append(box->windowTitle() + u'|' + box->text());
                parents.append(box->parentWidget() ? box->parentWidget()->objectName() : QString());
                if (box->button(QMessageBox::Yes)) // the dialog's own question: Yes; then ours: No
                    box->button(seen.size() == 2 ? QMessageBox::Yes : QMessageBox::No)->click();
                else
                    box->button(QMessageBox::Ok)->click();
            } else if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && typed == seen.size()
                       && typed < names.size()) {
                auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                QVERIFY(name);
                name->setText(names[typed++]);
                // Queued: the box it opens runs its own loop, in which this timer must fire again.
                QMetaObject::invokeMethod(name, [name] { QTest::keyClick(name, Qt::Key_Return); }, Qt::QueuedConnection);
            }
        });
        driver.start(50);
        QTest::mouseClick(f->window->Cmd_Write_File, Qt::LeftButton);
        driver.stop();
        QCOMPARE(seen.size(), 4);
        QVERIFY2(seen[0].contains(QDir(f->dir()).filePath(QStringLiteral("nosuch"))), qPrintable(seen[0]));
        QCOMPARE(parents.mid(0, 2), (QStringList{QStringLiteral("savebmp"), QStringLiteral("savebmp")}));
        QVERIFY2(seen[1].contains(QStringLiteral("walk.bmp.bmp")), qPrintable(seen[1]));
        QCOMPARE(seen[2], QString(seen[1]).replace(QStringLiteral("walk.bmp.bmp"), QStringLiteral("walk.bmp")));
        QCOMPARE(seen[3], QStringLiteral("Corvane|Operation Cancelled"));
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.bmp"))), QByteArray("precious"));
        QCOMPARE(testsupport::readFile(f->file(QStringLiteral("walk.bmp.bmp"))), QByteArray("also precious"));
    }
};

QTEST_MAIN(TestStripOutput)
#include "tst_stripoutput.moc"
