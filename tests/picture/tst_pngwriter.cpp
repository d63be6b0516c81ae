// The PNG writer on real files: the colour type it chooses for a picture, and the stream it
// joins from chunks deflated apart, each read back by Pillow (and pngcheck where installed).
#include <QtEndian>
#include <QtTest>

#include <functional>

#include "picture/codecs/pngwriter.h"
#include "tests/support/testsupport.h"

using picture::Compression;
using picture::PngLayout;

namespace {

using Painter = std::function<void(int x, int y, uchar *rgba)>;

QImage paint(int w, int h, const Painter &painter)
{
    QImage image(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            painter(x, y, image.scanLine(y) + x * 4);
    return image;
}

void set(uchar *p, int r, int g, int b, int a)
{
    p[0] = uchar(r);
    p[1] = uchar(g);
    p[2] = uchar(b);
    p[3] = uchar(a);
}

// Writes image to path, handing its rows over bandRows at a time.
QString write(const QString &path, const QImage &image, const PngLayout &layout, Compression compression, int bandRows)
{
    QString encoderError;
    const picture::SaveResult saved = picture::saveAtomically(path, [&](picture::SaveSink &sink) {
        picture::PngWriter writer(sink, image.width(), image.height(), layout, compression);
        bool ok = true;
        for (int y = 0; y < image.height() && ok; y += bandRows)
            ok = writer.writeRows(image, y, std::min(image.height(), y + bandRows));
        ok = ok && writer.finish();
        encoderError = writer.error();
        return ok;
    });
    return saved.ok ? QString() : encoderError + saved.message;
}

// The first place where Pillow's reading of path differs from want, or "".
QString readBackDifference(const QString &path, const QImage &want)
{
    const QImage got = testsupport::pillowFrames(path).value(0);
    if (got.size() != want.size())
        return QStringLiteral("Pillow (or pngcheck, see above) read %1 x %2").arg(got.width()).arg(got.height());
    for (int y = 0; y < want.height(); ++y)
        if (memcmp(got.constScanLine(y), want.constScanLine(y), size_t(want.width()) * 4) != 0)
            return QStringLiteral("row %1 differs").arg(y);
    return {};
}

// The chunk types of a PNG file in order.
QStringList chunkTypes(const QByteArray &png)
{
    QStringList types;
    for (qsizetype at = 8; at + 8 <= png.size();) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        types.append(QString::fromLatin1(png.mid(at + 4, 4)));
        at += 12 + qsizetype(length);
    }
    return types;
}

} // namespace

class TestPngWriter : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (testsupport::pillowFrames(QStringLiteral(CORVANE_ICON_PNG)).isEmpty())
            QSKIP("Pillow (python3-pil) is needed to read the PNG files back");
    }
    void colourTypes_data();
    void colourTypes();
    void chunkJoins_data();
    void chunkJoins();

private:
    QTemporaryDir m_dir;
};

void TestPngWriter::colourTypes_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("colourType"); // as IHDR declares it
    QTest::addColumn<int>("bitDepth");
    QTest::addColumn<bool>("transparencyChunk");

    QTest::newRow("two colours") << paint(33, 9, [](int x, int, uchar *p) { set(p, 200 * (x % 2), 10, 10, 255); }) << 3 << 1 << false;
    QTest::newRow("four colours, one clear") << paint(17, 5, [](int x, int y, uchar *p) {
        set(p, (x + y) % 4 * 60, 0, 0, (x + y) % 4 ? 255 : 0); }) << 3 << 2 << true;
    QTest::newRow("sixteen colours, half-transparent") << paint(31, 7, [](int x, int, uchar *p) {
        set(p, 0, x % 16 * 16, 99, x % 2 ? 128 : 255); }) << 3 << 4 << true;
    QTest::newRow("256 colours") << paint(256, 3, [](int x, int, uchar *p) { set(p, x, 255 - x, 7, 255); }) << 3 << 8 << false;
    QTest::newRow("256 greys") << paint(256, 3, [](int x, int, uchar *p) { set(p, x, x, x, 255); }) << 0 << 8 << false;
    QTest::newRow("ten greys, opaque") << paint(20, 3, [](int x, int, uchar *p) { set(p, x % 10 * 20, x % 10 * 20, x % 10 * 20, 255); }) << 3 << 4 << false;
    QTest::newRow("greys with alpha") << paint(64, 8, [](int x, int y, uchar *p) { set(p, x * 4, x * 4, x * 4, y * 30); }) << 4 << 8 << false;
    QTest::newRow("257 colours, opaque") << paint(257, 2, [](int x, int, uchar *p) { set(p, x % 256, x / 256, 0, 255); }) << 2 << 8 << false;
    // Clear pixels keep their colours too: they count as colours of their own.
    QTest::newRow("clear pixels of 300 colours") << paint(300, 2, [](int x, int, uchar *p) { set(p, x % 256, x / 256, 5, 0); }) << 6 << 8 << false;
    QTest::newRow("every colour, every alpha") << paint(64, 64, [](int x, int y, uchar *p) { set(p, x * 4, y * 4, x ^ y, x + y); }) << 6 << 8 << false;
}

void TestPngWriter::colourTypes()
{
    QFETCH(QImage, image);
    QFETCH(int, colourType);
    QFETCH(int, bitDepth);
    QFETCH(bool, transparencyChunk);
    const QString path = m_dir.filePath(QStringLiteral("%1.png").arg(QLatin1String(QTest::currentDataTag())));
    QCOMPARE(write(path, image, picture::smallestLayout(image, image.height()), Compression::Default, 4), QString());
    const QByteArray png = testsupport::readFile(path);
    QCOMPARE(int(png.at(24)), bitDepth);
    QCOMPARE(int(png.at(25)), colourType);
    QCOMPARE(chunkTypes(png).contains(QStringLiteral("tRNS")), transparencyChunk);
    QCOMPARE(readBackDifference(path, image), QString());
}

void TestPngWriter::chunkJoins_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("leastIdat"); // chunks the stream is at least split into

    // Rows of 160 KB: three rows a chunk, so 40 rows give 14 chunks, several per core.
    const QImage flat = paint(40000, 40, [](int x, int y, uchar *p) { set(p, x / 700 * 9, y / 13 * 40, 30, (x / 300 + y / 2) % 3 ? 255 : 0); });
    // A photograph's noise takes the path without the search for repeats.
    quint32 state = 12345;
    const QImage noise = paint(40000, 40, [&](int, int, uchar *p) {
        state = state * 1664525u + 1013904223u;
        set(p, int(state >> 24), int(state >> 16) & 0xff, int(state >> 8) & 0xff, 255);
    });
    // Flat rows and noisy rows alternate from chunk to chunk.
    QImage mixed = flat.copy();
    for (int y = 3; y < 40; y += 6)
        for (int k = 0; k < 3 && y + k < 40; ++k)
            memcpy(mixed.scanLine(y + k), noise.constScanLine(y + k), size_t(mixed.width()) * 4);
    for (const auto &[name, c] : {std::pair{"fast", Compression::Fast}, {"default", Compression::Default}, {"best", Compression::Best}}) {
        QTest::addRow("flat, %s", name) << flat << int(c) << 10;
        QTest::addRow("mixed, %s", name) << mixed << int(c) << 10;
    }
    QTest::newRow("noise, default") << noise << int(Compression::Default) << 10;
    QTest::newRow("one row") << paint(5, 1, [](int x, int, uchar *p) { set(p, x, x, 0, 255); }) << int(Compression::Default) << 1;
}

void TestPngWriter::chunkJoins()
{
    QFETCH(QImage, image);
    QFETCH(int, compression);
    QFETCH(int, leastIdat);
    // Bands of one row, of seven, and the whole picture at once give the same bytes.
    QByteArray first;
    for (int bandRows : {1, 7, image.height()}) {
        const QString path = m_dir.filePath(QStringLiteral("joined-%1.png").arg(bandRows));
        QCOMPARE(write(path, image, PngLayout{}, Compression(compression), bandRows), QString());
        const QByteArray png = testsupport::readFile(path);
        if (first.isEmpty()) {
            first = png;
            QVERIFY(chunkTypes(png).count(QStringLiteral("IDAT")) >= leastIdat);
            QCOMPARE(readBackDifference(path, image), QString());
        }
        QVERIFY2(png == first, qPrintable(QStringLiteral("bands of %1 rows").arg(bandRows)));
    }
}

QTEST_GUILESS_MAIN(TestPngWriter)
#include "tst_pngwriter.moc"
