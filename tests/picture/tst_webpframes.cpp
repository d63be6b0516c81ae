// Animated WebP read chunk by chunk: many frames, each read once and in order, with their delays
// and pixels; animations written by Pillow and img2webp shown as Pillow's libwebp shows them; and
// damaged containers refused, naming the file and what is wrong. Files are made byte by byte
// here (the lossless bitstream of one pixel from its public description) or by outside writers.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "picture/source/animation.h"
#include "picture/source/picture.h"
#include "tests/support/testsupport.h"

namespace {

// Bits written least significant first, as a VP8L bitstream holds them.
struct BitWriter {
    QByteArray bytes;
    int used = 0;
    void put(quint32 value, int count)
    {
        for (int i = 0; i < count; ++i) {
            if (used % 8 == 0)
                bytes.append('\0');
            if (value >> i & 1)
                bytes[bytes.size() - 1] = char(bytes.back() | 1 << (used % 8));
            ++used;
        }
    }
};

QByteArray le(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char(value >> (8 * i)));
    return out;
}

QByteArray chunk(const char *kind, const QByteArray &body)
{
    QByteArray out = QByteArray(kind, 4) + le(quint32(body.size()), 4) + body;
    if (body.size() & 1)
        out.append('\0');
    return out;
}

// A lossless picture of w x h pixels all of one colour: no transforms, no colour cache, and
// five prefix codes of one symbol each, so that the pixels take no bits at all.
QByteArray vp8l(int w, int h, QRgb c)
{
    BitWriter bits;
    bits.put(0x2f, 8);
    bits.put(quint32(w - 1), 14);
    bits.put(quint32(h - 1), 14);
    bits.put(qAlpha(c) != 255, 1);
    bits.put(0, 3);   // version
    bits.put(0, 1);   // no transform
    bits.put(0, 1);   // no colour cache
    bits.put(0, 1);   // no meta prefix codes
    for (const int symbol : {qGreen(c), qRed(c), qBlue(c), qAlpha(c), 0}) {
        bits.put(1, 1);   // a simple code
        bits.put(0, 1);   // of one symbol
        bits.put(symbol > 1, 1);
        bits.put(quint32(symbol), symbol > 1 ? 8 : 1);
    }
    return chunk("VP8L", bits.bytes);
}

struct Frame {
    int x, y, w, h, duration;
    bool dispose, blend;
    QByteArray picture; // its ALPH/VP8/VP8L chunks
};

QByteArray anmf(const Frame &f)
{
    const char bits = char((f.dispose ? 1 : 0) | (f.blend ? 0 : 2));
    return chunk("ANMF", le(quint32(f.x / 2), 3) + le(quint32(f.y / 2), 3) + le(quint32(f.w - 1), 3)
                             + le(quint32(f.h - 1), 3) + le(quint32(f.duration), 3) + QByteArray(1, bits) + f.picture);
}

QByteArray riff(const QByteArray &body) { return "RIFF" + le(quint32(4 + body.size()), 4) + "WEBP" + body; }

QByteArray vp8x(int w, int h, quint8 flags = 0x12)
{
    return chunk("VP8X", QByteArray(1, char(flags)) + QByteArray(3, '\0') + le(quint32(w - 1), 3) + le(quint32(h - 1), 3));
}

QByteArray anim(int plays) { return chunk("ANIM", QByteArray(4, '\0') + le(quint32(plays), 2)); }

const QRgb Red = qRgba(201, 13, 7, 255), Green = qRgba(3, 187, 61, 255), Blue = qRgba(29, 41, 253, 255), Clear = 0;

QString runPython(const QString &script, const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return QString::fromLocal8Bit(p.readAllStandardError()).prepend(QStringLiteral("failed: "));
    return {};
}

} // namespace

class TestWebpFrames : public QObject
{
    Q_OBJECT

private slots:
    void manyFrames_data();
    void manyFrames();
    void pillowAgrees_data();
    void pillowAgrees();
    void damaged_data();
    void damaged();

private:
    QTemporaryDir m_dir;
};

void TestWebpFrames::manyFrames_data()
{
    QTest::addColumn<bool>("blend");
    QTest::addColumn<int>("disposeEvery"); // 0: none
    QTest::addColumn<int>("count");
    QTest::newRow("20000 frames, each replacing its pixel") << false << 0 << 20000;
    QTest::newRow("20000 frames drawn over, every third cleared") << true << 3 << 20000;
    QTest::newRow("20001 frames, every other cleared, replacing") << false << 2 << 20001;
}

// A 4 x 4 canvas whose 1 x 1 frames go round its four even corners in red, green, blue and
// clear: each frame must show what a plain model of the canvas shows, with its own delay.
void TestWebpFrames::manyFrames()
{
    QFETCH(bool, blend);
    QFETCH(int, disposeEvery);
    QFETCH(int, count);
    const QRgb colours[] = {Red, Green, Blue, Clear, Green};
    const QByteArray pictures[] = {vp8l(1, 1, Red), vp8l(1, 1, Green), vp8l(1, 1, Blue), vp8l(1, 1, Clear), vp8l(1, 1, Green)};
    QByteArray body = vp8x(4, 4) + anim(7);
    QList<int> delays;
    for (int i = 0; i < count; ++i) {
        const int corner = i % 4;
        const int delay = (i * 37) % 5000;
        delays.append(delay);
        body += anmf({corner % 2 * 2, corner / 2 * 2, 1, 1, delay, disposeEvery && i % disposeEvery == 0, blend,
                      pictures[i % 5]});
    }
    const QString path = m_dir.filePath(QStringLiteral("many-%1-%2-%3.webp").arg(blend).arg(disposeEvery).arg(count));
    testsupport::writeFile(path, riff(body));

    picture::Budget budget;
    budget.acceptPng = true;
    const picture::Source source = picture::Source::open(path, path, budget, true);
    QVERIFY2(source.ok(), qPrintable(source.refusal().message));
    QCOMPARE(source.frames(), count);
    QCOMPARE(source.plays(), 7);
    QCOMPARE(source.delays(), delays);
    QCOMPARE(source.size(), QSize(4, 4));

    QRgb canvas[4][4] = {};
    picture::FrameStream stream(source);
    for (int i = 0; i < count; ++i) {
        const int corner = i % 4, x = corner % 2 * 2, y = corner / 2 * 2;
        const QRgb c = colours[i % 5];
        if (!blend || qAlpha(c) == 255)
            canvas[y][x] = c;
        QImage frame;
        picture::Loaded refusal;
        QVERIFY2(stream.next(&frame, &refusal), qPrintable(refusal.message));
        QCOMPARE(frame.size(), QSize(4, 4));
        for (int py = 0; py < 4; ++py)
            for (int px = 0; px < 4; ++px) {
                const QRgb got = frame.pixel(px, py);
                if (got != canvas[py][px] && (qAlpha(got) != 0 || qAlpha(canvas[py][px]) != 0))
                    QFAIL(qPrintable(QStringLiteral("frame %1, (%2, %3): %4 instead of %5").arg(i + 1).arg(px).arg(py)
                                         .arg(got, 8, 16).arg(canvas[py][px], 8, 16)));
            }
        if (disposeEvery && i % disposeEvery == 0)
            canvas[y][x] = Clear;
    }
    QImage past;
    picture::Loaded none;
    QVERIFY(!stream.next(&past, &none));
    QVERIFY(none.message.contains(path));
}

void TestWebpFrames::pillowAgrees_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("writer"); // the Python that saves frames (a list of RGBA pictures) to out
    QTest::newRow("Pillow, lossless") << QStringLiteral("lossless.webp")
                                      << QStringLiteral("frames[0].save(out, save_all=True, append_images=frames[1:], lossless=True, duration=[40 + 10 * i for i in range(len(frames))], loop=0)");
    QTest::newRow("Pillow, lossy with alpha") << QStringLiteral("lossy.webp")
                                              << QStringLiteral("frames[0].save(out, save_all=True, append_images=frames[1:], quality=60, duration=70, loop=2)");
    QTest::newRow("Pillow, smallest") << QStringLiteral("smallest.webp")
                                      << QStringLiteral("frames[0].save(out, save_all=True, append_images=frames[1:], lossless=True, minimize_size=True, duration=50)");
    QTest::newRow("Pillow, lossy and lossless mixed") << QStringLiteral("mixed.webp")
                                                      << QStringLiteral("frames[0].save(out, save_all=True, append_images=frames[1:], allow_mixed=True, duration=50)");
    QTest::newRow("img2webp, lossy") << QStringLiteral("img2webp-lossy.webp") << QStringLiteral("img2webp -lossy -q 50");
    QTest::newRow("img2webp, mixed") << QStringLiteral("img2webp-mixed.webp") << QStringLiteral("img2webp -mixed");
}

// Translucent shapes that move over one another, written with blending and disposal where the
// writer finds them smaller: every frame and the first alone as Pillow's libwebp shows them.
void TestWebpFrames::pillowAgrees()
{
    QFETCH(QString, name);
    QFETCH(QString, writer);
    const QString out = m_dir.filePath(name);
    const QString frames = QStringLiteral(
        "import sys\nfrom PIL import Image, ImageDraw\nout = sys.argv[1]\nframes = []\n"
        "for i in range(12):\n"
        "    im = Image.new('RGBA', (48, 40), (0, 0, 0, 0))\n"
        "    d = ImageDraw.Draw(im)\n"
        "    d.rectangle([i * 2, i, i * 2 + 15, i + 12], fill=(200, 30 + i * 10, 40, 255))\n"
        "    d.ellipse([30 - i, 5, 44 - i, 30], fill=(20, 90, 220, 120 + i * 5))\n"
        "    if i % 3 == 0: d.rectangle([0, 30, 47, 39], fill=(250, 250, 0, 255))\n"
        "    frames.append(im)\n");
    QString failure;
    if (writer.startsWith(QLatin1String("img2webp"))) {
        const QString img2webp = QStandardPaths::findExecutable(QStringLiteral("img2webp"));
        if (img2webp.isEmpty())
            QSKIP("img2webp (Debian's webp) is not installed");
        failure = runPython(frames + QStringLiteral("for n, f in enumerate(frames): f.save(out + '.%02d.png' % n)\n"), {out});
        QStringList args = writer.split(u' ').mid(1);
        args << QStringLiteral("-loop") << QStringLiteral("0");
        for (int n = 0; n < 12; ++n)
            args << QStringLiteral("-d") << QString::number(60 + n * 5) << out + QStringLiteral(".%1.png").arg(n, 2, 10, QLatin1Char('0'));
        args << QStringLiteral("-o") << out;
        if (failure.isEmpty() && QProcess::execute(img2webp, args) != 0)
            failure = QStringLiteral("img2webp failed");
    } else {
        failure = runPython(frames + writer + u'\n', {out});
    }
    if (failure.contains(QLatin1String("No module named")))
        QSKIP("python3 has no Pillow");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QList<QImage> pillow = testsupport::pillowFrames(out);
    QCOMPARE(pillow.size(), 12);

    picture::Budget budget;
    budget.acceptPng = true;
    const picture::Source source = picture::Source::open(out, out, budget, true);
    QVERIFY2(source.ok(), qPrintable(source.refusal().message));
    QCOMPARE(source.frames(), 12);
    picture::FrameStream stream(source);
    for (int i = 0; i < pillow.size(); ++i) {
        QImage frame;
        picture::Loaded refusal;
        QVERIFY2(stream.next(&frame, &refusal), qPrintable(refusal.message));
        QCOMPARE(testsupport::compareRgba(frame, pillow[i]).prepend(QStringLiteral("frame %1: ").arg(i + 1)),
                 QStringLiteral("frame %1: ").arg(i + 1));
    }
    const picture::Loaded first = picture::load(out, budget);
    QVERIFY2(first.ok(), qPrintable(first.message));
    QCOMPARE(testsupport::compareRgba(first.image, pillow[0]), QString());
}

void TestWebpFrames::damaged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("cause");
    const QByteArray red = vp8l(1, 1, Red), square = vp8l(2, 2, Red);
    const QByteArray head = vp8x(4, 4) + anim(0);
    const QByteArray good = anmf({0, 0, 1, 1, 100, false, true, red});
    QTest::newRow("frame before the animation chunk") << riff(vp8x(4, 4) + good + anim(0)) << QStringLiteral("its frame 1 comes before its ANIM chunk");
    QTest::newRow("picture larger than its frame")
        << riff(head + good + anmf({2, 2, 1, 1, 100, false, true, square}))
        << QStringLiteral("its frame 2 holds a picture of 2 x 2 pixels where it declares 1 x 1");
    QTest::newRow("frame past its canvas") << riff(head + anmf({2, 2, 2, 2, 100, false, true, square}) + anmf({4, 0, 1, 1, 100, false, true, red}))
                                           << QStringLiteral("its frame 2 (1 x 1 at 4, 0) lies outside its 4 x 4 canvas");
    QByteArray longer = good;
    qToLittleEndian<quint32>(quint32(16 + red.size() - 2), longer.data() + 4); // the frame ends inside its picture
    QTest::newRow("picture running past its frame") << riff(head + longer + QByteArray(2, '\0'))
                                                    << QStringLiteral("its frame 1 is cut short");
    QTest::newRow("alpha chunk before a lossless picture")
        << riff(head + anmf({0, 0, 1, 1, 100, false, true, chunk("ALPH", QByteArray(2, '\0')) + red}))
        << QStringLiteral("its frame 1 holds an alpha chunk without a lossy picture after it");
    QTest::newRow("frame without a picture") << riff(head + anmf({0, 0, 1, 1, 100, false, true, chunk("XYZW", "ab")}))
                                             << QStringLiteral("its frame 1 holds no picture");
    QTest::newRow("animation without frames") << riff(head) << QStringLiteral("it holds no picture");
    QTest::newRow("chunk past the container") << riff(head + good).append("ANMF\x40\0\0\0", 8).replace(4, 4, le(quint32(4 + head.size() + good.size() + 8), 4))
                                              << QStringLiteral("its ANMF chunk runs past the end of its container");
    QTest::newRow("unknown header flags") << riff(vp8x(4, 4, 0x13) + anim(0) + good) << QStringLiteral("its VP8X chunk sets flags no WebP knows (13)");
    QTest::newRow("picture outside the frames") << riff(head + good + red) << QStringLiteral("its animation holds a picture outside its frames");
    QTest::newRow("frame with a short header") << riff(head + chunk("ANMF", QByteArray(10, '\0'))) << QStringLiteral("its frame 1 has a header of 10 bytes");
}

// Damage anywhere refuses the file when it is opened, before any frame is decoded, whether one
// frame is asked for or all; the message names the file and the damage.
void TestWebpFrames::damaged()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, cause);
    const QString path = m_dir.filePath(QStringLiteral("damaged.webp"));
    testsupport::writeFile(path, bytes);
    picture::Budget budget;
    budget.acceptPng = true;
    for (const bool all : {false, true}) {
        const picture::Source source = picture::Source::open(path, path, budget, all);
        QVERIFY(!source.ok());
        QCOMPARE(testsupport::errorName(source.refusal().error), QStringLiteral("Damaged"));
        QVERIFY2(source.refusal().message.startsWith(QStringLiteral("Cannot load %1: ").arg(path)), qPrintable(source.refusal().message));
        QVERIFY2(source.refusal().message.contains(cause), qPrintable(source.refusal().message));
    }
}

QTEST_GUILESS_MAIN(TestWebpFrames)
#include "tst_webpframes.moc"
