#include <QtTest>

#include <atomic>
#include <cstdio>
#include <new>

#include "picture/base/threads.h"
#include "strip/bandplan.h"
#include "strip/frames.h"
#include "strip/publish/sheetfile.h"
#include "tests/support/testsupport.h"

namespace {

const QColor background(0xd4, 0xd0, 0xc8);

struct Placed {
    QImage picture;
    QPoint at;
};

// The expected strip, painted here pixel by pixel from hand-written positions.
QImage expectedStrip(QSize size, const QList<Placed> &placed)
{
    QImage out(size, QImage::Format_RGB32);
    out.fill(background);
    for (const Placed &p : placed) {
        const QImage src = p.picture.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x) {
                const QPoint d = p.at + QPoint(x, y);
                if (d.x() < 0 || d.y() < 0 || d.x() >= size.width() || d.y() >= size.height())
                    continue;
                const QRgb s = src.pixel(x, y);
                if (qAlpha(s) == 255)
                    out.setPixel(d, s);
                else if (qAlpha(s) != 0)
                    qFatal("expectedStrip handles opaque and fully transparent pixels only");
            }
    }
    return out;
}

// The pictures as the window's gathering hands them on: decoded, in list order.
QList<strip::SheetSource> sourcesOf(const QList<QImage> &pictures)
{
    QList<strip::SheetSource> sources;
    for (const QImage &p : pictures) {
        strip::SheetSource s;
        s.size = p.size();
        s.decoded = {p};
        sources << s;
    }
    return sources;
}

QList<QImage> patterns(const QList<QSize> &sizes)
{
    QList<QImage> out;
    for (int i = 0; i < sizes.size(); ++i)
        out << testsupport::pattern(sizes[i].width(), sizes[i].height(), 40 * i + 3);
    return out;
}

QList<QImage> squares(int count, int side)
{
    return patterns(QList<QSize>(count, QSize(side, side)));
}

} // namespace

class ComposeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // Lays out and writes a strip as the window does, then compares what Pillow reads from the
    // file with the strip painted here from hand-written positions.
    void check(const QList<QImage> &pictures, double horizontal, QSize size, const QList<QPoint> &origins)
    {
        const strip::StripPlan plan = strip::planStrip(sourcesOf(pictures), int(pictures.size()), horizontal);
        QVERIFY2(plan.ok, qPrintable(plan.message));
        QCOMPARE(plan.cell, pictures[0].size());
        QCOMPARE(QSize(int(plan.job.sheet.width), int(plan.job.sheet.height)), size);
        QList<Placed> placed;
        for (int i = 0; i < pictures.size(); ++i)
            placed << Placed{pictures[i], origins[i]};
        const QImage expected = expectedStrip(size, placed);

        const QString path = m_dir.filePath(QStringLiteral("strip.bmp"));
        const strip::SheetWritten saved = strip::writeSheet(plan.job, path, strip::SheetFormat::Bmp, background);
        QVERIFY2(saved.ok, qPrintable(saved.message));
        QString error;
        const QImage back = testsupport::readWithPillow(path, &error);
        QVERIFY2(!back.isNull(), qPrintable(error));
        QCOMPARE(testsupport::firstDifference(back, expected), QString());
    }

private slots:
    void sevenWithThreeARow()
    {
        check(squares(7, 32), 3, QSize(96, 96), {{0, 0}, {32, 0}, {64, 0}, {0, 32}, {32, 32}, {64, 32}, {0, 64}});
    }

    // Rows of cells taller than one band: each band shows its share of every picture.
    void cellsTallerThanABand()
    {
        check(squares(3, 700), 3, QSize(2100, 700), {{0, 0}, {700, 0}, {1400, 0}});
    }

    void sixPictures_data()
    {
        QTest::addColumn<double>("horizontal");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<QPoint>>("origins");
        QTest::newRow("3 a row: two full rows")
            << 3.0 << QSize(96, 64) << QList<QPoint>{{0, 0}, {32, 0}, {64, 0}, {0, 32}, {32, 32}, {64, 32}};
        QTest::newRow("6 a row: one row")
            << 6.0 << QSize(192, 32) << QList<QPoint>{{0, 0}, {32, 0}, {64, 0}, {96, 0}, {128, 0}, {160, 0}};
    }
    void sixPictures()
    {
        QFETCH(double, horizontal);
        QFETCH(QSize, size);
        QFETCH(QList<QPoint>, origins);
        check(squares(6, 32), horizontal, size, origins);
    }

    void onePictureIsTheStrip()
    {
        check(patterns({QSize(37, 21)}), 1, QSize(37, 21), {{0, 0}});
    }

    // The larger second picture is cut at the right edge and reaches into the cell below,
    // where the fourth picture, drawn later, covers it.
    void largerPictureOverlaps_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("with the fourth picture") << 4;
        QTest::newRow("without it: the overlap stays visible") << 3;
    }
    void largerPictureOverlaps()
    {
        QFETCH(int, count);
        const QList<QImage> pictures = patterns({QSize(32, 32), QSize(48, 48), QSize(32, 32), QSize(32, 32)}).mid(0, count);
        check(pictures, 2, QSize(64, 64), QList<QPoint>{{0, 0}, {32, 0}, {0, 32}, {32, 32}}.mid(0, count));
    }

    void largerFirstPictureLeavesBands()
    {
        const QList<QImage> pictures = patterns({QSize(48, 48), QSize(32, 32), QSize(32, 32), QSize(32, 32), QSize(32, 32)});
        check(pictures, 3, QSize(144, 96), {{0, 0}, {48, 0}, {96, 0}, {0, 48}, {48, 48}});
    }

    void notWholeCount()
    {
        check(squares(5, 32), 2.5, QSize(80, 96), {{0, 0}, {32, 0}, {64, 32}, {32, 32}, {0, 64}});
    }

    // A later run with fewer or smaller pictures over the same file shows nothing of the run
    // before, also when the strip keeps its size.
    void laterRunLeavesNothingOfEarlier_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("side");
        QTest::addColumn<double>("horizontal");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<QPoint>>("origins");
        QTest::newRow("smaller") << 2 << 16 << 2.0 << QSize(32, 16) << QList<QPoint>{{0, 0}, {16, 0}};
        QTest::newRow("same size, fewer") << 4 << 48 << 3.0 << QSize(144, 96)
                                          << QList<QPoint>{{0, 0}, {48, 0}, {96, 0}, {0, 48}};
    }
    void laterRunLeavesNothingOfEarlier()
    {
        QFETCH(int, count);
        QFETCH(int, side);
        QFETCH(double, horizontal);
        QFETCH(QSize, size);
        QFETCH(QList<QPoint>, origins);
        QList<QImage> first;
        for (int i = 0; i < 6; ++i)
            first << testsupport::solid(48, 48, Qt::red);
        check(first, 3, QSize(144, 96), {{0, 0}, {48, 0}, {96, 0}, {0, 48}, {48, 48}, {96, 48}});
        check(squares(count, side), horizontal, size, origins);
    }

    void transparentPixelsShowBackground()
    {
        QImage icon(16, 16, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        for (int i = 0; i < 16; ++i)
            icon.setPixel(i, i, qRgba(0, 0, 255, 255));
        check({icon, icon}, 2, QSize(32, 16), {{0, 0}, {16, 0}});
    }

    void firstPictureTooLarge_data()
    {
        QTest::addColumn<QSize>("first");
        QTest::addColumn<QString>("message");
        QTest::newRow("too wide") << QSize(33000, 1)
                                  << QStringLiteral("The strip cannot be made: its first picture is 33000 x 1 pixels; "
                                                    "a frame may be at most 32767 pixels a side.");
        QTest::newRow("too tall") << QSize(2, 32768)
                                  << QStringLiteral("The strip cannot be made: its first picture is 2 x 32768 pixels; "
                                                    "a frame may be at most 32767 pixels a side.");
    }
    void firstPictureTooLarge()
    {
        QFETCH(QSize, first);
        QFETCH(QString, message);
        const strip::StripPlan r = strip::planStrip(sourcesOf({QImage(first, QImage::Format_RGB888), testsupport::solid(4, 4, Qt::red)}), 2, 2);
        QVERIFY(!r.ok);
        QCOMPARE(r.message, message);
        QVERIFY(r.cell.isEmpty()); // the window's cell size stays as it was
    }

    // Refused before anything is written: its size is named.
    void stripTooLarge_data()
    {
        QTest::addColumn<QSize>("first");
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("horizontal");
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<QString>("size");
        QTest::newRow("beyond a bitmap's 4 GB") << QSize(32000, 500) << 100 << 100.0 << (qint64(6) << 30)
                                                << QStringLiteral("3200000 x 500 pixels");
        QTest::newRow("beyond the memory budget") << QSize(32, 32) << 100 << 10.0 << (qint64(16) << 10)
                                                  << QStringLiteral("320 x 320 pixels");
    }
    void stripTooLarge()
    {
        QFETCH(QSize, first);
        QFETCH(int, frames);
        QFETCH(double, horizontal);
        QFETCH(qint64, budget);
        QFETCH(QString, size);
        QList<QImage> pictures{QImage(first, QImage::Format_RGB888)};
        pictures.first().fill(Qt::red);
        for (int i = 1; i < frames; ++i)
            pictures << testsupport::solid(1, 1, Qt::red);
        picture::Budget limits;
        limits.maxTotalBytes = budget;
        const strip::StripPlan r = strip::planStrip(sourcesOf(pictures), frames, horizontal, limits);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("The strip cannot be made: ")), qPrintable(r.message));
        QVERIFY2(r.message.contains(size), qPrintable(r.message));
    }

    // Pictures come in list order, each at its own size.
    void gatherInListOrder()
    {
        QTemporaryDir dir;
        QStringList paths;
        const QList<QSize> sizes{QSize(5, 7), QSize(9, 3), QSize(4, 4)};
        for (int i = 0; i < sizes.size(); ++i) {
            paths << dir.filePath(QStringLiteral("p%1.bmp").arg(i));
            QVERIFY(testsupport::pattern(sizes[i].width(), sizes[i].height(), i).save(paths.last(), "BMP"));
        }
        const strip::GatherResult r = strip::loadPictures(paths);
        QVERIFY2(r.ok(), qPrintable(r.failure.message));
        QCOMPARE(r.loaded(), 3);
        for (int i = 0; i < sizes.size(); ++i) {
            QCOMPARE(r.pictures[i].size, sizes[i]);
            QCOMPARE(testsupport::firstDifference(r.pictures[i].decoded.constFirst(),
                                                  testsupport::pattern(sizes[i].width(), sizes[i].height(), i)),
                     QString());
        }
    }

    // The first file that cannot be loaded stops the gathering; the ones before it are in place.
    void gatherStopsAtFirstFailure()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("good.bmp"));
        const QString gone = dir.filePath(QStringLiteral("gone.bmp"));
        const QString later = dir.filePath(QStringLiteral("later.bmp"));
        QVERIFY(testsupport::solid(3, 3, Qt::red).save(good, "BMP"));
        QVERIFY(testsupport::solid(3, 3, Qt::red).save(later, "BMP"));
        const strip::GatherResult r = strip::loadPictures({good, gone, later});
        QVERIFY(!r.ok());
        QCOMPARE(r.loaded(), 1);
        QCOMPARE(r.failure.error, picture::LoadError::Missing);
        QVERIFY2(r.failure.message.contains(gone), qPrintable(r.failure.message));
    }

    // A file opened for a sheet is opened once: what happens to it on disk afterwards changes
    // nothing drawn, or, when it is read again from the open file and no longer holds the bytes
    // its header was checked in, it is refused as damaged, with nothing written.
    void changedAfterItWasOpened_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("renamed"); // another file renamed over it, or it rewritten in place
        QTest::addColumn<bool>("cut");     // cut to half its length in place
        QTest::addColumn<bool>("written");
        QTest::newRow("small picture rewritten") << QSize(20, 10) << false << false << true;
        QTest::newRow("small picture renamed over") << QSize(20, 10) << true << false << true;
        // From 64 KB a file is read again from the same open file, and must be the bytes checked.
        QTest::newRow("larger picture rewritten") << QSize(200, 120) << false << false << false;
        QTest::newRow("larger picture renamed over") << QSize(200, 120) << true << false << true;
        QTest::newRow("large bitmap renamed over") << QSize(1300, 1200) << true << false << true;
        QTest::newRow("large bitmap cut short") << QSize(1300, 1200) << false << true << false;
    }
    void changedAfterItWasOpened()
    {
        QFETCH(QSize, size);
        QFETCH(bool, renamed);
        QFETCH(bool, cut);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("frame.bmp"));
        QVERIFY(testsupport::solid(size.width(), size.height(), Qt::red).save(path, "BMP"));
        strip::SheetJob job;
        const strip::GatherResult gathered = strip::gather({path}, job.budget, {false, false, false});
        QVERIFY2(gathered.ok(), qPrintable(gathered.failure.message));
        const strip::SheetSource &source = gathered.pictures.first();
        job.sources = {source};
        job.frames = {{0, 0}};
        job.sheet = strip::arrangeSheet(1, source.size, {});

        const QString other = dir.filePath(QStringLiteral("other.bmp"));
        QVERIFY(testsupport::solid(size.width() / 2, size.height() / 2, Qt::blue).save(other, "BMP"));
        if (renamed) {
            QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            if (cut)
                QVERIFY(file.resize(file.size() / 2));
            else
                QVERIFY(file.write(testsupport::readFile(other)) > 0 && file.resize(file.pos()));
        }

        const QString out = dir.filePath(QStringLiteral("sheet.bmp"));
        const strip::SheetWritten saved = strip::writeSheet(job, out, strip::SheetFormat::Bmp, background);
        QCOMPARE(saved.ok, written);
        QCOMPARE(QFileInfo::exists(out), written);
        if (!written) {
            QVERIFY2(saved.inputFailed && saved.message.contains(QStringLiteral("damaged")), qPrintable(saved.message));
            return;
        }
        QString readError;
        const QImage back = testsupport::readWithPillow(out, &readError);
        QVERIFY2(!back.isNull(), qPrintable(readError));
        QCOMPARE(back.size(), size);
        QCOMPARE(back.pixelColor(size.width() - 1, size.height() - 1), QColor(Qt::red));
    }

    // Pictures that each fit but together pass the command's memory budget: the one that
    // passes it is named, as too large.
    void gatherKeepsToTheBudget()
    {
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 4; ++i) {
            paths << dir.filePath(QStringLiteral("p%1.bmp").arg(i));
            QVERIFY(testsupport::solid(100, 100, Qt::blue).save(paths.last(), "BMP"));
        }
        picture::Budget budget;
        budget.maxTotalBytes = 2 * picture::decodedBytes(100, 100) + 1;
        const strip::GatherResult r = strip::loadPictures(paths, budget);
        QVERIFY(!r.ok());
        QCOMPARE(r.loaded(), 2);
        QCOMPARE(r.failure.error, picture::LoadError::TooLarge);
        QVERIFY2(r.failure.message.startsWith(QStringLiteral("Cannot load ") + paths[2] + QStringLiteral(": ")),
                 qPrintable(r.failure.message));
    }

    void noColumnIsRefused()
    {
        const strip::StripPlan r = strip::planStrip(sourcesOf(squares(3, 8)), 3, 0.5);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("The strip cannot be made: ")), qPrintable(r.message));
    }

    // Whatever order the bands come in (a bitmap's from the bottom up), an animation is read
    // forward, every frame it shows once: never from its start again for a later band.
    void animationReadForwardOnce_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("fill");
        QTest::addColumn<int>("frameHeight");
        for (const int order : {int(strip::BandOrder::TopDown), int(strip::BandOrder::BottomUp)})
            for (const int fill : {int(strip::Fill::Rows), int(strip::Fill::Columns)})
                for (const int columns : {1, 3})
                    for (const int height : {5, 3000}) // one band a row, or several
                        QTest::addRow("%s, %s, %d a row, %d high", order ? "bottom up" : "top down", fill ? "by columns" : "by rows",
                                      columns, height) << order << columns << fill << height;
    }

    void animationReadForwardOnce()
    {
        QFETCH(int, order);
        QFETCH(int, columns);
        QFETCH(int, fill);
        QFETCH(int, frameHeight);
        strip::SheetJob job;
        job.bytesPerPixel = 3;
        for (int s = 0; s < 2; ++s) { // a still picture, then a 12-frame animation
            strip::SheetSource source;
            source.allFrames = s == 1;
            source.frames = s == 1 ? 12 : 1;
            source.size = QSize(700, frameHeight);
            for (int f = 0; f < source.frames; ++f)
                job.frames.append({s, f});
            job.sources.append(source);
        }
        strip::SheetOptions layout;
        layout.columns = columns;
        layout.fill = strip::Fill(fill);
        job.sheet = strip::arrangeSheet(int(job.frames.size()), QSize(700, frameHeight), layout);
        const strip::BandPlan plan = strip::planSheet(job, strip::BandOrder(order));
        QList<int> read;
        for (const std::span<const int> band : plan.decodes)
            for (const int k : band)
                if (plan.pieces[size_t(k)].source == 1)
                    read.append(plan.pieces[size_t(k)].frame);
        QCOMPARE(read, QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
        // And every frame is drawn in every band that shows it.
        QList<int> drawn;
        for (const std::span<const int> band : plan.draws)
            for (const int i : band)
                if (!drawn.contains(i))
                    drawn.append(i);
        QCOMPARE(drawn.size(), job.frames.size());
    }

    // Each frame is drawn in exactly the bands that its reach on the sheet (the picture where
    // the anchor puts it, its cell's extruded edges) meets, whatever the order frames come in
    // along the bands: rows, columns, pictures that reach into the rows above or below,
    // rows cut into several bands, either end first.
    void everyFrameInTheBandsItReaches_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("fill");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QSize>("cell");
        QTest::addColumn<QList<QSize>>("pictures"); // taken in turn, frame after frame
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("extrude");            // with padding and margin of as much again, clipped
        const QList<QSize> even{QSize(8, 6)};
        const QList<QSize> mixed{QSize(8, 6), QSize(8, 20), QSize(3, 2), QSize(8, 40), QSize(8, 6)};
        for (const int order : {int(strip::BandOrder::TopDown), int(strip::BandOrder::BottomUp)}) {
            const char *end = order ? "bottom up" : "top down";
            auto row = [&](const char *name, int columns, strip::Fill fill, int frames, QSize cell, const QList<QSize> &pictures,
                           strip::Anchor anchor, int extrude) {
                QTest::addRow("%s, %s", name, end) << order << columns << int(fill) << frames << cell << pictures
                                                   << int(anchor) << extrude;
            };
            row("one a row", 1, strip::Fill::Rows, 300, QSize(8, 6), even, strip::Anchor::TopLeft, 0);
            row("taller pictures run into the rows below", 1, strip::Fill::Rows, 120, QSize(8, 6), mixed, strip::Anchor::TopLeft, 0);
            row("taller pictures stand up into the rows above", 2, strip::Fill::Rows, 121, QSize(8, 6), mixed, strip::Anchor::Bottom, 0);
            row("centred, by columns", 4, strip::Fill::Columns, 137, QSize(8, 6), mixed, strip::Anchor::Center, 0);
            row("by columns, extruded", 3, strip::Fill::Columns, 100, QSize(8, 6), even, strip::Anchor::TopLeft, 2);
            row("rows of several bands", 1, strip::Fill::Rows, 9, QSize(700, 3000), {QSize(700, 3000), QSize(700, 7000)},
                strip::Anchor::TopLeft, 0);
            row("rows of several bands, by columns, standing", 2, strip::Fill::Columns, 9, QSize(700, 3000),
                {QSize(700, 3000), QSize(700, 7000)}, strip::Anchor::Bottom, 1);
        }
    }

    void everyFrameInTheBandsItReaches()
    {
        QFETCH(int, order);
        QFETCH(int, columns);
        QFETCH(int, fill);
        QFETCH(int, frames);
        QFETCH(QSize, cell);
        QFETCH(QList<QSize>, pictures);
        QFETCH(int, anchor);
        QFETCH(int, extrude);
        strip::SheetJob job;
        job.bytesPerPixel = 3;
        for (int i = 0; i < frames; ++i) {
            strip::SheetSource source;
            source.size = pictures[i % pictures.size()];
            job.sources.append(source);
            job.frames.append({i, 0});
        }
        strip::SheetOptions layout;
        layout.columns = columns;
        layout.fill = strip::Fill(fill);
        layout.anchor = strip::Anchor(anchor);
        layout.extrude = extrude;
        layout.padding = extrude;
        layout.margin = extrude;
        layout.clip = extrude > 0;
        layout.cell = cell;
        job.sheet = strip::arrangeSheet(frames, cell, layout);
        const strip::BandPlan plan = strip::planSheet(job, strip::BandOrder(order));
        QCOMPARE(plan.draws.size(), size_t(plan.bands.size()));
        QStringList wrong;
        for (qsizetype b = 0; b < plan.bands.size(); ++b) {
            const strip::Band &band = plan.bands[b];
            QList<int> want;
            for (int i = 0; i < frames; ++i) {
                const QRect reach = job.sheet.reach(i, job.sheet.drawn(i, job.sources[i].size));
                if (!reach.isEmpty() && reach.top() < band.end && qint64(reach.top()) + reach.height() > band.top)
                    want.append(i);
            }
            const std::span<const int> drawn = plan.draws[size_t(b)];
            if (QList<int>(drawn.begin(), drawn.end()) != want)
                wrong.append(QStringLiteral("band %1 (rows %2 to %3)").arg(b).arg(band.top).arg(band.end));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", "))));
        QVERIFY(plan.bands.size() > 8); // enough bands that a search has somewhere to go wrong
    }

    // Work that fails on a thread of its own fails the caller, once every thread is done,
    // instead of ending the program.
    void failureOnAThreadReachesTheCaller()
    {
        std::atomic<int> done{0};
        bool thrown = false;
        try {
            picture::forEachOnThreads(64, [&](std::ptrdiff_t k) {
                if (k == 5)
                    throw std::bad_alloc();
                ++done;
            });
        } catch (const std::bad_alloc &) {
            thrown = true;
        }
        QVERIFY(thrown);
        QVERIFY(done >= 1);
    }
};

QTEST_GUILESS_MAIN(ComposeTest)
#include "tst_compose.moc"
