#include <QFile>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <new>

#include <unistd.h>

#include "picture/pixels/largepages.h"
#include "picture/pixels/rgbaband.h"
#include "picture/pixels/surface.h"
#include "tests/support/testsupport.h"

using picture::Surface;

namespace {

// When above 0, the allocation that must not throw which brings it to 0 fails.
std::atomic<int> nothrowCountdown{0};

// The memory mapped into this process, in bytes.
qint64 mappedBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    if (nothrowCountdown > 0 && --nothrowCountdown == 0)
        return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

const QColor background(0xd4, 0xd0, 0xc8);

QRgb at(const Surface &s, int x, int y)
{
    return s.pixels().pixel(x, y) | 0xff000000u;
}

// Every pixel of the rectangle has colour c; otherwise the first one that does not.
QString allOf(const Surface &s, QRect r, QColor c)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (at(s, x, y) != c.rgb())
                return QStringLiteral("(%1,%2) is %3, expected %4")
                    .arg(x).arg(y).arg(at(s, x, y), 8, 16).arg(c.rgb(), 8, 16);
    return {};
}

// The surface region at (x, y) holds exactly picture (compared as opaque RGB).
QString holds(const Surface &s, const QImage &picture, int x, int y)
{
    const QImage region = s.pixels().copy(x, y, picture.width(), picture.height());
    return testsupport::firstDifference(region, picture);
}

} // namespace

class SurfaceTest : public QObject
{
    Q_OBJECT

private slots:
    void newSurfaceIsBackground()
    {
        Surface s(5, 3, background);
        QCOMPARE(s.width(), 5);
        QCOMPARE(s.height(), 3);
        QCOMPARE(s.pixels().format(), QImage::Format_BGR888);
        QCOMPARE(allOf(s, QRect(0, 0, 5, 3), background), QString());
    }

    // Rows of the bitmap file and of the surface must share a layout: BGR, padded to four bytes.
    void rowsHaveTheBitmapLayout()
    {
        for (int w = 1; w <= 6; ++w) {
            Surface s(w, 2, background);
            QCOMPARE(s.pixels().bytesPerLine(), qsizetype((3 * w + 3) & ~3));
        }
        Surface s(1, 1, background);
        s.draw(testsupport::solid(1, 1, QColor(10, 20, 30)), 0, 0);
        const uchar *p = s.pixels().constScanLine(0);
        QCOMPARE(int(p[0]), 30);
        QCOMPARE(int(p[1]), 20);
        QCOMPARE(int(p[2]), 10);
    }

    void resizeKeepsWhatFits_data()
    {
        QTest::addColumn<bool>("heightFirst");
        QTest::addColumn<QSize>("to");
        QTest::newRow("wider then taller") << false << QSize(12, 9);
        QTest::newRow("taller then wider") << true << QSize(12, 9);
        QTest::newRow("narrower") << false << QSize(3, 6);
        QTest::newRow("shorter") << true << QSize(8, 2);
        QTest::newRow("smaller both") << true << QSize(2, 2);
    }
    void resizeKeepsWhatFits()
    {
        QFETCH(bool, heightFirst);
        QFETCH(QSize, to);
        Surface s(8, 6, background);
        const QImage content = testsupport::pattern(8, 6, 3);
        s.draw(content, 0, 0);
        if (heightFirst) {
            QVERIFY(s.setHeight(to.height()));
            QVERIFY(s.setWidth(to.width()));
        } else {
            QVERIFY(s.setWidth(to.width()));
            QVERIFY(s.setHeight(to.height()));
        }
        QCOMPARE(s.width(), to.width());
        QCOMPARE(s.height(), to.height());
        const int keptW = std::min(8, to.width());
        const int keptH = std::min(6, to.height());
        QCOMPARE(holds(s, content.copy(0, 0, keptW, keptH), 0, 0), QString());
        if (to.width() > 8)
            QCOMPARE(allOf(s, QRect(8, 0, to.width() - 8, to.height()), background), QString());
        if (to.height() > 6)
            QCOMPARE(allOf(s, QRect(0, 6, to.width(), to.height() - 6), background), QString());
    }

    // Through a width of 0 and back: the height is remembered and every pixel is background.
    void zeroWidthKeepsHeight()
    {
        Surface s(4, 4, background);
        s.draw(testsupport::solid(4, 4, Qt::red), 0, 0);
        QVERIFY(s.setWidth(0));
        QCOMPARE(s.height(), 4);
        QVERIFY(s.setWidth(3));
        QCOMPARE(s.width(), 3);
        QCOMPARE(s.height(), 4);
        QCOMPARE(allOf(s, QRect(0, 0, 3, 4), background), QString());
    }

    void impossibleSizeLeavesSurfaceAlone()
    {
        Surface s(4, 4, background);
        s.draw(testsupport::solid(4, 4, Qt::red), 0, 0);
        // Qt refuses images whose byte count does not fit; the surface must stay as it was.
        QVERIFY(!s.setWidth(std::numeric_limits<int>::max()));
        QCOMPARE(s.width(), 4);
        QCOMPARE(s.height(), 4);
        QCOMPARE(allOf(s, QRect(0, 0, 4, 4), Qt::red), QString());
    }

    void clearLeavesOnlyBackground()
    {
        Surface s(6, 5, background);
        s.draw(testsupport::pattern(6, 5, 1), 0, 0);
        s.clear();
        QCOMPARE(allOf(s, QRect(0, 0, 6, 5), background), QString());
    }

    void drawClipsAtEveryEdge_data()
    {
        QTest::addColumn<QPoint>("pos");
        QTest::newRow("inside") << QPoint(2, 3);
        QTest::newRow("left") << QPoint(-3, 2);
        QTest::newRow("top") << QPoint(2, -4);
        QTest::newRow("right") << QPoint(8, 1);
        QTest::newRow("bottom") << QPoint(1, 6);
        QTest::newRow("top-left") << QPoint(-4, -2);
        QTest::newRow("bottom-right") << QPoint(7, 7);
        QTest::newRow("larger than surface") << QPoint(-1, -1);
        QTest::newRow("wholly left") << QPoint(-5, 0);
        QTest::newRow("wholly right") << QPoint(10, 0);
        QTest::newRow("wholly below") << QPoint(0, 8);
        QTest::newRow("far away") << QPoint(std::numeric_limits<int>::max(), std::numeric_limits<int>::min());
    }
    void drawClipsAtEveryEdge()
    {
        QFETCH(QPoint, pos);
        const int w = 10, h = 8;
        Surface s(w, h, background);
        const QImage picture = QByteArray(QTest::currentDataTag()) == "larger than surface"
            ? testsupport::pattern(13, 11, 5)
            : testsupport::pattern(5, 4, 5);
        s.draw(picture, pos.x(), pos.y());
        // Expected: reference composition pixel by pixel.
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const qint64 px = qint64(x) - pos.x(), py = qint64(y) - pos.y();
                const bool covered = px >= 0 && py >= 0 && px < picture.width() && py < picture.height();
                const QRgb want = covered ? picture.pixel(int(px), int(py)) | 0xff000000u : background.rgb();
                if (at(s, x, y) != want)
                    QFAIL(qPrintable(QStringLiteral("(%1,%2): %3 instead of %4")
                                         .arg(x).arg(y).arg(at(s, x, y), 8, 16).arg(want, 8, 16)));
            }
        }
    }

    void opaqueCopyInEveryFormat_data()
    {
        QTest::addColumn<int>("format");
        const QList<QImage::Format> formats = {
            QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
            QImage::Format_RGB888, QImage::Format_BGR888, QImage::Format_RGB16, QImage::Format_RGBX8888,
            QImage::Format_RGBA8888, QImage::Format_RGBA64, QImage::Format_Indexed8,
        };
        for (QImage::Format f : formats)
            QTest::newRow(QMetaEnum::fromType<QImage::Format>().valueToKey(f)) << int(f);
    }
    void opaqueCopyInEveryFormat()
    {
        QFETCH(int, format);
        // Colours every format can hold exactly (RGB16 keeps 5/6/5 bits; Indexed8 a palette).
        QImage source(7, 5, QImage::Format_RGB32);
        const QRgb colours[] = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(0, 255, 0),
                                qRgb(0, 0, 255), qRgb(132, 4, 8)};
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                source.setPixel(x, y, colours[(x + 2 * y) % 6]);
        const QImage picture = source.convertToFormat(QImage::Format(format));
        const QImage expected = picture.convertToFormat(QImage::Format_RGB32);
        Surface s(9, 7, background);
        s.draw(picture, 1, 2);
        QCOMPARE(holds(s, expected, 1, 2), QString());
        QCOMPARE(allOf(s, QRect(0, 0, 9, 2), background), QString());
        QCOMPARE(allOf(s, QRect(8, 0, 1, 7), background), QString());
    }

    // Straight alpha over what lies beneath, exactly: round((c a + d (255 - a)) / 255), halves
    // up, for every alpha, on colours and beneath-colours that are not round numbers.
    void straightAlphaBlendedExactly_data()
    {
        QTest::addColumn<QRgb>("colour");
        QTest::addColumn<QColor>("under");
        QTest::newRow("odd over odd") << qRgb(201, 37, 254) << QColor(13, 250, 128);
        QTest::newRow("white over black") << qRgb(255, 255, 255) << QColor(0, 0, 0);
        QTest::newRow("black over white") << qRgb(0, 0, 0) << QColor(255, 255, 255);
        QTest::newRow("primes") << qRgb(3, 131, 211) << QColor(199, 7, 89);
    }
    void straightAlphaBlendedExactly()
    {
        QFETCH(QRgb, colour);
        QFETCH(QColor, under);
        QImage picture(256, 1, QImage::Format_ARGB32);
        for (int a = 0; a < 256; ++a)
            picture.setPixel(a, 0, (colour & 0xffffff) | QRgb(a) << 24);
        Surface s(256, 1, under);
        s.draw(picture, 0, 0);
        auto blend = [](int c, int d, int a) { return int(std::floor((c * a + d * (255.0 - a)) / 255.0 + 0.5)); };
        for (int a = 0; a < 256; ++a) {
            const QRgb want = qRgb(blend(qRed(colour), under.red(), a), blend(qGreen(colour), under.green(), a),
                                   blend(qBlue(colour), under.blue(), a));
            if (at(s, a, 0) != want)
                QFAIL(qPrintable(QStringLiteral("alpha %1: %2 instead of %3").arg(a).arg(at(s, a, 0), 8, 16).arg(want, 8, 16)));
        }
    }

    void transparentPixelsShowWhatIsBeneath()
    {
        QImage icon(4, 4, QImage::Format_ARGB32);
        icon.fill(qRgba(250, 3, 90, 0)); // a colour that a transparent pixel keeps but never shows
        icon.setPixel(1, 1, qRgba(0, 128, 0, 255));
        Surface s(4, 4, background);
        s.draw(icon, 0, 0);
        QCOMPARE(at(s, 1, 1), qRgb(0, 128, 0));
        QCOMPARE(at(s, 0, 0), background.rgb());
        QCOMPARE(at(s, 3, 3), background.rgb());
    }

    // A picture copied into large pages when the memory for the store's own records runs out, at
    // each of them in turn: it comes back whole, and no mapping is left behind.
    void largePagesWhenMemoryRunsOut_data()
    {
        QTest::addColumn<int>("failing");
        QTest::newRow("the mapping's record") << 1;
        QTest::newRow("the block's record") << 2;
        QTest::newRow("the picture's record") << 3;
    }
    void largePagesWhenMemoryRunsOut()
    {
        QFETCH(int, failing);
        const QImage big = testsupport::pattern(3000, 2000, 5); // 24 MB: a block of its own
        const qint64 before = mappedBytes();
        QVERIFY(before > 0);
        {
            nothrowCountdown = failing;
            const QImage copy = picture::inLargePages(big);
            nothrowCountdown = 0;
            QVERIFY(copy == big);
        }
        const qint64 kept = mappedBytes() - before;
        QVERIFY2(kept < 8 * 1024 * 1024, qPrintable(QStringLiteral("%1 bytes still mapped").arg(kept)));
    }

    void laterDrawCoversEarlier()
    {
        Surface s(10, 10, background);
        s.draw(testsupport::solid(6, 6, Qt::red), 0, 0);
        s.draw(testsupport::solid(6, 6, Qt::blue), 4, 4);
        QCOMPARE(at(s, 3, 3), QColor(Qt::red).rgb());
        QCOMPARE(at(s, 4, 4), QColor(Qt::blue).rgb());
        QCOMPARE(at(s, 5, 5), QColor(Qt::blue).rgb());
        QCOMPARE(at(s, 9, 9), QColor(Qt::blue).rgb());
        QCOMPARE(at(s, 9, 0), background.rgb());
    }

    void holderTakesThePictureSize()
    {
        picture::PictureHolder holder(7);
        QCOMPARE(holder.objectName(), QStringLiteral("theFrame"));
        QCOMPARE(holder.property("index").toInt(), 7);
        holder.setPicture(testsupport::solid(33, 17, Qt::red));
        QCOMPARE(holder.width(), 33);
        QCOMPARE(holder.height(), 17);
    }

    // The colour that fully transparent pixels carry onto a sheet with alpha. A 4 x 1 picture:
    // visible red at x 0, visible blue at x 3, two transparent pixels of stray green between.
    void transparentPixelsColour_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QList<QRgb>>("row");
        const QRgb red = qRgba(255, 0, 0, 255), blue = qRgba(0, 0, 255, 128), stray = qRgba(0, 255, 0, 0);
        QTest::newRow("keep") << int(picture::TransparentColour::Keep) << QList<QRgb>{red, stray, stray, blue};
        QTest::newRow("clean") << int(picture::TransparentColour::Clean) << QList<QRgb>{red, 0, 0, blue};
        QTest::newRow("bleed: each from its nearest visible neighbour")
            << int(picture::TransparentColour::Bleed) << QList<QRgb>{red, qRgba(255, 0, 0, 0), qRgba(0, 0, 255, 0), blue};
    }
    void transparentPixelsColour()
    {
        QFETCH(int, mode);
        QFETCH(QList<QRgb>, row);
        QImage in(4, 1, QImage::Format_ARGB32);
        const QList<QRgb> given{qRgba(255, 0, 0, 255), qRgba(0, 255, 0, 0), qRgba(0, 255, 0, 0), qRgba(0, 0, 255, 128)};
        for (int x = 0; x < 4; ++x)
            in.setPixel(x, 0, given[x]);
        const QImage out = picture::withTransparentColour(in, picture::TransparentColour(mode));
        QList<QRgb> got;
        for (int x = 0; x < 4; ++x)
            got << out.convertToFormat(QImage::Format_ARGB32).pixel(x, 0);
        QCOMPARE(got, row);
    }
};

QTEST_GUILESS_MAIN(SurfaceTest)
#include "tst_surface.moc"
