#include <QtTest>

#include "strip/sheet.h"

using Points = QList<QPoint>;

class GridTest : public QObject
{
    Q_OBJECT

private slots:
    void roundingHalfToEven_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<qlonglong>("rounded");
        QTest::newRow("0.5") << 0.5 << 0LL;
        QTest::newRow("1.5") << 1.5 << 2LL;
        QTest::newRow("2.5") << 2.5 << 2LL;
        QTest::newRow("3.5") << 3.5 << 4LL;
        QTest::newRow("2.4") << 2.4 << 2LL;
        QTest::newRow("2.6") << 2.6 << 3LL;
        QTest::newRow("0.51") << 0.51 << 1LL;
        QTest::newRow("-2.5") << -2.5 << -2LL;
        QTest::newRow("huge") << 1e300 << std::numeric_limits<qlonglong>::max();
    }
    void roundingHalfToEven()
    {
        QFETCH(double, value);
        QFETCH(qlonglong, rounded);
        QCOMPARE(strip::roundHalfEven(value), rounded);
    }

    void layout_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("horizontal");
        QTest::addColumn<QSize>("cell");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Points>("origins");
        const QSize c32(32, 32);
        QTest::newRow("7 with 3 a row")
            << 7 << 3.0 << c32 << 3 << 3 << QSize(96, 96)
            << Points{{0, 0}, {32, 0}, {64, 0}, {0, 32}, {32, 32}, {64, 32}, {0, 64}};
        QTest::newRow("6 with 3 a row: two full rows")
            << 6 << 3.0 << c32 << 3 << 2 << QSize(96, 64)
            << Points{{0, 0}, {32, 0}, {64, 0}, {0, 32}, {32, 32}, {64, 32}};
        QTest::newRow("6 with 6 a row: one row")
            << 6 << 6.0 << c32 << 6 << 1 << QSize(192, 32)
            << Points{{0, 0}, {32, 0}, {64, 0}, {96, 0}, {128, 0}, {160, 0}};
        QTest::newRow("one picture") << 1 << 1.0 << QSize(17, 9) << 1 << 1 << QSize(17, 9) << Points{{0, 0}};
        QTest::newRow("cells not square")
            << 5 << 2.0 << QSize(10, 4) << 2 << 3 << QSize(20, 12)
            << Points{{0, 0}, {10, 0}, {0, 4}, {10, 4}, {0, 8}};
        // Not whole: width from the real count, rows from the rounded one, and pictures below
        // the real count keep going along the first row's x.
        QTest::newRow("2.5, 5 pictures")
            << 5 << 2.5 << c32 << 2 << 3 << QSize(80, 96)
            << Points{{0, 0}, {32, 0}, {64, 32}, {32, 32}, {0, 64}};
        QTest::newRow("2.5, 3 pictures")
            << 3 << 2.5 << c32 << 2 << 2 << QSize(80, 64) << Points{{0, 0}, {32, 0}, {64, 32}};
        QTest::newRow("2.5, 2 pictures") << 2 << 2.5 << c32 << 2 << 1 << QSize(80, 32) << Points{{0, 0}, {32, 0}};
        QTest::newRow("3.5 rounds up to 4 columns")
            << 6 << 3.5 << c32 << 4 << 2 << QSize(112, 64)
            << Points{{0, 0}, {32, 0}, {64, 0}, {96, 0}, {0, 32}, {32, 32}};
        QTest::newRow("3.4, fourth picture still on the real count")
            << 5 << 3.4 << QSize(10, 10) << 3 << 2 << QSize(34, 20)
            << Points{{0, 0}, {10, 0}, {20, 0}, {30, 10}, {10, 10}};
        QTest::newRow("2.5 x 33 pixels: width rounded half away from zero")
            << 2 << 2.5 << QSize(33, 5) << 2 << 1 << QSize(83, 5) << Points{{0, 0}, {33, 0}};
    }
    void layout()
    {
        QFETCH(int, frames);
        QFETCH(double, horizontal);
        QFETCH(QSize, cell);
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(QSize, size);
        QFETCH(Points, origins);
        const strip::Sheet g = strip::windowSheet(frames, horizontal, cell);
        QVERIFY(g.valid());
        QCOMPARE(g.columns, columns);
        QCOMPARE(g.rows, rows);
        QCOMPARE(g.width, qint64(size.width()));
        QCOMPARE(g.height, qint64(size.height()));
        Points got;
        for (int i = 0; i < frames; ++i)
            got << g.origin(i);
        QCOMPARE(got, origins);
    }

    void hundredPictures_data()
    {
        QTest::addColumn<double>("horizontal");
        QTest::newRow("10 a row") << 10.0;
        QTest::newRow("100 a row") << 100.0;
        QTest::newRow("7 a row") << 7.0;
    }
    // Whole counts give the ordinary grid: row-major cells, last row possibly short.
    void hundredPictures()
    {
        QFETCH(double, horizontal);
        const int n = int(horizontal);
        const strip::Sheet g = strip::windowSheet(100, horizontal, QSize(24, 18));
        QCOMPARE(g.columns, n);
        QCOMPARE(g.rows, (100 + n - 1) / n);
        QCOMPARE(g.width, qint64(24) * n);
        QCOMPARE(g.height, qint64(18) * g.rows);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(g.origin(i), QPoint((i % n) * 24, (i / n) * 18));
    }

    void invalid_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<double>("horizontal");
        QTest::newRow("0.5 rounds to no column") << 5 << 0.5;
        QTest::newRow("0.3") << 5 << 0.3;
        QTest::newRow("0") << 5 << 0.0;
        QTest::newRow("negative") << 5 << -2.0;
        QTest::newRow("not a number") << 5 << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("no pictures") << 0 << 3.0;
    }
    void invalid()
    {
        QFETCH(int, frames);
        QFETCH(double, horizontal);
        QVERIFY(!strip::windowSheet(frames, horizontal, QSize(32, 32)).valid());
    }

    // Far too wide a request stays far too wide (to be refused), never wraps to a small size.
    void hugeWidthDoesNotWrap()
    {
        const strip::Sheet g = strip::windowSheet(1, 1e300, QSize(32767, 32767));
        QVERIFY(g.valid());
        QVERIFY(g.width > qint64(std::numeric_limits<int>::max()));
        const strip::Sheet h = strip::windowSheet(100, 100, QSize(32767, 32767));
        QCOMPARE(h.width, qint64(3276700));
    }

    // Where a picture of another size than its cell shows, for each anchor, clipped to the cell
    // or running over it; and what an extruded cell's drawing reaches.
    void placementInTheCell_data()
    {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<bool>("clip");
        QTest::addColumn<int>("extrude");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("shown");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QRect>("reach");
        // Frame 1 of a 2-column sheet of 10 x 8 cells, 2 pixels of padding: its cell is at (12, 0), or
        // at (18, 2) when each cell takes 2 pixels of extruded edge on every side.
        const int topLeft = int(strip::Anchor::TopLeft), centre = int(strip::Anchor::Center),
                  bottom = int(strip::Anchor::Bottom);
        QTest::newRow("smaller, top left") << topLeft << true << 0 << QSize(4, 2) << QRect(12, 0, 4, 2) << QPoint(0, 0) << QRect(12, 0, 4, 2);
        QTest::newRow("smaller, centred") << centre << true << 0 << QSize(4, 2) << QRect(15, 3, 4, 2) << QPoint(0, 0) << QRect(15, 3, 4, 2);
        QTest::newRow("smaller, bottom centre") << bottom << true << 0 << QSize(4, 2) << QRect(15, 6, 4, 2) << QPoint(0, 0) << QRect(15, 6, 4, 2);
        QTest::newRow("odd difference, centred") << centre << true << 0 << QSize(5, 3) << QRect(14, 2, 5, 3) << QPoint(0, 0) << QRect(14, 2, 5, 3);
        QTest::newRow("larger, centred, clipped") << centre << true << 0 << QSize(14, 12) << QRect(12, 0, 10, 8) << QPoint(2, 2) << QRect(12, 0, 10, 8);
        QTest::newRow("larger, bottom, clipped") << bottom << true << 0 << QSize(14, 12) << QRect(12, 0, 10, 8) << QPoint(2, 4) << QRect(12, 0, 10, 8);
        QTest::newRow("larger, top left, running over") << topLeft << false << 0 << QSize(14, 12) << QRect(12, 0, 10, 12) << QPoint(0, 0) << QRect(12, 0, 10, 12);
        QTest::newRow("larger, odd difference, centred, running over") << centre << false << 0 << QSize(13, 9) << QRect(10, 0, 12, 8) << QPoint(0, 1) << QRect(10, 0, 12, 8);
        QTest::newRow("extruded by 2") << topLeft << true << 2 << QSize(10, 8) << QRect(18, 2, 10, 8) << QPoint(0, 0) << QRect(16, 0, 14, 12);
    }
    void placementInTheCell()
    {
        QFETCH(int, anchor);
        QFETCH(bool, clip);
        QFETCH(int, extrude);
        QFETCH(QSize, picture);
        QFETCH(QRect, shown);
        QFETCH(QPoint, from);
        QFETCH(QRect, reach);
        strip::SheetOptions options;
        options.columns = 2;
        options.padding = 2;
        options.cell = QSize(10, 8);
        options.clip = clip;
        options.anchor = strip::Anchor(anchor);
        options.extrude = extrude;
        const strip::Sheet sheet = strip::arrangeSheet(4, QSize(1, 1), options);
        const strip::Sheet::Drawn d = sheet.drawn(1, picture);
        QCOMPARE(d.shown, shown);
        QCOMPARE(d.from, from);
        QCOMPARE(sheet.reach(1, d), reach);
    }
};

QTEST_GUILESS_MAIN(GridTest)
#include "tst_grid.moc"
