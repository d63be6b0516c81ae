// Replays hostile files through the loader: those that once broke it or made it work far too
// hard (tests/picture/regressions/, named after what they reproduce; the fuzzer's crashers go
// there too) and every file of the shared corpus. Each must end in a clear outcome: a picture
// of a sane size, or a refusal that names the file and says why. Each file is loaded in a child
// process whose memory is capped well below what the largest picture in the budget takes, so a
// file that makes the loader allocate far more than its data can hold fails here (the sanitizer
// build, whose shadow memory no cap allows, replays them in the child without the cap).
#include <QBuffer>
#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageWriter>
#include <QtEndian>
#include <QtTest>

#include "picture/source/animation.h"
#include "picture/source/picture.h"
#include "picture/codecs/pngwriter.h"
#include "tests/support/testsupport.h"

#include <array>
#include <cstdio>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using picture::Format;
using picture::LoadError;

namespace {

const QString RegressionsDir = QStringLiteral(CORVANE_REGRESSIONS_DIR);

// Memory a child may take on top of what it starts with: ample for every real picture here,
// a fraction of one that the budget allows (1 GiB).
constexpr rlim_t MemoryCap = rlim_t(256) << 20;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool CanCapMemory = false;
#else
constexpr bool CanCapMemory = true;
#endif

// What must happen to each hand-made regression file; files not listed (fuzzer crashers) only
// need a clear outcome.
const QHash<QString, QString> Expected = {
    // A few hundred bytes that declare 16000 x 16000 pixels and break off: refused when the data
    // runs out, not after a 768 MB picture has been made and filled with grey.
    {QStringLiteral("jpeg-baseline-16000x16000-with-data-for-one-block.jpg"), QStringLiteral("Damaged")},
    {QStringLiteral("jpeg-progressive-16000x16000-cut-in-first-scan.jpg"), QStringLiteral("Damaged")},
    // One scan repeated a hundred times: each walks all 65536 blocks.
    {QStringLiteral("jpeg-progressive-2048x2048-100-repeated-scans.jpg"), QStringLiteral("Damaged")},
    // Found by the fuzzer: arithmetic coding, 225 bytes for almost 5 million pixels.
    {QStringLiteral("jpeg-arithmetic-19171x255-from-225-bytes.jpg"), QStringLiteral("Damaged")},
    // Three bytes of LZW data for a 256-megapixel frame.
    {QStringLiteral("gif-16000x16000-frame-from-three-bytes.gif"), QStringLiteral("Damaged")},
    // An icon whose PNG declares 16000 x 16000 pixels and compresses four rows.
    {QStringLiteral("ico-png-16000x16000-from-four-rows.ico"), QStringLiteral("Damaged")},
    // Animations whose first frame is sound and whose later ones are not, or lie: only --all-frames
    // refuses them (see tst_picture's animationRefused).
    {QStringLiteral("apng-declares-5-frames-holds-3.png"), QStringLiteral("None")},
    {QStringLiteral("apng-sequence-numbers-from-1.png"), QStringLiteral("None")},
    {QStringLiteral("apng-30-frames-on-a-4000x4000-canvas.png"), QStringLiteral("None")},
    {QStringLiteral("webp-30-frames-on-a-4000x4000-canvas.webp"), QStringLiteral("None")},
    // A WebP's container cut short, or a frame past its canvas: refused before anything is decoded.
    {QStringLiteral("webp-animated-cut-at-two-thirds.webp"), QStringLiteral("Damaged")},
    {QStringLiteral("webp-frame-4x4-at-4-2-outside-a-6x4-canvas.webp"), QStringLiteral("Damaged")},
    {QStringLiteral("apng-cut-inside-the-last-fdat.png"), QStringLiteral("Damaged")},
    // A WebP frame whose picture is larger than the frame declares, or runs past its ANMF chunk.
    {QStringLiteral("webp-frame-declares-1x1-holds-2x2.webp"), QStringLiteral("Damaged")},
    {QStringLiteral("webp-frame-picture-runs-past-its-anmf-chunk.webp"), QStringLiteral("Damaged")},
    // An Aseprite file is walked whole when it is opened: a frame count that lies refuses even its
    // first frame. A cel's zlib stream that would inflate to 16 MB is stopped one byte past its
    // 48; a tileset taller than any picture is refused before it is inflated.
    {QStringLiteral("aseprite-declares-5-frames-holds-1.aseprite"), QStringLiteral("Damaged")},
    {QStringLiteral("aseprite-4x3-cel-inflating-to-16-mb.aseprite"), QStringLiteral("Damaged")},
    {QStringLiteral("aseprite-tileset-of-1x40000-tiles.aseprite"), QStringLiteral("TooLarge")},
    {QStringLiteral("aseprite-tilemap-flips-linked-cels-in-a-group.aseprite"), QStringLiteral("None")},
};

// The amount of private memory this process has mapped, from the kernel's own count.
rlim_t dataSize()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmData:"))
            return rlim_t(line.mid(7).trimmed().split(' ').value(0).toULongLong()) << 10;
    return 0;
}

// Loads path in a child process (memory capped where possible) and reports the outcome as
// "kind|width|height|image format|picture format|message". The child's death is reported too.
QString loadInChild(const QString &path)
{
    return testsupport::inChild([&] {
        if (CanCapMemory) {
            const rlim_t cap = dataSize() + MemoryCap;
            const rlimit limit{cap, cap};
            if (setrlimit(RLIMIT_DATA, &limit) != 0)
                _exit(3);
        }
        // The command line's formats too, and every frame of an animation as --all-frames takes
        // them: all there, or refused whole in a sentence that names the file.
        picture::Budget budget;
        budget.acceptPng = true;
        const picture::Loaded r = picture::load(path, budget);
        const QString name = QFileInfo(path).absoluteFilePath();
        const picture::Source source = picture::Source::open(path, name, budget, true);
        const picture::Animation all = source.decodeFrames();
        if (all.refusal.ok() ? all.frames.size() != source.frames() : !all.refusal.message.startsWith(QStringLiteral("Cannot load %1: ").arg(name)))
            return QStringLiteral("every frame: %1 of %2 frames, %3").arg(all.frames.size()).arg(source.frames()).arg(all.refusal.message);
        return QStringLiteral("%1|%2|%3|%4|%5|%6")
            .arg(testsupport::errorName(r.error))
            .arg(r.image.width())
            .arg(r.image.height())
            .arg(int(r.image.format()))
            .arg(int(r.format))
            .arg(r.message);
    });
}

// Checks that report is a clear outcome for path; returns the kind of outcome.
QString checkClearOutcome(const QString &path, const QString &report)
{
    const QStringList parts = report.split(QLatin1Char('|'));
    if (parts.size() < 6) {
        QTest::qFail(qPrintable(QStringLiteral("no outcome: ") + report), __FILE__, __LINE__);
        return {};
    }
    const QString kind = parts[0];
    const int width = parts[1].toInt();
    const int height = parts[2].toInt();
    const auto imageFormat = QImage::Format(parts[3].toInt());
    const auto format = Format(parts[4].toInt());
    const QString message = parts.mid(5).join(QLatin1Char('|'));
    const picture::Budget budget;
    if (kind == QLatin1String("None")) {
        const bool sane = width > 0 && height > 0 && width <= budget.maxSide && height <= budget.maxSide
            && qint64(width) * height <= budget.maxPixels && format != Format::Unknown && message.isEmpty()
            && (imageFormat == QImage::Format_RGB32 || imageFormat == QImage::Format_ARGB32
                || imageFormat == QImage::Format_BGR888);
        if (!sane)
            QTest::qFail(qPrintable(QStringLiteral("loaded, but not sanely: ") + report), __FILE__, __LINE__);
        return kind;
    }
    const QString prefix = QStringLiteral("Cannot load %1: ").arg(QFileInfo(path).absoluteFilePath());
    if (!message.startsWith(prefix) || message.size() <= prefix.size() + 10 || width != 0 || height != 0)
        QTest::qFail(qPrintable(QStringLiteral("refused without a clear message: ") + report), __FILE__, __LINE__);
    return kind;
}

void addFilesOf(const QString &dir, const QString &label)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    for (const QString &f : files)
        QTest::newRow(qPrintable(label + QDir(dir).relativeFilePath(f))) << f;
}

QByteArray jpegByQt(const QImage &image, bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        qWarning("cannot write a JPEG: %s", qPrintable(writer.errorString()));
    return bytes;
}

// The position of the frame header's length field, or -1.
qsizetype frameHeader(const QByteArray &jpeg)
{
    for (const char *marker : {"\xff\xc0", "\xff\xc2"})
        if (const qsizetype at = jpeg.indexOf(marker); at > 0)
            return at + 2;
    return -1;
}

// A GIF of 100 x 100 pixels whose LZW data, well formed and closed, yields the given number of
// pixels (all of colour 0): a clear code before every pair keeps the codes 3 bits wide.
QByteArray gifYielding(int pixels)
{
    QByteArray b("GIF89a");
    b.append("\x64\x00\x64\x00\x81\x00\x00", 7); // 100 x 100, a global table of 4 colours
    b.append("\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\xff\x00", 12);
    b.append("\x2c\x00\x00\x00\x00\x64\x00\x64\x00\x00", 10);
    b.append(char(2)); // minimum code size: clear is 4, end 5
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    auto put = [&](quint32 code) {
        bits |= code << count;
        count += 3;
        while (count >= 8) {
            codes.append(char(bits & 0xff));
            bits >>= 8;
            count -= 8;
        }
    };
    for (int i = 0; i < pixels; ++i) {
        if (i % 2 == 0)
            put(4);
        put(0);
    }
    put(5);
    if (count > 0)
        codes.append(char(bits & 0xff));
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        b.append(char(block.size()));
        b.append(block);
    }
    b.append(char(0));
    b.append(char(0x3b));
    return b;
}

} // namespace

class TestRegressions : public QObject
{
    Q_OBJECT

private slots:
    void regressionFiles_data();
    void regressionFiles();
    void corpusFiles_data();
    void corpusFiles();
    void capCatchesALargeAllocation();

    // Hostile JPEGs made here from Qt's output, too large to keep as files.
    void jpegCutShortAfterALargeHeader();
    void progressiveBuffersBeyondTheBudget();
    void gifDataShortOfItsFrame_data();
    void gifDataShortOfItsFrame();

    // Every pixel a decoder hands over is defined: the same file gives the same pixels whatever
    // the allocator left in the memory they were decoded in.
    void pixelsDoNotDependOnMemory();
    void printDigests(); // the child's half of the test above

private:
    QTemporaryDir m_dir;
};

void TestRegressions::regressionFiles_data()
{
    QTest::addColumn<QString>("path");
    addFilesOf(RegressionsDir, QString());
}

void TestRegressions::regressionFiles()
{
    QFETCH(QString, path);
    const QString kind = checkClearOutcome(path, loadInChild(path));
    if (QTest::currentTestFailed())
        return;
    const QString expected = Expected.value(QFileInfo(path).fileName());
    if (!expected.isEmpty())
        QCOMPARE(kind, expected);
}

void TestRegressions::corpusFiles_data()
{
    QTest::addColumn<QString>("path");
    const QString dir = testsupport::corpusDir();
    if (dir.isEmpty()) {
        QTest::newRow("no corpus") << QString();
        return;
    }
    addFilesOf(dir, QString());
}

void TestRegressions::corpusFiles()
{
    CORVANE_REQUIRE_CORPUS();
    QFETCH(QString, path);
    checkClearOutcome(path, loadInChild(path));
}

// The cap is real: a legitimate picture that needs more memory than it allows cannot load under
// it, so a hostile file that made the loader allocate as much would fail above.
void TestRegressions::capCatchesALargeAllocation()
{
    if (!CanCapMemory)
        QSKIP("the sanitizer build cannot cap memory (its shadow memory counts against the cap)");
    // A bitmap of 9000 x 9000 pixels in 8 bits: 81 MB of file, 324 MB decoded.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.bmp"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray header(14 + 40 + 256 * 4, '\0');
    const int w = 9000, h = 9000;
    auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = char(v >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, quint32(header.size() + w * h));
    put32(10, quint32(header.size()));
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    header[26] = 1;
    header[28] = 8;
    QVERIFY(file.write(header) == header.size());
    QVERIFY(file.resize(header.size() + qint64(w) * h));
    file.close();

    const QString report = loadInChild(path);
    QVERIFY2(!report.startsWith(QLatin1String("None|")), qPrintable(report));
}

// A header of 16000 x 16000 pixels over the data of the first 256 rows: refused when the data
// ends, with memory for the rows decoded so far, not for the whole picture (768 MB, over the
// child's cap).
void TestRegressions::jpegCutShortAfterALargeHeader()
{
    QByteArray jpeg = jpegByQt(testsupport::pattern(16000, 256, 7), false);
    const qsizetype sof = frameHeader(jpeg);
    QVERIFY(sof > 0);
    qToBigEndian<quint16>(16000, jpeg.data() + sof + 3);
    const QString path = m_dir.filePath(QStringLiteral("tall.jpg"));
    testsupport::writeFile(path, jpeg);
    const QString report = loadInChild(path);
    QCOMPARE(checkClearOutcome(path, report), QStringLiteral("Damaged"));
    QVERIFY2(report.contains(QLatin1String("its picture data ends early")), qPrintable(report));
}

// A progressive file keeps every coefficient of the picture until its last scan: 6 bytes a
// pixel when no channel is subsampled, more than a budget of 4 bytes a pixel allows.
void TestRegressions::progressiveBuffersBeyondTheBudget()
{
    QByteArray jpeg = jpegByQt(testsupport::pattern(2000, 2000, 3), true);
    const qsizetype sof = frameHeader(jpeg);
    QVERIFY(sof > 0);
    QCOMPARE(int(jpeg[sof + 7]), 3); // three components; each as many samples as pixels
    for (int c = 0; c < 3; ++c)
        jpeg[sof + 8 + 3 * c + 1] = char(0x11);
    const QString name = QStringLiteral("full-chroma.jpg");
    const picture::Loaded r = picture::loadFromData(jpeg, name, picture::Budget{32767, 2000 * 2000});
    QCOMPARE(testsupport::errorName(r.error), QStringLiteral("TooLarge"));
    QCOMPARE(r.message, QStringLiteral("Cannot load %1: the picture is too large: decoding it needs more than 15 MB.").arg(name));
}

void TestRegressions::gifDataShortOfItsFrame_data()
{
    QTest::addColumn<int>("pixels");
    QTest::addColumn<QString>("expected");
    QTest::newRow("every pixel") << 10000 << QStringLiteral("None");
    QTest::newRow("one pixel short") << 9999 << QStringLiteral("Damaged");
    QTest::newRow("half") << 5000 << QStringLiteral("Damaged");
    QTest::newRow("none") << 0 << QStringLiteral("Damaged");
}

// Blocks that are all there can still hold too few pixels; decoders would leave the rest empty.
void TestRegressions::gifDataShortOfItsFrame()
{
    QFETCH(int, pixels);
    QFETCH(QString, expected);
    const QString path = m_dir.filePath(QStringLiteral("short.gif"));
    testsupport::writeFile(path, gifYielding(pixels));
    const picture::Loaded r = picture::load(path);
    QCOMPARE(testsupport::errorName(r.error), expected);
    if (r.ok()) {
        QCOMPARE(r.image.size(), QSize(100, 100));
        QCOMPARE(r.image.pixel(99, 99), qRgb(0, 0, 0));
    } else {
        QCOMPARE(r.message, QStringLiteral("Cannot load %1: the file is damaged or incomplete (its picture data holds "
                                           "%2 of its 10000 pixels).").arg(path).arg(pixels));
    }
}

namespace {

// An 8 x 4 run-length bitmap whose codes skip pixels: a move, an early end of line and an early
// end of the picture.
QByteArray rleWithSkippedPixels()
{
    // Bottom row first: three pixels, a move by (2, 1), two pixels, an end of line, one pixel,
    // the end of the picture.
    const QByteArray codes("\x03\x01" "\x00\x02\x02\x01" "\x02\x02" "\x00\x00" "\x01\x01" "\x00\x01", 14);
    const QByteArray palette("\x00\x00\xff\x00" "\x00\xff\x00\x00" "\xff\x00\x00\x00" "\xff\xff\xff\x00", 16);
    QByteArray b("BM");
    auto le = [&b](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.append(char((v >> (8 * i)) & 0xff));
    };
    const quint32 offset = 14 + 40 + quint32(palette.size());
    le(offset + quint32(codes.size()), 4);
    le(0, 4);
    le(offset, 4);
    for (const auto &[value, bytes] : {std::pair{40u, 4}, {8u, 4}, {4u, 4}, {1u, 2}, {8u, 2}, {1u, 4},
                                       {quint32(codes.size()), 4}, {2835u, 4}, {2835u, 4}, {4u, 4}, {0u, 4}})
        le(value, bytes);
    return b + palette + codes;
}

// A GIF whose only frame covers 10 x 10 pixels of a 100 x 100 screen.
QByteArray gifFrameSmallerThanItsScreen()
{
    QByteArray b = gifYielding(100);
    const qsizetype descriptor = b.indexOf('\x2c', 25);
    const char place[] = {5, 0, 5, 0, 10, 0, 10, 0};
    b.replace(descriptor + 1, 8, QByteArray(place, 8));
    return b;
}

QString digestOf(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (int y = 0; y < image.height(); ++y)
        hash.addData(QByteArrayView(image.constScanLine(y), qsizetype(image.width()) * 4));
    return QString::fromLatin1(hash.result().toHex());
}

QString digestOf(const picture::Loaded &r)
{
    return r.ok() ? digestOf(r.image) : testsupport::errorName(r.error);
}

// Every frame of a GIF as the command line's --all-frames reads them.
QString animationDigest(const QString &path, const picture::Budget &budget)
{
    const picture::Animation animation = picture::Source::open(path, path, budget, true).decodeFrames();
    QString digest = testsupport::errorName(animation.refusal.error);
    for (const QImage &frame : animation.frames)
        digest += u',' + digestOf(frame);
    return digest;
}

// The bytes of the PNG the writer makes of a picture, in the colour type it chooses.
QString pngDigest(const QImage &picture)
{
    struct Memory : picture::SaveSink {
        QByteArray bytes;
        bool write(const char *data, qint64 size) override
        {
            bytes.append(data, size);
            return true;
        }
    } sink;
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    picture::PngWriter writer(sink, rgba.width(), rgba.height(), picture::smallestLayout(rgba, rgba.height()));
    if (!writer.writeRows(rgba, 0, rgba.height()) || !writer.finish())
        return writer.error();
    return QString::fromLatin1(QCryptographicHash::hash(sink.bytes, QCryptographicHash::Sha1).toHex());
}

} // namespace

void TestRegressions::pixelsDoNotDependOnMemory()
{
    QStringList files;
    for (const QString &dir : {RegressionsDir, testsupport::corpusDir()}) {
        QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
        while (!dir.isEmpty() && it.hasNext())
            files << it.next();
    }
    const std::pair<const char *, QByteArray> made[] = {{"rle-skipping.bmp", rleWithSkippedPixels()},
                                                        {"gif-small-frame.gif", gifFrameSmallerThanItsScreen()}};
    for (const auto &[name, bytes] : made) {
        testsupport::writeFile(m_dir.filePath(QLatin1String(name)), bytes);
        files << m_dir.filePath(QLatin1String(name));
    }
    // Every PNG colour type and bit depth.
    const QString suite = m_dir.filePath(QStringLiteral("pngsuite"));
    QVERIFY(QDir().mkpath(suite));
    QProcess generator;
    generator.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_PNGSUITE_SCRIPT), suite});
    if (generator.waitForFinished(60000) && generator.exitCode() == 0)
        for (const QByteArray &name : generator.readAllStandardOutput().trimmed().split('\n'))
            files << suite + u'/' + QString::fromLatin1(name) + QStringLiteral(".png");
    // What run-length codes skip is transparent; what they paint is not.
    const QImage rle = picture::load(m_dir.filePath(QStringLiteral("rle-skipping.bmp"))).image;
    QCOMPARE(rle.size(), QSize(8, 4));
    QCOMPARE(qAlpha(rle.pixel(3, 3)), 0);
    QCOMPARE(rle.pixel(2, 3), qRgb(0, 255, 0));
    QCOMPARE(rle.pixel(5, 2), qRgb(0, 0, 255));
    files.sort();
    const QString list = m_dir.filePath(QStringLiteral("files.txt"));
    testsupport::writeFile(list, files.join(u'\n').toUtf8());

    QStringList outputs;
    for (const char *fill : {"0x5a", "0xa5"}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CORVANE_DIGEST_LIST"), list);
        env.insert(QStringLiteral("MALLOC_PERTURB_"), QString::number(QString::fromLatin1(fill).toInt(nullptr, 16)));
        // Blocks that glibc hands out again from its per-thread cache skip the fill.
        env.insert(QStringLiteral("GLIBC_TUNABLES"), QStringLiteral("glibc.malloc.tcache_count=0"));
        // The sanitizer build's allocator ignores the above and has its own fill.
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS"))
                                                      + QStringLiteral(":malloc_fill_byte=%1:max_malloc_fill_size=2147483647")
                                                            .arg(QString::fromLatin1(fill).toInt(nullptr, 16)));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("printDigests")});
        QVERIFY(child.waitForFinished(600000));
        QCOMPARE(child.exitCode(), 0);
        outputs << QString::fromUtf8(child.readAllStandardOutput());
    }
    const QStringList a = outputs[0].split(u'\n').filter(QRegularExpression(QStringLiteral("^DIGEST ")));
    const QStringList b = outputs[1].split(u'\n').filter(QRegularExpression(QStringLiteral("^DIGEST ")));
    QCOMPARE(a.size(), b.size());
    QCOMPARE(a.size(), files.size());
    for (qsizetype i = 0; i < a.size(); ++i)
        QVERIFY2(a[i] == b[i], qPrintable(a[i] + QStringLiteral(" / ") + b[i]));
}

void TestRegressions::printDigests()
{
    const QString list = qEnvironmentVariable("CORVANE_DIGEST_LIST");
    if (list.isEmpty())
        QSKIP("runs as the child of pixelsDoNotDependOnMemory");
    picture::Budget budget;
    budget.acceptPng = true;
    for (const QString &path : QString::fromUtf8(testsupport::readFile(list)).split(u'\n')) {
        const picture::Loaded loaded = picture::load(path, budget);
        const QString alone = digestOf(loaded);
        const QString held = digestOf(picture::load(path, budget, picture::Holding::WithOthers));
        const QString frames = loaded.format == Format::Gif || loaded.format == Format::Png || loaded.format == Format::Webp
            ? animationDigest(path, budget) : QString();
        const QString png = loaded.ok() ? pngDigest(loaded.image) : QString();
        std::printf("DIGEST %s %s %s %s %s\n", qPrintable(path), qPrintable(alone), qPrintable(held), qPrintable(frames),
                    qPrintable(png));
    }
}

QTEST_GUILESS_MAIN(TestRegressions)
#include "tst_regressions.moc"
