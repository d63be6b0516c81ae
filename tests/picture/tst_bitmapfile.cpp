#include <QtTest>

#include "picture/codecs/bitmapfile.h"
#include "tests/support/testsupport.h"

namespace {

quint32 u32(const QByteArray &b, int at)
{
    return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 | quint32(uchar(b[at + 2])) << 16
        | quint32(uchar(b[at + 3])) << 24;
}

quint16 u16(const QByteArray &b, int at)
{
    return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8);
}

} // namespace

class BitmapFileTest : public QObject
{
    Q_OBJECT

private slots:
    void fileSize_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<qint64>("size");
        QTest::newRow("1x1: one row padded to 4") << 1 << 1 << qint64(54 + 4);
        QTest::newRow("2x1") << 2 << 1 << qint64(54 + 8);
        QTest::newRow("3x2") << 3 << 2 << qint64(54 + 12 * 2);
        QTest::newRow("4x3: no padding") << 4 << 3 << qint64(54 + 12 * 3);
        QTest::newRow("5x1") << 5 << 1 << qint64(54 + 16);
        QTest::newRow("96x96") << 96 << 96 << qint64(54 + 288 * 96);
        QTest::newRow("largest that fits") << 65536 << 21845 << qint64(54) + qint64(196608) * 21845;
        QTest::newRow("one row too many") << 65536 << 21846 << qint64(-1);
        QTest::newRow("3276700 x 32767") << 3276700 << 32767 << qint64(-1);
        QTest::newRow("widest int") << std::numeric_limits<int>::max() << 1 << qint64(-1);
        QTest::newRow("zero width") << 0 << 5 << qint64(-1);
        QTest::newRow("zero height") << 5 << 0 << qint64(-1);
        QTest::newRow("negative") << -4 << 5 << qint64(-1);
    }
    void fileSize()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(qint64, size);
        QCOMPARE(picture::bitmapFileSize(width, height), size);
        if (size > 0)
            QVERIFY(size <= qint64(0xFFFFFFFF));
    }

    void pixelsReadBackByPillow_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        for (int w = 1; w <= 5; ++w)
            for (int h : {1, 2, 7})
                QTest::addRow("%dx%d", w, h) << w << h;
        QTest::newRow("96x96") << 96 << 96;
        QTest::newRow("rows span several write chunks") << 1001 << 700;
    }
    void pixelsReadBackByPillow()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));

        const QImage content = testsupport::pattern(width, height, width * 13 + height);
        QTemporaryDir inputs;
        const strip::SheetJob job = testsupport::stripOf(content, inputs.path());
        QCOMPARE(testsupport::writeStrip(job, path), QStringLiteral("OK"));

        const QByteArray bytes = testsupport::readFile(path);
        QCOMPARE(qint64(bytes.size()), picture::bitmapFileSize(width, height));
        QCOMPARE(bytes.left(2), QByteArray("BM"));
        QCOMPARE(qint64(u32(bytes, 2)), qint64(bytes.size()));
        QCOMPARE(u32(bytes, 10), 54u);                     // pixels follow the two headers
        QCOMPARE(u32(bytes, 14), 40u);                     // BITMAPINFOHEADER
        QCOMPARE(qint32(u32(bytes, 18)), width);
        QCOMPARE(qint32(u32(bytes, 22)), height);          // positive: rows stored bottom-up
        QCOMPARE(u16(bytes, 26), quint16(1));
        QCOMPARE(u16(bytes, 28), quint16(24));
        QCOMPARE(u32(bytes, 30), 0u);                      // BI_RGB
        QCOMPARE(qint64(u32(bytes, 34)), qint64(bytes.size() - 54));
        QCOMPARE(u32(bytes, 46), 0u);                      // no palette
        // The bottom row comes first; padding bytes are zero.
        const int stride = (3 * width + 3) & ~3;
        const QRgb bottomLeft = content.pixel(0, height - 1);
        QCOMPARE(uchar(bytes[54]), uchar(qBlue(bottomLeft)));
        QCOMPARE(uchar(bytes[55]), uchar(qGreen(bottomLeft)));
        QCOMPARE(uchar(bytes[56]), uchar(qRed(bottomLeft)));
        for (int y = 0; y < height; ++y)
            for (int p = 3 * width; p < stride; ++p)
                QCOMPARE(int(bytes[54 + y * stride + p]), 0);

        QString error, format;
        const QImage back = testsupport::readWithPillow(path, &error, &format);
        QVERIFY2(!back.isNull(), qPrintable(error));
        QCOMPARE(format, QStringLiteral("BMP"));
        QCOMPARE(testsupport::firstDifference(back, content), QString());
    }

    void replacesExistingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));
        testsupport::writeFile(path, QByteArray(100000, 'x'));
        QTemporaryDir inputs;
        const strip::SheetJob job = testsupport::stripOf(testsupport::solid(3, 2, Qt::blue), inputs.path());
        QCOMPARE(testsupport::writeStrip(job, path), QStringLiteral("OK"));
        QCOMPARE(QFileInfo(path).size(), picture::bitmapFileSize(3, 2));
        QCOMPARE(testsupport::firstDifference(testsupport::readWithPillow(path), testsupport::solid(3, 2, Qt::blue)),
                 QString());
    }
};

QTEST_GUILESS_MAIN(BitmapFileTest)
#include "tst_bitmapfile.moc"
