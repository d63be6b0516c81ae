// Strips and lists large enough for the write command's fast paths: pictures decoded by worker
// threads and kept in large pages, strips of many bands composed straight into their file,
// files of many megabytes written in pieces. Every result is held against a plain reference:
// the list order, Qt's own painter, and Pillow reading the file.

#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include "picture/codecs/bitmapfile.h"
#include "picture/base/savefile.h"
#include "picture/pixels/largepages.h"
#include "strip/frames.h"
#include "strip/publish/sheetfile.h"
#include "tests/support/testsupport.h"

namespace {

// A picture in the given format whose pixels all differ from those of other seeds; with alpha,
// a ring of transparency around an opaque middle and fully clear corners.
QImage sample(int w, int h, int seed, QImage::Format format)
{
    QImage img = testsupport::pattern(w, h, seed);
    if (format == QImage::Format_ARGB32 || format == QImage::Format_ARGB32_Premultiplied) {
        img = img.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int d = std::max(std::abs(2 * x - w) * 255 / w, std::abs(2 * y - h) * 255 / h);
                const QRgb p = img.pixel(x, y);
                img.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), std::clamp(400 - 2 * d, 0, 255)));
            }
    }
    return img.convertToFormat(format);
}

struct Case {
    QList<QImage> pictures;
    QList<QPoint> at;
    QSize size;
};

// What Qt's painter makes of the same pictures at the same places over the background.
QImage painted(const Case &c, const QColor &background)
{
    QImage out(c.size, QImage::Format_RGB32);
    out.fill(background);
    QPainter painter(&out);
    for (int i = 0; i < c.pictures.size(); ++i)
        painter.drawImage(c.at[i], c.pictures[i]);
    return out;
}

// Each case is several megabytes, so that it takes large pages and several threads.
Case grid(const QList<QSize> &sizes, const QList<QImage::Format> &formats, int perRow)
{
    Case c;
    const QSize cell = sizes[0];
    for (int i = 0; i < sizes.size(); ++i) {
        c.pictures << sample(sizes[i].width(), sizes[i].height(), 7 * i + 1, formats[i % formats.size()]);
        c.at << QPoint(i % perRow * cell.width(), i / perRow * cell.height());
    }
    const int rows = int((sizes.size() + perRow - 1) / perRow);
    c.size = QSize(perRow * cell.width(), rows * cell.height());
    return c;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class LargeStripsTest : public QObject
{
    Q_OBJECT

private slots:
    // Files 0 .. n-1 of a long list, some of them failing: the first failure in the list is the
    // one reported, whichever thread met it first, and exactly the files before it are held.
    void gatherReportsTheFirstFailureInListOrder_data()
    {
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<QList<int>>("notPictures");
        QTest::addColumn<int>("first");
        QTest::newRow("none") << QList<int>{} << QList<int>{} << -1;
        QTest::newRow("the first file") << QList<int>{0} << QList<int>{} << 0;
        QTest::newRow("one in the middle") << QList<int>{25} << QList<int>{} << 25;
        QTest::newRow("two side by side") << QList<int>{26} << QList<int>{25} << 25;
        QTest::newRow("an early and a late one") << QList<int>{3} << QList<int>{40} << 3;
        QTest::newRow("a late one before a later one") << QList<int>{58} << QList<int>{57} << 57;
        QTest::newRow("the last file") << QList<int>{} << QList<int>{59} << 59;
    }
    void gatherReportsTheFirstFailureInListOrder()
    {
        QFETCH(QList<int>, missing);
        QFETCH(QList<int>, notPictures);
        QFETCH(int, first);
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 60; ++i) {
            paths << dir.filePath(QStringLiteral("p%1.bmp").arg(i, 2, 10, QLatin1Char('0')));
            if (notPictures.contains(i))
                writeBytes(paths.last(), "this is text, not a picture");
            else if (!missing.contains(i))
                QVERIFY(testsupport::pattern(40 + i, 30, i).save(paths.last(), "BMP"));
        }
        const strip::GatherResult r = strip::loadPictures(paths);
        const int held = first < 0 ? 60 : first;
        QCOMPARE(r.ok(), first < 0);
        QCOMPARE(r.loaded(), held);
        if (first >= 0) {
            QCOMPARE(r.failure.error, missing.contains(first) ? picture::LoadError::Missing
                                                              : picture::LoadError::NotAPicture);
            QVERIFY2(r.failure.message.startsWith(QStringLiteral("Cannot load ") + paths[first] + u':'),
                     qPrintable(r.failure.message));
        }
        for (int i = 0; i < held; ++i)
            QCOMPARE(testsupport::firstDifference(r.pictures[i].decoded.constFirst(), testsupport::pattern(40 + i, 30, i)),
                     QString());
    }

    // Pictures that pass the command's budget together: the one that passes it is named, after
    // all those before it, however the files were shared out between threads.
    void gatherStopsAtTheFilePastTheBudget_data()
    {
        QTest::addColumn<int>("fit");
        QTest::newRow("after one") << 1;
        QTest::newRow("after 37") << 37;
        QTest::newRow("after 59") << 59;
    }
    void gatherStopsAtTheFilePastTheBudget()
    {
        QFETCH(int, fit);
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 60; ++i) {
            paths << dir.filePath(QStringLiteral("p%1.bmp").arg(i));
            QVERIFY(testsupport::pattern(100, 100, i).save(paths.last(), "BMP"));
        }
        picture::Budget budget;
        budget.maxTotalBytes = fit * picture::decodedBytes(100, 100) + 1;
        const strip::GatherResult r = strip::loadPictures(paths, budget);
        QVERIFY(!r.ok());
        QCOMPARE(r.loaded(), fit);
        QCOMPARE(r.failure.error, picture::LoadError::TooLarge);
        QVERIFY2(r.failure.message.startsWith(QStringLiteral("Cannot load ") + paths[fit] + QStringLiteral(": ")),
                 qPrintable(r.failure.message));
    }

    // What the gathering keeps is what the loader gives, pixel for pixel and in its format, for
    // small pictures sharing memory and for pictures larger than a large page.
    void heldPicturesAreTheLoadedOnes()
    {
        QTemporaryDir dir;
        QStringList paths;
        const QList<QSize> sizes{QSize(1100, 700), QSize(33, 17), QSize(1, 1), QSize(257, 255),
                                 QSize(1500, 1000), QSize(64, 64), QSize(2000, 1300)};
        for (int i = 0; i < sizes.size(); ++i) {
            const QImage img = testsupport::pattern(sizes[i].width(), sizes[i].height(), i);
            paths << dir.filePath(QStringLiteral("p%1.%2").arg(i).arg(i % 2 ? u"bmp" : u"jpg"));
            QVERIFY(img.save(paths.last(), i % 2 ? "BMP" : "JPEG", 90));
        }
        const strip::GatherResult r = strip::loadPictures(paths);
        QVERIFY2(r.ok(), qPrintable(r.failure.message));
        for (int i = 0; i < sizes.size(); ++i) {
            const QImage &held = r.pictures[i].decoded.constFirst();
            const QImage direct = picture::load(paths[i]).image;
            QCOMPARE(held.format(), direct.format());
            QCOMPARE(held.size(), direct.size());
            QCOMPARE(testsupport::firstDifference(held, direct), QString());
        }
    }

    // Pictures that share pages: when one of them goes, its neighbours keep every pixel.
    void droppingAPictureLeavesItsNeighbours()
    {
        QList<QImage> kept;
        QList<QImage> expected;
        for (int i = 0; i < 40; ++i) {
            // Sizes that are not multiples of a page, so that neighbours share pages.
            const QImage img = sample(37 + 13 * i, 29 + 7 * i, i, i % 3 ? QImage::Format_RGB888
                                                                          : QImage::Format_ARGB32_Premultiplied);
            expected << img.copy();
            kept << picture::inLargePages(img);
        }
        for (int i = 1; i < 40; i += 2)
            kept[i] = QImage();
        for (int i = 0; i < 40; i += 2) {
            QCOMPARE(kept[i].format(), expected[i].format());
            QCOMPARE(testsupport::firstDifference(kept[i], expected[i]), QString());
        }
    }

    // Strips of several megabytes, composed band by band into their file: Pillow reads from it
    // the strip Qt's painter makes of the same pictures.
    void largeStripIsThePaintedOne_data()
    {
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::addColumn<QList<QImage::Format>>("formats");
        QTest::addColumn<int>("perRow");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<int>("tolerance");
        const QList<QImage::Format> opaque{QImage::Format_RGB888, QImage::Format_RGB32};
        QTest::newRow("opaque cells, every pixel covered")
            << QList<QSize>(12, QSize(300, 200)) << opaque << 3 << QColor(0xef, 0xef, 0xef) << 0;
        QTest::newRow("a last row left open")
            << QList<QSize>(11, QSize(300, 200)) << opaque << 3 << QColor(0xd4, 0xd0, 0xc8) << 0;
        QTest::newRow("larger pictures run into their neighbours")
            << QList<QSize>{QSize(300, 200), QSize(450, 260), QSize(120, 90), QSize(300, 200), QSize(700, 50),
                            QSize(300, 420), QSize(10, 10), QSize(300, 200), QSize(301, 201), QSize(299, 199)}
            << opaque << 3 << QColor(0xd4, 0xd0, 0xc8) << 0;
        QTest::newRow("a larger first picture leaves bands of background")
            << (QList<QSize>{QSize(500, 400)} + QList<QSize>(8, QSize(200, 100))) << opaque << 3
            << QColor(10, 200, 30) << 0;
        QTest::newRow("transparent parts show the background")
            << QList<QSize>(9, QSize(400, 300)) << QList<QImage::Format>{QImage::Format_ARGB32_Premultiplied} << 3
            << QColor(0xd4, 0xd0, 0xc8) << 1;
        QTest::newRow("every format, some larger than their cell")
            << QList<QSize>{QSize(400, 300), QSize(480, 330), QSize(400, 300), QSize(100, 600), QSize(400, 300),
                            QSize(400, 300), QSize(800, 100), QSize(400, 300), QSize(400, 300)}
            << QList<QImage::Format>{QImage::Format_RGB888, QImage::Format_BGR888, QImage::Format_RGB32,
                                     QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32,
                                     QImage::Format_Indexed8, QImage::Format_RGB16}
            << 3 << QColor(0xef, 0xef, 0xef) << 1;
    }
    void largeStripIsThePaintedOne()
    {
        QFETCH(QList<QSize>, sizes);
        QFETCH(QList<QImage::Format>, formats);
        QFETCH(int, perRow);
        QFETCH(QColor, background);
        QFETCH(int, tolerance);
        const Case c = grid(sizes, formats, perRow);
        QVERIFY(qint64(c.size.width()) * c.size.height() * 3 > 2 * 1024 * 1024);

        QList<strip::SheetSource> sources;
        for (const QImage &p : c.pictures) {
            strip::SheetSource source;
            source.size = p.size();
            source.decoded = {p};
            sources << source;
        }
        const strip::StripPlan plan = strip::planStrip(sources, int(sources.size()), perRow);
        QVERIFY2(plan.ok, qPrintable(plan.message));
        QCOMPARE(QSize(int(plan.job.sheet.width), int(plan.job.sheet.height)), c.size);
        const QImage expected = painted(c, background);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));
        const strip::SheetWritten saved = strip::writeSheet(plan.job, path, strip::SheetFormat::Bmp, background);
        QVERIFY2(saved.ok, qPrintable(saved.message));
        QString error;
        const QImage back = testsupport::readWithPillow(path, &error);
        QVERIFY2(!back.isNull(), qPrintable(error));
        QCOMPARE(testsupport::firstDifference(back, expected, tolerance), QString());
    }

    // A file of many megabytes produced in uneven pieces arrives whole, and alone.
    void largeFileInManyPieces()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.bin"));
        QByteArray bytes(20 * 1024 * 1024 + 13, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 2654435761u) >> 13);
        const picture::SaveResult saved = picture::saveAtomically(path, [&](picture::SaveSink &sink) {
            constexpr qsizetype piece = 999983;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                if (!sink.write(bytes.constData() + at, std::min(piece, bytes.size() - at)))
                    return false;
            return true;
        });
        QVERIFY2(saved.ok, qPrintable(saved.message));
        QVERIFY(testsupport::readFile(path) == bytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("large.bin")});
    }
};

QTEST_GUILESS_MAIN(LargeStripsTest)
#include "tst_largestrips.moc"
