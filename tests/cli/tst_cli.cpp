// corvane-strip run as a user runs it, on real files in a sandbox; its sheets read back with
// Pillow, its JSON with Qt's JSON reader, its bitmaps compared with the window's own path.
#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/mainwindow.h"
#include "picture/codecs/bitmapfile.h"
#include "picture/pixels/surface.h"
#include "strip/frames.h"
#include "strip/publish/sheetfile.h"
#include "tests/support/testsupport.h"

using testsupport::Alpha;
using testsupport::pillowFrames;
using testsupport::Run;
using testsupport::runStrip;
using testsupport::sample;
using testsupport::readFile;
using testsupport::writeFile;
using testsupport::compareRgba;
using testsupport::words;

namespace {

// The expected sheet: transparent, the pictures put at hand-written places, each cut to the
// size given. Fully transparent pixels leave what is beneath; none of the cases overlaps
// half-transparent pixels with others.
// The sheet as it should be: each picture's part from `from` (its top-left when not given)
// shown at its place, and with extrude, the place's edge pixels repeated that far outward.
QImage expectedSheet(QSize size, const QList<QImage> &pictures, const QList<QRect> &places,
                     const QList<QPoint> &from = {}, int extrude = 0)
{
    QImage out(size, QImage::Format_RGBA8888);
    out.fill(Qt::transparent);
    for (int i = 0; i < pictures.size(); ++i) {
        const QRect &r = places[i];
        const QPoint f = from.value(i);
        for (int y = -extrude; y < r.height() + extrude; ++y)
            for (int x = -extrude; x < r.width() + extrude; ++x) {
                const int px = f.x() + std::clamp(x, 0, r.width() - 1), py = f.y() + std::clamp(y, 0, r.height() - 1);
                if (const uchar *s = pictures[i].constScanLine(py) + px * 4; s[3] != 0)
                    memcpy(out.scanLine(r.y() + y) + (r.x() + x) * 4, s, 4);
            }
    }
    return out;
}

// Each pixel repeated n times across and down.
QImage enlarged(const QImage &picture, int n)
{
    QImage out(picture.size() * n, picture.format());
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            out.setPixel(x, y, picture.pixel(x / n, y / n));
    return out;
}

// Writes pictures as PNG files p0.png, p1.png ... in dir; returns their names.
QStringList savePngs(const QString &dir, const QList<QImage> &pictures)
{
    QStringList names;
    for (int i = 0; i < pictures.size(); ++i) {
        names.append(QStringLiteral("p%1.png").arg(i));
        if (!pictures[i].save(dir + u'/' + names.last()))
            qFatal("cannot write a test picture");
    }
    return names;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void bitmapMatchesWindow_data();
    void bitmapMatchesWindow();
    void layouts_data();
    void layouts();
    void enginesFindEveryFrame_data();
    void enginesFindEveryFrame();
    void enginesReadEveryLayout_data();
    void enginesReadEveryLayout();
    void animatedInputs_data();
    void animatedInputs();
    void folderOrder_data();
    void folderOrder();
    void badUsage_data();
    void badUsage();
    void helpAndVersion_data();
    void helpAndVersion();
    void refusedBeforeWriting_data();
    void refusedBeforeWriting();
    void reports_data();
    void reports();
    void pagesWithIndexNames_data();
    void pagesWithIndexNames();
    void depfileDrivesTheBuild_data();
    void depfileDrivesTheBuild();
    void unchangedOutputsKeepTheirTime_data();
    void unchangedOutputsKeepTheirTime();
    void premultipliedSheets_data();
    void premultipliedSheets();
    void splitRoundTrip_data();
    void splitRoundTrip();
    void splitRefused_data();
    void splitRefused();
    void unreadableInput_data();
    void unreadableInput();
    void sheetSize_data();
    void sheetSize();
    void everyFormatKeepsThePixels_data();
    void everyFormatKeepsThePixels();
    void namesThatAreNotUtf8_data();
    void namesThatAreNotUtf8();
    void sameBytesWhateverTheMemory_data();
    void sameBytesWhateverTheMemory();
    void largeSheetColourType_data();
    void largeSheetColourType();
    void underAMemoryLimit_data();
    void underAMemoryLimit();
};

void TestCli::bitmapMatchesWindow_data()
{
    QTest::addColumn<QStringList>("files"); // kind:width:height, kind one of bmp jpg ico
    QTest::addColumn<int>("columns");
    QTest::addColumn<QByteArray>("textLine");
    const QStringList seven(7, QStringLiteral("bmp:32:32"));
    QTest::newRow("7 of 32x32, 3 a row") << seven << 3 << QByteArray("walk.bmp, 3, 7\r\n");
    QTest::newRow("a larger second runs into the next cells")
        << QStringList{QStringLiteral("bmp:32:32"), QStringLiteral("bmp:48:48"), QStringLiteral("bmp:32:32"), QStringLiteral("bmp:32:32")}
        << 2 << QByteArray("walk.bmp, 2, 4\r\n");
    QTest::newRow("10 a row lowered to 3, first picture the largest")
        << QStringList{QStringLiteral("jpg:48:40"), QStringLiteral("jpg:32:32"), QStringLiteral("bmp:20:50")}
        << 10 << QByteArray("walk.bmp, 3, 3\r\n");
    QTest::newRow("icons with alpha over the background")
        << QStringList{QStringLiteral("ico:32:32"), QStringLiteral("jpg:32:32"), QStringLiteral("ico:24:24")}
        << 2 << QByteArray("walk.bmp, 2, 3\r\n");
    QTest::newRow("a larger picture runs into the cell below, as in the window")
        << QStringList{QStringLiteral("jpg:20:10"), QStringLiteral("jpg:30:16"), QStringLiteral("bmp:20:10")}
        << 2 << QByteArray("walk.bmp, 2, 3\r\n");
}

void TestCli::bitmapMatchesWindow()
{
    QFETCH(QStringList, files);
    QFETCH(int, columns);
    QFETCH(QByteArray, textLine);
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < files.size(); ++i) {
        const QStringList fields = files[i].split(u':');
        const QImage image = fields[0] == QLatin1String("ico") ? sample(fields[1].toInt(), fields[2].toInt(), i, Alpha::Partial)
                                                            : testsupport::pattern(fields[1].toInt(), fields[2].toInt(), i);
        paths.append(dir.filePath(QStringLiteral("f%1.%2").arg(i).arg(fields[0])));
        QVERIFY(image.save(paths.last()));
    }

    // The window's path: its gathering, its layout rules, on its background colour.
    const strip::GatherResult gathered = strip::loadPictures(paths);
    QVERIFY(gathered.ok());
    const strip::StripPlan plan = strip::planStrip(gathered.pictures, int(paths.size()), std::min<int>(columns, int(paths.size())));
    QVERIFY(plan.ok);
    QVERIFY(strip::writeSheet(plan.job, dir.filePath(QStringLiteral("window.bmp")), strip::SheetFormat::Bmp,
                              MainWindow::menuBarColor()).ok);

    const Run run = runStrip(QStringList(paths) << QStringLiteral("-c") << QString::number(columns) << QStringLiteral("--overlap") << QStringLiteral("--txt")
                                                << QStringLiteral("-o") << QStringLiteral("walk.bmp"),
                             dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(readFile(dir.filePath(QStringLiteral("walk.bmp"))) == readFile(dir.filePath(QStringLiteral("window.bmp"))));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("walk.TXT"))), textLine);
}

void TestCli::layouts_data()
{
    QTest::addColumn<QList<QImage>>("pictures");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("sheet");
    QTest::addColumn<QList<QRect>>("places"); // where each picture shows, cut to what shows
    QTest::addColumn<QList<QPoint>>("from");  // the picture's pixel shown at its place's corner (default 0, 0)
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("extrude");
    const QList<QImage> five = {sample(20, 10, 1, Alpha::Partial), sample(20, 10, 2, Alpha::Partial), sample(20, 10, 3),
                                sample(20, 10, 4, Alpha::Binary), sample(20, 10, 5)};
    QTest::newRow("padding and margin")
        << five << words("-c 2 --padding 3 --margin 5")
        << QSize(53, 46) << QList<QRect>{{5, 5, 20, 10}, {28, 5, 20, 10}, {5, 18, 20, 10}, {28, 18, 20, 10}, {5, 31, 20, 10}} << QList<QPoint>{} << 1 << 0;
    QTest::newRow("columns filled first, best compression")
        << five << words("-c 2 --fill columns --compress best")
        << QSize(40, 30) << QList<QRect>{{0, 0, 20, 10}, {0, 10, 20, 10}, {0, 20, 20, 10}, {20, 0, 20, 10}, {20, 10, 20, 10}} << QList<QPoint>{} << 1 << 0;
    const QList<QImage> oversized = {sample(20, 10, 1), sample(30, 16, 2), sample(20, 10, 3, Alpha::Partial)};
    QTest::newRow("overlap: a larger picture runs into the empty cell below")
        << oversized << words("-c 2 --overlap") << QSize(40, 20) << QList<QRect>{{0, 0, 20, 10}, {20, 0, 20, 16}, {0, 10, 20, 10}} << QList<QPoint>{} << 1 << 0;
    QTest::newRow("a larger picture is cut at its cell, fast compression")
        << oversized << words("-c 2 --compress fast") << QSize(40, 20) << QList<QRect>{{0, 0, 20, 10}, {20, 0, 20, 10}, {0, 10, 20, 10}} << QList<QPoint>{} << 1 << 0;
    QTest::newRow("cell size given")
        << oversized << words("-c 3 --cell 32x12") << QSize(96, 12) << QList<QRect>{{0, 0, 20, 10}, {32, 0, 30, 12}, {64, 0, 20, 10}} << QList<QPoint>{} << 1 << 0;
    QTest::newRow("cell of the largest picture")
        << oversized << words("-c 2 --cell max") << QSize(60, 32) << QList<QRect>{{0, 0, 20, 10}, {30, 0, 30, 16}, {0, 16, 20, 10}} << QList<QPoint>{} << 1 << 0;
    QTest::newRow("centred in the largest cell")
        << oversized << words("-c 2 --cell max --anchor center") << QSize(60, 32)
        << QList<QRect>{{5, 3, 20, 10}, {30, 0, 30, 16}, {5, 19, 20, 10}} << QList<QPoint>{} << 1 << 0;
    QTest::newRow("standing on the bottom of the largest cell")
        << oversized << words("-c 2 --cell max --anchor bottom") << QSize(60, 32)
        << QList<QRect>{{5, 6, 20, 10}, {30, 0, 30, 16}, {5, 22, 20, 10}} << QList<QPoint>{} << 1 << 0;
    // The 30 x 16 picture centred on its 20 x 10 cell: its middle shows.
    QTest::newRow("centred and cut at its cell")
        << oversized << words("-c 2 --anchor center") << QSize(40, 20) << QList<QRect>{{0, 0, 20, 10}, {20, 0, 20, 10}, {0, 10, 20, 10}}
        << QList<QPoint>{{0, 0}, {5, 3}, {0, 0}} << 1 << 0;
    QTest::newRow("sides rounded up to powers of two")
        << five << words("-c 2 --pot") << QSize(64, 32) << QList<QRect>{{0, 0, 20, 10}, {20, 0, 20, 10}, {0, 10, 20, 10}, {20, 10, 20, 10}, {0, 20, 20, 10}} << QList<QPoint>{} << 1 << 0;
    QTest::newRow("enlarged three times, padding kept")
        << QList<QImage>{sample(4, 3, 1, Alpha::Binary), sample(4, 3, 2)} << words("-c 2 --scale 3 --padding 1")
        << QSize(25, 9) << QList<QRect>{{0, 0, 12, 9}, {13, 0, 12, 9}} << QList<QPoint>{} << 3 << 0;
    // Centred as the unscaled 3 x 3 picture is in its 4 x 4 cell (at 0, 0), then enlarged.
    QTest::newRow("enlarged twice, centred in unscaled pixels")
        << QList<QImage>{sample(3, 3, 1, Alpha::Binary), sample(4, 4, 2)} << words("-c 2 --cell max --anchor center --scale 2")
        << QSize(16, 8) << QList<QRect>{{0, 0, 6, 6}, {8, 0, 8, 8}} << QList<QPoint>{} << 2 << 0;
    QTest::newRow("edges extruded by two")
        << QList<QImage>{sample(6, 4, 1), sample(6, 4, 2, Alpha::Partial), sample(6, 4, 3)} << words("-c 2 --extrude 2 --padding 1")
        << QSize(21, 17) << QList<QRect>{{2, 2, 6, 4}, {13, 2, 6, 4}, {2, 11, 6, 4}} << QList<QPoint>{} << 1 << 2;
}

void TestCli::layouts()
{
    QFETCH(QList<QImage>, pictures);
    QFETCH(QStringList, options);
    QFETCH(QSize, sheet);
    QFETCH(QList<QRect>, places);
    QFETCH(QList<QPoint>, from);
    QFETCH(int, scale);
    QFETCH(int, extrude);
    QTemporaryDir dir;
    const Run run = runStrip(savePngs(dir.path(), pictures) + options << QStringLiteral("-o") << QStringLiteral("sheet.png"), dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QImage> got = pillowFrames(dir.filePath(QStringLiteral("sheet.png")));
    QCOMPARE(got.size(), 1);
    QList<QImage> shown;
    for (const QImage &p : pictures)
        shown << (scale > 1 ? enlarged(p.convertToFormat(QImage::Format_RGBA8888), scale) : p.convertToFormat(QImage::Format_RGBA8888));
    const QString difference = compareRgba(got[0], expectedSheet(sheet, shown, places, from, extrude));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// Two folders of PNG frames (one picture smaller than the cell) and an animated GIF.
static QList<QImage> writeFolderInputs(const QString &dir)
{
    QDir(dir).mkpath(QStringLiteral("anim/walk"));
    QDir(dir).mkpath(QStringLiteral("anim/run"));
    const QList<QImage> pictures = {sample(8, 6, 1, Alpha::Partial), sample(8, 6, 2), sample(8, 6, 3, Alpha::Binary),
                                    sample(5, 4, 4, Alpha::Partial)};
    const char *names[] = {"anim/walk/1.png", "anim/walk/2.png", "anim/run/1.png", "anim/run/2.png"};
    QList<QImage> frames;
    for (int i = 0; i < 4; ++i) {
        if (!pictures[i].save(dir + u'/' + QLatin1String(names[i])))
            qFatal("cannot write a test picture");
        frames.append(pillowFrames(dir + u'/' + QLatin1String(names[i])));
    }
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(
        "from PIL import Image, ImageDraw\n"
        "fr=[]\n"
        "for i in range(3):\n"
        "    im=Image.new('P',(8,6),0); im.putpalette([0,0,0,255,0,0,0,255,0,0,0,255]+[9]*756)\n"
        "    ImageDraw.Draw(im).rectangle((i*2,i,i*2+3,i+2),fill=1+i); fr.append(im)\n"
        "fr[0].save('%1/spin.gif',save_all=True,append_images=fr[1:],transparency=0,disposal=1,duration=[40,60,80])\n").arg(dir)});
    if (!p.waitForFinished() || p.exitCode() != 0)
        qFatal("cannot write the test GIF");
    return frames + pillowFrames(dir + QStringLiteral("/spin.gif"));
}

// "name:a,b" for each animation, in order.
static QStringList animationList(const QJsonObject &animations)
{
    QStringList out;
    for (auto it = animations.begin(); it != animations.end(); ++it) {
        QStringList frames;
        for (const QJsonValue &v : it.value().toArray())
            frames.append(v.isArray() ? QStringLiteral("%1=%2").arg(v[0].toString()).arg(v[1].toInt()) : v.toString());
        out.append(it.key() + u':' + frames.join(u','));
    }
    out.sort();
    return out;
}

void TestCli::enginesFindEveryFrame_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("names");      // in sheet order
    QTest::addColumn<QStringList>("animations"); // PixiJS's, sorted
    QTest::addColumn<QStringList>("tags");       // what Phaser builds from meta.frameTags, sorted
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    const QStringList paths = words("walk/1.png walk/2.png run/1.png run/2.png spin.gif#0 spin.gif#1 spin.gif#2");
    const QStringList numbers = words("0 1 2 3 4 5 6");
    const QStringList indexAnimations = words("run:2,3 spin:4,5,6 walk:0,1");
    // Phaser's helper finds frames by their number only; with path names it builds empty animations.
    QTest::newRow("hash, path names") << words("--json") << paths
        << words("run:run/1.png,run/2.png spin:spin.gif#0,spin.gif#1,spin.gif#2 walk:walk/1.png,walk/2.png")
        << words("run: spin: walk:") << 7 << 1;
    // Extruded edges and a sheet padded to powers of two leave every frame's rectangle its cell.
    QTest::newRow("hash, extruded, powers of two") << words("--json --extrude 1 --pot --padding 1") << paths
        << words("run:run/1.png,run/2.png spin:spin.gif#0,spin.gif#1,spin.gif#2 walk:walk/1.png,walk/2.png")
        << words("run: spin: walk:") << 7 << 1;
    // PixiJS keys a list's frames by their place in it, Phaser by their "filename"; Phaser's helper
    // reads a list's frames by place too, and then looks each up by that number, which only
    // --names index gives.
    QTest::newRow("array, path names") << words("--format json-array") << paths << indexAnimations
        << words("run:2=100,3=100 spin:4=40,5=60,6=80 walk:0=100,1=100") << 7 << 1;
    QTest::newRow("array, index names, padding") << words("--format json-array --names index --padding 2 -c 3")
        << numbers << indexAnimations << words("run:2=100,3=100 spin:4=40,5=60,6=80 walk:0=100,1=100") << 3 << 3;
    // Seven frames in five columns: every column holds a frame. The GIF's frames keep their own
    // delays (40, 60 and 80 ms); --duration is for still pictures.
    QTest::newRow("hash, index names, columns first, margin, duration")
        << words("--names index --fill columns -c 5 --margin 1 --duration 80") << numbers << indexAnimations
        << words("run:2=80,3=80 spin:4=40,5=60,6=80 walk:0=80,1=80") << 5 << 2;
}

void TestCli::enginesFindEveryFrame()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, names);
    QFETCH(QStringList, animations);
    QFETCH(QStringList, tags);
    QFETCH(int, columns);
    QFETCH(int, rows);
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        QSKIP("node is not installed; the engines' parsers cannot run");
    if (!QFileInfo::exists(engines + QStringLiteral("/node_modules/pixi.js")) || !QFileInfo::exists(engines + QStringLiteral("/node_modules/phaser")))
        QSKIP(qPrintable(QStringLiteral("PixiJS and Phaser are not installed: npm ci --prefix %1 (./dev test does it)").arg(engines)));
    QTemporaryDir dir;
    const QList<QImage> pictures = writeFolderInputs(dir.path());
    const Run run = runStrip(words("anim/walk anim/run spin.gif --all-frames -o sheet.png") + options,
                             dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QImage sheet = pillowFrames(dir.filePath(QStringLiteral("sheet.png"))).value(0);
    const QJsonObject meta = QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("sheet.json"))))[QStringLiteral("meta")].toObject();
    QCOMPARE(meta[QStringLiteral("columns")].toInt(), columns);
    QCOMPARE(meta[QStringLiteral("rows")].toInt(), rows);
    QCOMPARE(meta[QStringLiteral("extrude")].toInt(), options.contains(QStringLiteral("--extrude")) ? 1 : 0);

    QString error;
    const QJsonObject found = testsupport::engineReading(engines, dir.filePath(QStringLiteral("sheet.json")), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QJsonObject pixi = found[QStringLiteral("pixi")].toObject();
    const QJsonObject phaser = found[QStringLiteral("phaser")].toObject();
    QCOMPARE(animationList(pixi[QStringLiteral("animations")].toObject()), animations);
    QJsonObject phaserTags;
    for (const QJsonValue &a : phaser[QStringLiteral("anims")].toArray())
        phaserTags.insert(a[QStringLiteral("key")].toString(), a[QStringLiteral("frames")]);
    QCOMPARE(animationList(phaserTags), tags);

    // Each engine finds every frame by name; cut out at the rectangle it found, the frame is its
    // picture at the top-left corner of a cell the first picture's size, the rest transparent.
    const QSize cell = pictures[0].size();
    for (const QString &engine : {QStringLiteral("pixi"), QStringLiteral("phaser")}) {
        const QJsonObject frames = found[engine][QStringLiteral("frames")].toObject();
        QStringList got = frames.keys(), want = names;
        if (engine == QLatin1String("pixi") && options.contains(QStringLiteral("json-array")))
            for (int i = 0; i < want.size(); ++i)
                want[i] = QString::number(i);
        const QStringList engineNames = want;
        got.sort();
        want.sort();
        QCOMPARE(got, want);
        QSet<int> lefts;
        for (int i = 0; i < names.size(); ++i) {
            const QJsonObject f = frames[engineNames[i]].toObject();
            const QRect rect(f[QStringLiteral("x")].toInt(), f[QStringLiteral("y")].toInt(), f[QStringLiteral("w")].toInt(), f[QStringLiteral("h")].toInt());
            QCOMPARE(rect.size(), cell);
            QCOMPARE(QSize(f[QStringLiteral("ow")].toInt(), f[QStringLiteral("oh")].toInt()), cell);
            lefts.insert(rect.x());
            const QString difference = compareRgba(sheet.copy(rect), expectedSheet(cell, {pictures[i]}, {QRect(QPoint(0, 0), pictures[i].size())}));
            QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("%1, %2: %3").arg(engine, names[i], difference)));
        }
        QCOMPARE(int(lefts.size()), columns);
    }
}

void TestCli::enginesReadEveryLayout_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("cells");       // distinct rectangles
    QTest::addColumn<QSize>("cell");      // on the sheet; none given: packed, each its own
    QTest::addColumn<QPoint>("spinAt");   // where the GIF's first frame is found; (-1, -1): anywhere
    QTest::addColumn<QPointF>("pivot");   // (-1, -1): none given
    QTest::addColumn<bool>("turned");     // some frame is turned a quarter
    const QPointF none(-1, -1);
    const QPoint anywhere(-1, -1);
    QTest::newRow("plain") << words("-c 4") << 1 << 6 << QSize(10, 8) << QPoint(30, 0) << none << false;
    QTest::newRow("dedupe") << words("-c 4 --dedupe") << 1 << 5 << QSize(10, 8) << QPoint(20, 0) << none << false;
    QTest::newRow("trim") << words("-c 4 --trim") << 1 << 6 << QSize(9, 7) << QPoint(27, 0) << none << false;
    QTest::newRow("each animation from a row") << words("-c 4 --fill animations --margin 1") << 1 << 6 << QSize(10, 8)
                                               << QPoint(1, 9) << none << false;
    QTest::newRow("pivot at the bottom") << words("--anchor bottom") << 1 << 6 << QSize(10, 8) << QPoint(30, 0) << QPointF(0.5, 1) << false;
    QTest::newRow("pages") << words("-c 2 --max-size 20") << 2 << 6 << QSize(10, 8) << QPoint(10, 8) << none << false;
    QTest::newRow("pages of animations, trimmed, deduped, centred")
        << words("-c 2 --max-size 20 --fill animations --trim --dedupe --anchor center --padding 1") << 2 << 5 << QSize(9, 7)
        << QPoint(0, 8) << QPointF(0.5, 0.5) << false;
    QTest::newRow("packed") << words("--layout dense") << 1 << 6 << QSize() << anywhere << none << false;
    QTest::newRow("packed, deduped") << words("--layout dense --dedupe --anchor bottom") << 1 << 5 << QSize() << anywhere
                                     << QPointF(0.5, 1) << false;
    QTest::newRow("packed, turned, extruded, padded") << words("--layout dense --rotate --extrude 1 --padding 1 --max-size 36") << 1 << 6
                                                      << QSize() << anywhere << none << true;
    QTest::newRow("packed pages") << words("--layout dense --max-size 18 --rotate --margin 1") << 2 << 6 << QSize() << anywhere << none << true;
}

// Each engine finds every frame by name on its page; put back at its trim offset in a frame of
// its whole size, it is its picture.
void TestCli::enginesReadEveryLayout()
{
    QFETCH(QStringList, options);
    QFETCH(int, pages);
    QFETCH(int, cells);
    QFETCH(QSize, cell);
    QFETCH(QPoint, spinAt);
    QFETCH(QPointF, pivot);
    QFETCH(bool, turned);
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty()
        || !QFileInfo::exists(engines + QStringLiteral("/node_modules/pixi.js")) || !QFileInfo::exists(engines + QStringLiteral("/node_modules/phaser")))
        QSKIP(qPrintable(QStringLiteral("node, PixiJS or Phaser is missing: npm ci --prefix %1 (./dev test does it)").arg(engines)));
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("walk"));
    QHash<QString, QImage> pictures;
    for (int k = 0; k < 3; ++k) {
        // A transparent border around each, the third the same as the first.
        QImage image = sample(10, 8, k % 2, Alpha::Binary);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                if (x < 1 + k % 2 || y < 1 || x > 8 || y > 6)
                    image.setPixel(x, y, 0);
        pictures.insert(QStringLiteral("walk/%1.png").arg(k), image);
        QVERIFY(image.save(dir.filePath(QStringLiteral("walk/%1.png").arg(k))));
    }
    QProcess gif;
    gif.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_SUPPORT_DIR "/writegif.py"), dir.filePath(QStringLiteral("spin.gif")),
                                                   QStringLiteral("10"), QStringLiteral("8"), QStringLiteral("2"), QStringLiteral("40,60,80")});
    QVERIFY(gif.waitForFinished() && gif.exitCode() == 0);
    for (int k = 0; k < 3; ++k)
        pictures.insert(QStringLiteral("spin.gif#%1").arg(k), QImage(dir.filePath(QStringLiteral("spin.gif.%1.png").arg(k))));
    const Run run = runStrip(words("walk spin.gif --all-frames --json -o sheet.png") + options, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));

    QString error;
    const QJsonObject found = testsupport::engineReading(engines, dir.filePath(QStringLiteral("sheet.json")), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (const QString &engine : {QStringLiteral("pixi"), QStringLiteral("phaser")}) {
        const QJsonObject frames = found[engine][QStringLiteral("frames")].toObject();
        QCOMPARE(frames.size(), pictures.size());
        QSet<QString> images, rects;
        QHash<QString, QString> pageOf;
        bool anyTurned = false;
        for (auto p = pictures.cbegin(); p != pictures.cend(); ++p) {
            const QJsonObject f = frames[p.key()].toObject();
            const QString image = f[QStringLiteral("image")].toString();
            const QRect rect(f[QStringLiteral("x")].toInt(), f[QStringLiteral("y")].toInt(), f[QStringLiteral("w")].toInt(), f[QStringLiteral("h")].toInt());
            if (cell.isValid())
                QCOMPARE(rect.size(), cell);
            images.insert(image);
            pageOf.insert(p.key(), image);
            rects.insert(QStringLiteral("%1 %2 %3").arg(image).arg(rect.x()).arg(rect.y()));
            // Cut where the engine's uvs put the frame's corners, turned back as they turn it.
            QList<QPointF> corners;
            for (const QJsonValue &c : f[QStringLiteral("corners")].toArray())
                corners.append(QPointF(c[0].toDouble(), c[1].toDouble()));
            const bool turn = engine == QLatin1String("pixi") ? f[QStringLiteral("rotate")].toInt() != 0 : f[QStringLiteral("rotated")].toBool();
            anyTurned |= turn;
            // Phaser 3 reads the flag but draws a turned frame mirrored and stretched: it never
            // supported them (phaserjs/phaser#5012). It must see the turn where PixiJS does.
            if (turn && engine == QLatin1String("phaser")) {
                QCOMPARE(found[QStringLiteral("pixi")][QStringLiteral("frames")][p.key()][QStringLiteral("rotate")].toInt(), 2);
                continue;
            }
            const QImage whole = testsupport::wholeFrame(pillowFrames(dir.filePath(image)).value(0), corners,
                                                         QSize(f[QStringLiteral("ow")].toInt(), f[QStringLiteral("oh")].toInt()),
                                                         QPoint(f[QStringLiteral("tx")].toInt(), f[QStringLiteral("ty")].toInt()));
            const QString difference = compareRgba(whole, *p);
            QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("%1, %2: %3").arg(engine, p.key(), difference)));
            const QPointF got = f[QStringLiteral("px")].isNull() ? QPointF(-1, -1)
                                                                 : QPointF(f[QStringLiteral("px")].toDouble(), f[QStringLiteral("py")].toDouble());
            QCOMPARE(got, pivot);
            if (p.key() == QLatin1String("spin.gif#0") && spinAt != QPoint(-1, -1))
                QCOMPARE(rect.topLeft(), spinAt);
        }
        QCOMPARE(int(images.size()), pages);
        QCOMPARE(int(rects.size()), cells);
        QCOMPARE(anyTurned, turned);
        // PixiJS plays each animation whole from the page that holds all its frames.
        if (engine == QLatin1String("pixi")) {
            QStringList played;
            for (const char *a : {"spin:spin.gif#0,spin.gif#1,spin.gif#2", "walk:walk/0.png,walk/1.png,walk/2.png"}) {
                const QStringList members = QString::fromLatin1(a).section(u':', 1).split(u',');
                if (std::all_of(members.cbegin(), members.cend(), [&](const QString &m) { return pageOf[m] == pageOf[members[0]]; }))
                    played.append(QLatin1String(a));
            }
            QCOMPARE(animationList(found[engine][QStringLiteral("animations")].toObject()), played);
        }
    }
}

void TestCli::animatedInputs_data()
{
    QTest::addColumn<QString>("gif"); // a corpus file, or a Python expression for Pillow to save
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("file"); // what the made file is called
    QTest::addColumn<QList<int>>("durations"); // in the JSON, when given
    // Frames that move and change colour, one disposal method each time, transparent index 0.
    const QString made = QStringLiteral(
        "fr=[]\n"
        "for i in range(5):\n"
        "    im=Image.new('P',(40,30),0); im.putpalette([0,0,0,255,0,0,0,255,0,0,0,255]+[9]*756)\n"
        "    ImageDraw.Draw(im).rectangle((i*5,i*3,i*5+14,i*3+10),fill=1+i%3); fr.append(im)\n"
        "fr[0].save(OUT,save_all=True,append_images=fr[1:],transparency=0,disposal=DISPOSAL,optimize=False)\n");
    const QString gif = QStringLiteral("anim.gif");
    for (int disposal : {1, 2, 3})
        QTest::addRow("made, disposal %d", disposal) << QString(made).replace(QStringLiteral("DISPOSAL"), QString::number(disposal))
                                                     << 5 << gif << QList<int>();
    // Disposal to the background is left out: Pillow fills it where browsers leave it clear, as
    // the GIF suite of the picture tests checks.
    for (const char *name : {"chi", "different_transparency", "missing_background"})
        QTest::addRow("corpus %s", name) << QStringLiteral("corpus:gif/%1.gif").arg(QLatin1String(name)) << -1 << gif << QList<int>();
    // The same as APNG (frames blended over the ones before, as Pillow blends them right only
    // where pixels are opaque or clear) and as lossless animated WebP, each frame its own delay.
    const QString rgba = QStringLiteral(
        "fr=[]\n"
        "for i in range(4):\n"
        "    im=Image.new('RGBA',(40,30),(0,0,0,0))\n"
        "    ImageDraw.Draw(im).rectangle((i*5,i*3,i*5+14,i*3+10),fill=(255*(i%2),90,40*i,TRANSLUCENT)); fr.append(im)\n"
        "fr[0].save(OUT,save_all=True,append_images=fr[1:],duration=[40,60,80,100],loop=LOOP,OPTIONS)\n");
    QTest::newRow("APNG, blended over")
        << QString(rgba).replace(QStringLiteral("TRANSLUCENT"), QStringLiteral("255")).replace(QStringLiteral("LOOP"), QStringLiteral("0"))
               .replace(QStringLiteral("OPTIONS"), QStringLiteral("blend=1,disposal=0"))
        << 4 << QStringLiteral("anim.png") << QList<int>{40, 60, 80, 100};
    QTest::newRow("WebP, translucent")
        << QString(rgba).replace(QStringLiteral("TRANSLUCENT"), QStringLiteral("90+40*i")).replace(QStringLiteral("LOOP"), QStringLiteral("2"))
               .replace(QStringLiteral("OPTIONS"), QStringLiteral("lossless=True"))
        << 4 << QStringLiteral("anim.webp") << QList<int>{40, 60, 80, 100};
}

void TestCli::animatedInputs()
{
    QFETCH(QString, gif);
    QFETCH(int, frames);
    QFETCH(QString, file);
    QFETCH(QList<int>, durations);
    QTemporaryDir dir;
    QString path = dir.filePath(file);
    if (gif.startsWith(QLatin1String("corpus:"))) {
        CORVANE_REQUIRE_CORPUS();
        path = testsupport::corpusDir() + u'/' + gif.mid(7);
    } else {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("from PIL import Image, ImageDraw\nOUT='%1'\n").arg(path) + gif});
        QVERIFY(p.waitForFinished() && p.exitCode() == 0);
    }
    const QList<QImage> expected = pillowFrames(path);
    QVERIFY(!expected.isEmpty());
    if (frames > 0)
        QCOMPARE(expected.size(), frames);
    const Run run = runStrip({path, QStringLiteral("--all-frames"), QStringLiteral("-c"), QStringLiteral("4"), QStringLiteral("-o"),
                              QStringLiteral("sheet.png"), QStringLiteral("--json")}, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QImage sheet = pillowFrames(dir.filePath(QStringLiteral("sheet.png"))).value(0);
    const QSize cell = expected[0].size();
    QCOMPARE(sheet.size(), QSize(cell.width() * std::min<int>(4, int(expected.size())), cell.height() * int((expected.size() + 3) / 4)));
    for (int i = 0; i < expected.size(); ++i) {
        const QString difference = compareRgba(sheet.copy(QRect(QPoint(i % 4 * cell.width(), i / 4 * cell.height()), cell)), expected[i]);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
    }
    // One animation of all its frames, each with its own delay.
    const QJsonDocument json = QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("sheet.json"))));
    const QJsonObject animations = json[QStringLiteral("animations")].toObject();
    QCOMPARE(animations.size(), 1);
    QCOMPARE(animations.begin().value().toArray().size(), expected.size());
    for (int i = 0; i < durations.size(); ++i) {
        const QString name = QStringLiteral("%1#%2").arg(QFileInfo(path).fileName()).arg(i);
        QCOMPARE(json[QStringLiteral("frames")][name][QStringLiteral("duration")].toInt(), durations[i]);
    }
}

void TestCli::folderOrder_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("natural") << QStringLiteral("natural") << words("Walk1.png walk2.png walk02.png walk10.png walk10b.bmp x.dat");
    QTest::newRow("name") << QStringLiteral("name") << words("walk02.png Walk1.png walk10.png walk10b.bmp walk2.png x.dat");
}

void TestCli::folderOrder()
{
    QFETCH(QString, order);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("in/sub"));
    // Pictures by name or by content; a hidden one, a text file and a subfolder's picture left out.
    for (const char *name : {"walk10.png", "walk2.png", "Walk1.png", "walk02.png", "walk10b.bmp", ".hidden.png", "sub/walk3.png"})
        QVERIFY(sample(4, 4, 1).save(dir.filePath(QStringLiteral("in/") + QLatin1String(name)), name[qstrlen(name) - 1] == 'p' ? "bmp" : "png"));
    writeFile(dir.filePath(QStringLiteral("in/x.dat")), readFile(dir.filePath(QStringLiteral("in/walk2.png"))));
    writeFile(dir.filePath(QStringLiteral("in/notes.txt")), "not a picture");
    // The sheet of an earlier run, written into the same folder, is no frame.
    QVERIFY(sample(4, 4, 2).save(dir.filePath(QStringLiteral("in/sheet.png"))));
    const Run run = runStrip({QStringLiteral("in"), QStringLiteral("--order"), order, QStringLiteral("--format"), QStringLiteral("json-array"), QStringLiteral("-o"),
                              QStringLiteral("in/sheet.png")}, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QStringList got;
    for (const QJsonValue &f : QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("in/sheet.json"))))[QStringLiteral("frames")].toArray())
        got.append(f[QStringLiteral("filename")].toString());
    QCOMPARE(got, QStringList(expected).replaceInStrings(QRegularExpression(QStringLiteral("^")), QStringLiteral("in/")));
}

void TestCli::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no output") << words("a.png") << QStringLiteral("no output");
    QTest::newRow("no input") << words("-o s.png") << QStringLiteral("no INPUT");
    QTest::newRow("other extension") << words("a.png -o s.jpg") << QStringLiteral(".bmp, .png or .webp");
    QTest::newRow("columns not whole") << words("a.png -c 2.5 -o s.png") << QStringLiteral("--columns");
    QTest::newRow("columns 0") << words("a.png -c 0 -o s.png") << QStringLiteral("--columns");
    QTest::newRow("overlap with JSON") << words("a.png --overlap --json -o s.png") << QStringLiteral("leave out --json, --format or --overlap");
    QTest::newRow("extrude with overlap") << words("a.png --overlap --extrude 1 -o s.png") << QStringLiteral("--extrude repeats");
    QTest::newRow("clip and overlap") << words("a.png --clip --overlap -o s.png") << QStringLiteral("opposite");
    QTest::newRow("cell neither first, max nor a size") << words("a.png --cell biggest -o s.png") << QStringLiteral("--cell takes first, max or WxH");
    QTest::newRow("alpha unknown") << words("a.png --alpha drop -o s.png") << QStringLiteral("--alpha takes keep or clean or bleed");
    QTest::newRow("scale 0") << words("a.png --scale 0 -o s.png") << QStringLiteral("--scale");
    QTest::newRow("negative padding") << words("a.png --padding -1 -o s.png") << QStringLiteral("--padding");
    QTest::newRow("cell without height") << words("a.png --cell 32 -o s.png") << QStringLiteral("WxH");
    QTest::newRow("unknown order") << words("a.png --order date -o s.png") << QStringLiteral("natural or name");
    QTest::newRow("unknown compression") << words("a.png --compress most -o s.png") << QStringLiteral("--compress takes fast or default or best or max, not 'most'");
    QTest::newRow("unknown fill") << words("a.png --fill spiral -o s.png") << QStringLiteral("rows or columns");
    QTest::newRow("colour by name") << words("a.png --background red -o s.png") << QStringLiteral("#rrggbb");
    QTest::newRow("transparent bitmap") << words("a.png --background transparent -o s.bmp") << QStringLiteral("transparency");
    QTest::newRow("unknown option") << words("a.png --frames -o s.png") << QStringLiteral("Unknown option '--frames'.");
    QTest::newRow("typo gets a suggestion") << words("a.png --colums 3 -o s.png") << QStringLiteral("Unknown option '--colums'. Did you mean --columns?");
    QTest::newRow("abbreviation refused") << words("a.png --pad 3 -o s.png") << QStringLiteral("Unknown option '--pad'. Did you mean --padding?");
    QTest::newRow("ambiguous abbreviation") << words("a.png --c -o s.png") << QStringLiteral("Did you mean --columns, --cell, --clip or --compress?");
    QTest::newRow("unknown short option") << words("a.png -qx -o s.png") << QStringLiteral("Unknown option '-x'.");
    QTest::newRow("switch with a value") << words("a.png --clip=yes -o s.png") << QStringLiteral("'--clip' takes no value");
    QTest::newRow("value missing") << words("a.png -o") << QStringLiteral("'-o' needs a value");
    QTest::newRow("unknown format") << words("a.png --format=xml -o s.png") << QStringLiteral("json-hash or json-array");
    QTest::newRow("unknown names") << words("a.png --names file -o s.png") << QStringLiteral("path or index");
    QTest::newRow("duration 0") << words("a.png --duration 0 -o s.png") << QStringLiteral("--duration");
    QTest::newRow("split without a way to cut") << words("--split a.png -o out") << QStringLiteral("--cell WxH or --data");
    QTest::newRow("split with inputs") << words("--split a.png a.png --cell 4x4 -o out") << QStringLiteral("one sheet");
    QTest::newRow("split with a sheet option") << words("--split a.png --cell 4x4 --padding 1 -o out") << QStringLiteral("--padding has no meaning with --split");
    QTest::newRow("data without split") << words("a.png --data s.json -o s.png") << QStringLiteral("--data goes with --split");
    QTest::newRow("unknown layout") << words("a.png --layout packed -o s.png") << QStringLiteral("--layout takes grid or dense, not 'packed'");
    for (const char *grid : {"--columns 2", "--fill columns", "--cell max", "--overlap"}) {
        const QString option = QString::fromLatin1(grid).section(u' ', 0, 0);
        QTest::addRow("%s with a packed layout", grid) << words("a.png --layout dense -o s.png") + words(grid)
            << option + QStringLiteral(" is about a grid of even cells, which --layout dense does not make; leave out ") + option;
    }
    QTest::newRow("rotate without a packed layout") << words("a.png --rotate -o s.png") << QStringLiteral("give --layout dense too");
    QTest::newRow("rotate with the grid") << words("a.png --rotate --layout grid -o s.png")
                                          << QStringLiteral("the cells of --layout grid are not turned; give --layout dense too");
    QTest::newRow("premultiplied bitmap") << words("a.png --alpha premultiply -o s.bmp")
                                          << QStringLiteral("--alpha premultiply multiplies colours by their alpha, and a .bmp has none");
    QTest::newRow("variant without a scale") << words("a.png --variant @2x -o s.png") << QStringLiteral("--variant takes SUFFIX=SCALE");
    QTest::newRow("variant scale not a number") << words("a.png --variant @2x=two -o s.png") << QStringLiteral("SCALE is a positive decimal");
    QTest::newRow("variant scale 0") << words("a.png --variant @0=0.0 -o s.png") << QStringLiteral("SCALE must be above 0");
    QTest::newRow("variant scale negative") << words("a.png --variant @m=-1 -o s.png") << QStringLiteral("SCALE is a positive decimal");
    QTest::newRow("variant enlarging by a fraction") << words("a.png --variant @2x=1 --variant @3x=1.5 -o s.png")
                                                     << QStringLiteral("--variant @3x=1.5: a SCALE above 1 repeats pixels, so it must be a whole number");
    QTest::newRow("variant scale past 64") << words("a.png --variant @big=65 -o s.png") << QStringLiteral("SCALE is at most 64");
    QTest::newRow("variant suffix with a folder") << words("a.png --variant /hi=1 -o s.png") << QStringLiteral("cannot hold a '/'");
    QTest::newRow("variant suffix twice") << words("a.png --variant @2x=1 --variant @2x=0.5 -o s.png")
                                          << QStringLiteral("another --variant has the suffix '@2x' too");
    QTest::newRow("variant empty suffix twice") << words("a.png --variant =1 --variant =0.5 -o s.png")
                                                << QStringLiteral("another --variant has the suffix '' too");
    QTest::newRow("variant with scale") << words("a.png --scale 2 --variant @2x=1 -o s.png")
                                        << QStringLiteral("--scale 2 would mean two scales at once");
    QTest::newRow("variant with split") << words("--split a.png --cell 4x4 --variant @2x=1 -o out")
                                        << QStringLiteral("--variant has no meaning with --split");
}

void TestCli::badUsage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(sample(4, 4, 1).save(dir.filePath(QStringLiteral("a.png"))));
    const Run run = runStrip(args, dir.path());
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.startsWith(QLatin1String("corvane-strip: ")) && run.err.contains(message)
                 && run.err.contains(QLatin1String("Try 'corvane-strip --help'")), qPrintable(run.err));
    QCOMPARE(testsupport::entries(dir.path()), words("a.png"));
}

void TestCli::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("starts");
    QTest::newRow("--help") << words("--help") << QStringLiteral("Usage: corvane-strip [OPTIONS] INPUT... -o OUTPUT\n");
    QTest::newRow("-h among others") << words("a.png -h") << QStringLiteral("Usage: corvane-strip ");
    QTest::newRow("--version") << words("--version") << QStringLiteral("corvane-strip " CORVANE_VERSION "\n");
    QTest::newRow("-V") << words("-V") << QStringLiteral("corvane-strip " CORVANE_VERSION "\n");
}

void TestCli::helpAndVersion()
{
    QFETCH(QStringList, args);
    QFETCH(QString, starts);
    QTemporaryDir dir;
    const Run run = runStrip(args, dir.path());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith(starts) && run.err.isEmpty(), qPrintable(run.out + run.err));
    // Only the program's own options: none of the toolkit's.
    for (const char *foreign : {"--help-all", "-platform", "-qwindowgeometry", "-v,"})
        QVERIFY2(!run.out.contains(QLatin1String(foreign)), foreign);
}

// What the run would refuse is refused before anything is written, with or without --dry-run.
void TestCli::refusedBeforeWriting_data()
{
    QTest::addColumn<QString>("setup");     // folders to make before the run, comma-separated
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QStringList clash = {QStringLiteral("x/1.png"), QStringLiteral("y/1.png"), QStringLiteral("--json"), QStringLiteral("-o"), QStringLiteral("s.png")};
    QTest::newRow("frames named alike") << QString() << clash << QStringLiteral("x/1.png and y/1.png would both be named '1.png'");
    QTest::newRow("frames named alike, dry run") << QString() << (QStringList(clash) << QStringLiteral("--dry-run")) << QStringLiteral("x/1.png and y/1.png would both be named '1.png'");
    QTest::newRow("a file twice") << QString() << words("x x --json -o s.png") << QStringLiteral("would both be named 'x/1.png'");
    QTest::newRow("two folders of one name") << QString() << words("x z/x --names index -o s.png")
                                             << QStringLiteral("two would be named 'x'");
    QTest::newRow("missing output folder") << QString() << words("x -o gone/s.png")
                                           << QStringLiteral("Cannot write gone/s.png: No such file or directory");
    QTest::newRow("missing output folder, dry run") << QString() << words("x --dry-run -o gone/s.png")
                                                    << QStringLiteral("Cannot write gone/s.png: No such file or directory");
    QTest::newRow("folder in the way of the JSON") << QStringLiteral("s.json") << words("x --json -o s.png")
                                                   << QStringLiteral("Cannot write s.json: a folder of that name is in the way");
    QTest::newRow("folder in the way of the text file, dry run") << QStringLiteral("s.TXT") << words("x --txt --dry-run -o s.png")
                                                                 << QStringLiteral("Cannot write s.TXT: a folder of that name is in the way");
    QTest::newRow("folder in the way of the sheet") << QStringLiteral("s.bmp") << words("x -o s.bmp")
                                                    << QStringLiteral("Cannot write s.bmp: a folder of that name is in the way");
    // The sheet's own name, where a data file names its image, must keep the file readable.
    const auto image = [](const char *format, const QString &output) {
        return QStringList{QStringLiteral("x"), QLatin1String(format), QStringLiteral("-o"), output};
    };
    const QString another = QStringLiteral("; give the sheet another name.");
    QTest::newRow("a line break in the text file's name") << QString() << image("--txt", QStringLiteral("a,b\r\nc.bmp"))
        << QStringLiteral("Cannot write a,b\\r\\nc.bmp: the one-line text file names the sheet's image by its file name, "
                          "which cannot hold a line break") + another;
    QTest::newRow("a comma in the text file's name") << QString() << image("--txt", QStringLiteral("a,b.bmp"))
        << QStringLiteral("Cannot write a,b.bmp: the one-line text file names the sheet's image by its file name, "
                          "which cannot hold a comma, which parts its fields") + another;
    QTest::newRow("a line break on a libGDX page line") << QString() << image("--format=libgdx", QStringLiteral("x\ny.png"))
        << QStringLiteral("Cannot write x\\ny.png: the libGDX atlas names the sheet's image by its file name, "
                          "which cannot hold a line break") + another;
    QTest::newRow("a colon on a libGDX page line") << QString() << image("--format=libgdx", QStringLiteral("a:b.png"))
        << QStringLiteral("Cannot write a:b.png: the libGDX atlas names the sheet's image by its file name, "
                          "which cannot hold a colon, which makes its line read as a field") + another;
    QTest::newRow("a control character in Tiled's image") << QString() << image("--format=tiled", QStringLiteral("c\x01.png"))
        << QStringLiteral("Cannot write c\\x01.png: Tiled's XML names the sheet's image by its file name, "
                          "which cannot hold a control character") + another;
    QTest::newRow("a control character in Starling's image") << QString() << image("--format=sparrow", QStringLiteral("c\x02.png"))
        << QStringLiteral("Cannot write c\\x02.png: Starling's XML names the sheet's image by its file name, "
                          "which cannot hold a control character") + another;
    QTest::newRow("a line break in cocos2d's image") << QString() << image("--format=cocos2d", QStringLiteral("c\n.png"))
        << QStringLiteral("Cannot write c\\n.png: cocos2d's plist names the sheet's image by its file name, "
                          "which cannot hold a line break") + another;
    // What a data end cannot hold of a packed layout.
    const QString turned = QStringLiteral("Cannot write s.png: --rotate turns frames a quarter on the sheet, and ");
    QTest::newRow("turned frames for CSS") << QString() << words("x --layout dense --rotate --format css -o s.png")
        << turned + QStringLiteral("a CSS background shows its part of the sheet as it lies, with no way to turn it back; leave out --rotate or --format css.");
    QTest::newRow("turned frames for Godot") << QString() << words("x --layout dense --rotate --format godot -o s.png")
        << turned + QStringLiteral("Godot's AtlasTexture shows its region as it lies, with no way to turn it back; leave out --rotate or --format godot.");
    QTest::newRow("a packed layout for Tiled") << QString() << words("x --layout dense --format tiled -o s.png")
        << QStringLiteral("Cannot write s.png: Tiled's tilesets cut their image into tiles of one size in even rows, which --layout dense "
                          "does not make; use --layout grid or leave out --format tiled.");
    QTest::newRow("a packed layout for the text file, dry run") << QString() << words("x --layout dense --txt --dry-run -o s.png")
        << QStringLiteral("Cannot write s.png: the text file records frames a row of an even grid, which --layout dense does not make; "
                          "use --layout grid or leave out --txt.");
    const QString both = QStringLiteral("Cannot write s.png: with --rotate, --format libgdx wants turned frames stored anticlockwise and --format %1 "
                                        "clockwise, so one sheet cannot serve both; write them in two runs.");
    QTest::newRow("turned both ways, libGDX and Starling") << QString() << words("x --layout dense --rotate --format sparrow,libgdx -o s.png")
                                                           << both.arg(QStringLiteral("sparrow"));
    QTest::newRow("turned both ways, libGDX and the JSON") << QString() << words("x --layout dense --rotate --json --format libgdx -o s.png")
                                                           << both.arg(QStringLiteral("json-hash"));
    // Variants: refused before anything of any of them is written.
    QTest::newRow("folder in the way of a variant's JSON") << QStringLiteral("s.json") << words("x --json --variant @2x=1 --variant =0.5 -o s.png")
                                                           << QStringLiteral("Cannot write s.json: a folder of that name is in the way");
    QTest::newRow("a variant's name taken by another's page") << QString()
        << words("x y --layout dense --max-size 4 --variant =1 --variant -1=0.5 -o s.png")
        << QStringLiteral("Cannot write s-1.png: two variants would both write it; give them suffixes that make other names.");
    const QString premultiplied = QStringLiteral("Cannot write s.png: --alpha premultiply multiplies every colour by its alpha, and %1, "
                                                 "so every edge would darken; leave out --alpha premultiply or --format %2.");
    QTest::newRow("premultiplied for CSS") << QString() << words("x --alpha premultiply --format css -o s.png")
        << premultiplied.arg(QStringLiteral("a browser draws a PNG's colours as straight alpha"), QStringLiteral("css"));
    QTest::newRow("premultiplied for Tiled") << QString() << words("x --alpha premultiply --format tiled -o s.png")
        << premultiplied.arg(QStringLiteral("Tiled draws its tiles' colours as straight alpha"), QStringLiteral("tiled"));
}

void TestCli::refusedBeforeWriting()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    for (const char *name : {"x/1.png", "y/1.png", "z/x/2.png"}) {
        QDir(dir.path()).mkpath(QFileInfo(QLatin1String(name)).path());
        QVERIFY(sample(4, 4, 1).save(dir.filePath(QLatin1String(name))));
    }
    for (const QString &folder : setup.split(u',', Qt::SkipEmptyParts))
        QVERIFY(QDir(dir.path()).mkpath(folder));
    // An earlier run's sheet, which must stay as it was.
    writeFile(dir.filePath(QStringLiteral("s.png")), "old sheet");
    const QStringList before = testsupport::entries(dir.path());
    const Run run = runStrip(args, dir.path());
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err == QStringLiteral("corvane-strip: ") + message + u'\n'
                 || (run.err.startsWith(QStringLiteral("corvane-strip: Cannot name")) && run.err.contains(message)),
             qPrintable(run.err));
    QVERIFY2(!run.err.contains(dir.path()), "paths are shown as given");
    QCOMPARE(readFile(dir.filePath(QStringLiteral("s.png"))), QByteArray("old sheet"));
    QCOMPARE(testsupport::entries(dir.path()), before);
}

// The warning that a GIF gives only its first frame; the lines a dry run prints.
void TestCli::reports_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("out"); // lines stdout must hold, in this order
    const QString warning = QStringLiteral("corvane-strip: warning: spin.gif is animated (3 frames); only its first frame is taken. "
                                           "--all-frames takes them all.\n");
    QTest::newRow("first frame only") << words("spin.gif -o s.png") << warning << QString();
    QTest::newRow("quiet") << words("spin.gif -q -o s.png") << QString() << QString();
    QTest::newRow("all frames") << words("spin.gif --all-frames -o s.png") << QString() << QString();
    QTest::newRow("a picture larger than its cell") << words("anim/run/2.png anim/walk/1.png -o s.png")
        << QStringLiteral("corvane-strip: warning: anim/walk/1.png is 8 x 6 pixels, larger than its 5 x 4 cell: it is cut at "
                          "the cell's edge. --cell max makes every cell hold the largest picture.\n") << QString();
    QTest::newRow("running over, as asked") << words("anim/run/2.png anim/walk/1.png --overlap -o s.png") << QString() << QString();
    QTest::newRow("dry run lists frames and files") << words("anim/walk spin.gif --all-frames --txt --json -c 4 --dry-run -o s.png")
        << QString() << QStringLiteral("frames: 5\ncolumns: 4\nrows: 2\ncell: 8 x 6\n|frame order:\n"
                          "  0: anim/walk/1.png, named walk/1.png\n  1: anim/walk/2.png, named walk/2.png\n"
                          "  2: spin.gif, frame 0, named spin.gif#0\n  3: spin.gif, frame 1, named spin.gif#1\n"
                          "  4: spin.gif, frame 2, named spin.gif#2\nanimations:\n  walk: frames 0 to 1\n  spin: frames 2 to 4|"
                          "would write:\n  s.png\n  s.json\n  s.TXT\n");
    QTest::newRow("dry run lists pages, shared cells and every format's files")
        << words("anim/walk spin.gif --all-frames --dedupe -c 1 --max-size 12 --json --format tiled,css --dry-run -o s.png")
        << QStringLiteral("corvane-strip: warning: the animation spin runs from page 1 to page 2; PixiJS's animations and "
                          "Tiled's tilesets hold it on neither. --fill animations starts each on a row.\n")
        << QStringLiteral("frames: 5\ncells: 5\n|page 0: s-0.png, 8 x 12 pixels, cells: 2, rows: 2\n"
                          "page 1: s-1.png, 8 x 12 pixels, cells: 2, rows: 2\npage 2: s-2.png, 8 x 6 pixels, cells: 1, rows: 1\n|"
                          "  4: spin.gif, frame 2, named spin.gif#2, page 2\nanimations:\n  walk: frames 0 to 1\n  spin: frames 2 to 4, plays once\n"
                          "would write:\n  s-0.png\n  s-1.png\n  s-2.png\n  s.json\n  s-1.json\n  s-2.json\n  s-0.tsx\n  s-1.tsx\n"
                          "  s-2.tsx\n  s.css\n");
}

void TestCli::reports()
{
    QFETCH(QStringList, args);
    QFETCH(QString, err);
    QFETCH(QString, out);
    QTemporaryDir dir;
    writeFolderInputs(dir.path());
    const Run run = runStrip(args, dir.path());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, err);
    qsizetype at = 0;
    for (const QString &part : out.split(u'|', Qt::SkipEmptyParts)) {
        at = run.out.indexOf(part, at);
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("no '%1' in:\n%2").arg(part, run.out)));
    }
    QCOMPARE(QFileInfo::exists(dir.filePath(QStringLiteral("s.png"))), !args.contains(QStringLiteral("--dry-run")));
}

// Pages whose JSON names the frames by index are refused before anything is written: Phaser's
// createFromAseprite would find the first page's frames alone. Pages named by path, one sheet
// named by index, and pages with data files other than the JSON are written as before.
void TestCli::pagesWithIndexNames_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("refused");
    const char *inputs = "anim/walk spin.gif --all-frames -c 1 -o s.png ";
    auto row = [&](const char *name, const char *options, bool refused) {
        QTest::newRow(name) << words(qPrintable(QLatin1String(inputs) + QLatin1String(options))) << refused;
    };
    row("pages, index names (JSON implied)", "--names index --max-size 12", true);
    row("pages, index names, JSON asked", "--names index --json --max-size 12", true);
    row("pages, index names, JSON and Tiled", "--names index --json --format tiled --max-size 12", true);
    row("pages, index names, dry run", "--names index --max-size 12 --dry-run", true);
    row("pages, index names, trimmed and deduped", "--names index --max-size 12 --trim --dedupe", true);
    row("pages, path names", "--json --max-size 12", false);
    row("one sheet within --max-size, index names", "--names index --max-size 64", false);
    row("pages, index names, Tiled alone", "--names index --format tiled --max-size 12", false);
}

void TestCli::pagesWithIndexNames()
{
    QFETCH(QStringList, args);
    QFETCH(bool, refused);
    QTemporaryDir dir;
    writeFolderInputs(dir.path());
    writeFile(dir.filePath(QStringLiteral("s.json")), "old data"); // an earlier run's, kept
    const QStringList before = testsupport::entries(dir.path());
    const Run run = runStrip(args, dir.path());
    if (!refused) {
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(!run.err.contains(QStringLiteral("createFromAseprite")));
        return;
    }
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QString());
    // One sentence: the output, how many pages, why, and what to do instead.
    QVERIFY2(run.err.startsWith(QStringLiteral("corvane-strip: Cannot write s.png: the sheet takes 3 pages")), qPrintable(run.err));
    for (const char *part : {"createFromAseprite", "--names index", "--max-size", "by path", "multiatlas"})
        QVERIFY2(run.err.contains(QLatin1String(part)), qPrintable(run.err));
    QCOMPARE(run.err.count(u'\n'), 1);
    QCOMPARE(testsupport::entries(dir.path()), before);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("s.json"))), QByteArray("old data"));
}

void TestCli::unreadableInput_data()
{
    QTest::addColumn<QByteArray>("bytes"); // of bad.png, bad.gif or bad.jpg as named by file
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("options");
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    sample(64, 64, 3).save(&buffer, "png");
    QTest::newRow("png cut in half") << png.left(png.size() / 2) << QStringLiteral("bad.png") << QStringList{};
    QByteArray crc = png;
    crc[png.indexOf("IDAT") + 20] = char(crc[png.indexOf("IDAT") + 20] ^ 0x55);
    QTest::newRow("png data damaged") << crc << QStringLiteral("bad.png") << QStringList{};
    QByteArray jpeg;
    QBuffer jbuffer(&jpeg);
    jbuffer.open(QIODevice::WriteOnly);
    testsupport::pattern(64, 64, 3).save(&jbuffer, "jpg");
    QTest::newRow("jpeg cut") << jpeg.left(jpeg.size() / 2) << QStringLiteral("bad.jpg") << QStringList{};
    QTest::newRow("text") << QByteArray("hello") << QStringLiteral("bad.png") << QStringList{};
    // A two-frame GIF (4 x 4, Pillow wrote it), cut inside its second frame's data.
    const QByteArray gif = QByteArray::fromHex("47494638376104000400810000ffffff0000000000000000002c0000000004000400000809"
                                               "0001081c48b0208080002c000000000400040081000000ffffff00000000000008090001"
                                               "081c48b0208080003b").chopped(6);
    QTest::newRow("gif frame cut") << gif << QStringLiteral("bad.gif") << words("--all-frames");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("gone.png") << QStringList{};
}

void TestCli::unreadableInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, file);
    QFETCH(QStringList, options);
    QTemporaryDir dir;
    QVERIFY(sample(8, 8, 1).save(dir.filePath(QStringLiteral("good.png"))));
    if (!file.startsWith(QLatin1String("gone")))
        writeFile(dir.filePath(file), bytes);
    // A dry run refuses what the run refuses.
    for (const QString &out : {QStringLiteral("sheet.png"), QStringLiteral("sheet.bmp"), QStringLiteral("dry.png")}) {
        writeFile(dir.filePath(out), "old sheet");
        const QStringList before = testsupport::entries(dir.path());
        const QStringList dry = out.startsWith(QLatin1String("dry")) ? words("--dry-run") : QStringList();
        const Run run = runStrip(QStringList{QStringLiteral("good.png"), file, QStringLiteral("--json"), QStringLiteral("--txt"), QStringLiteral("-o"), out} + options + dry, dir.path());
        QCOMPARE(run.status, 1);
        // Named as given, whether the header or the decoder refused it.
        QVERIFY2(run.err.contains(QStringLiteral("Cannot load ") + file + u':') && !run.err.contains(dir.path()), qPrintable(run.err));
        QCOMPARE(readFile(dir.filePath(out)), QByteArray("old sheet"));
        QCOMPARE(testsupport::entries(dir.path()), before);
    }
}

void TestCli::sheetSize_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("wideGifs"); // inputs: that many 16000 x 16000 GIFs, or two small PNGs
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("over 4096 warns") << words("--cell 5000x10 -c 1 -o s.png") << 0 << 0 << QStringLiteral("more than 4096 pixels");
    QTest::newRow("over 16384 warns once") << words("--cell 10x20000 -o s.png") << 0 << 0 << QStringLiteral("more than 16384 pixels");
    QTest::newRow("bitmap over 4 GB refused") << words("--cell 30000x30000 -c 2 -o s.bmp") << 0 << 1
                                              << QStringLiteral("too large for a bitmap file, which holds at most 4 GB.");
    // Each one a gigabyte decoded, all in the same row: more than one sheet may hold at once.
    QTest::newRow("memory budget refused") << words("-o s.png") << 8 << 1 << QStringLiteral("MiB of memory one strip may use.");
    // Absurd sheets are refused at once, before anything is planned row by row.
    const QString largest = QStringLiteral("larger than a sheet may be: at most 4194304 pixels a side and 2147483648 pixels in all.");
    QTest::newRow("ten gigapixels") << words("--cell 99999x99999 -o s.png") << 0 << 1 << largest;
    QTest::newRow("a side past the largest") << words("--cell 1048576x1 --scale 8 -c 1 -o s.png") << 0 << 1 << largest;
    QTest::newRow("enlarged past the largest") << words("--cell 1048576x1048576 --scale 64 -o s.bmp") << 0 << 1 << largest;
    QTest::newRow("WebP over 16383 refused") << words("--cell 16384x4 -c 1 -o s.webp") << 0 << 1
                                             << QStringLiteral("16384 x 8 pixels it is too large for a WebP file, which holds "
                                                               "at most 16383 pixels a side; --max-size 16383 cuts it into pages.");
}

void TestCli::sheetSize()
{
    QFETCH(QStringList, options);
    QFETCH(int, wideGifs);
    QFETCH(int, status);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QStringList inputs{QStringLiteral("a.png"), QStringLiteral("b.png")};
    QVERIFY(sample(4, 4, 1).save(dir.filePath(inputs[0])));
    QVERIFY(sample(4, 4, 2).save(dir.filePath(inputs[1])));
    if (wideGifs > 0) {
        // A 16000 x 16000 screen with one 1 x 1 frame in it.
        writeFile(dir.filePath(QStringLiteral("wide.gif")),
                  QByteArray::fromHex("474946383961803e803e800000000000ffffff2c00000000010001000002024401003b"));
        inputs = QStringList(wideGifs, QStringLiteral("wide.gif"));
    }
    const QStringList before = testsupport::entries(dir.path());
    const Run run = runStrip(inputs + words("--dry-run") + options, dir.path());
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message) && run.err.count(QLatin1String("warning")) <= 1, qPrintable(run.err));
    QVERIFY2(run.out.contains(QLatin1String("frames: ")) || status != 0, qPrintable(run.out));
    QCOMPARE(testsupport::entries(dir.path()), before);
}

// Every format and compression gives the pixels of the default PNG, decoded by Pillow (and by
// dwebp): clear pixels keep their colours unless cleaned. The same bytes come on one core.
void TestCli::everyFormatKeepsThePixels_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::newRow("WebP, every kind of alpha") << QStringList() << QStringLiteral("s.webp");
    QTest::newRow("WebP, clear pixels cleaned") << words("--alpha clean") << QStringLiteral("s.webp");
    QTest::newRow("WebP, opaque background, fast") << words("--background #336699 --compress fast") << QStringLiteral("s.webp");
    QTest::newRow("WebP, best") << words("--compress best") << QStringLiteral("s.webp");
    QTest::newRow("PNG, best") << words("--compress best") << QStringLiteral("s.png");
    QTest::newRow("PNG, max") << words("--compress max") << QStringLiteral("s.png");
}

void TestCli::everyFormatKeepsThePixels()
{
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QTemporaryDir dir;
    // 1200 x 400: a PNG of several chunks; clear pixels of every colour in the binary picture.
    const QStringList inputs = savePngs(dir.path(), {sample(600, 200, 1), sample(600, 200, 2, Alpha::Binary),
                                                     sample(600, 200, 3, Alpha::Partial), sample(300, 100, 4, Alpha::Binary)});
    QStringList reference = options;
    reference.removeIf([](const QString &o) { return o.startsWith(QLatin1String("--compress")) || o == QLatin1String("fast")
                                                     || o == QLatin1String("best") || o == QLatin1String("max"); });
    Run run = runStrip(inputs + reference + words("-c 2 -o want.png"), dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    run = runStrip(inputs + options + words("-c 2 -o") << output, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QImage want = pillowFrames(dir.filePath(QStringLiteral("want.png"))).value(0);
    QList<QImage> decoded{pillowFrames(dir.filePath(output)).value(0)};
    const QString dwebp = QStandardPaths::findExecutable(QStringLiteral("dwebp"));
    if (output.endsWith(QLatin1String(".webp")) && !dwebp.isEmpty()) {
        QVERIFY(QProcess::execute(dwebp, {QStringLiteral("-quiet"), dir.filePath(output), QStringLiteral("-o"), dir.filePath(QStringLiteral("dwebp.png"))}) == 0);
        decoded.append(pillowFrames(dir.filePath(QStringLiteral("dwebp.png"))).value(0));
    }
    QVERIFY(!want.isNull() && want.size() == QSize(1200, 400));
    for (const QImage &got : std::as_const(decoded)) {
        QCOMPARE(got.size(), want.size());
        for (int y = 0; y < want.height(); ++y)
            QVERIFY2(memcmp(got.constScanLine(y), want.constScanLine(y), size_t(want.width()) * 4) == 0,
                     qPrintable(QStringLiteral("row %1 differs").arg(y)));
    }
    // The reader did see coloured clear pixels, or cleaned ones.
    const uchar *clear = want.constScanLine(0) + 600 * 4; // the binary picture's (0, 0)
    if (!options.contains(QStringLiteral("--background"))) {
        QCOMPARE(clear[3], uchar(0));
        QCOMPARE(clear[0] || clear[1] || clear[2], !options.contains(QStringLiteral("clean")));
    }
    const QString taskset = QStandardPaths::findExecutable(QStringLiteral("taskset"));
    if (taskset.isEmpty())
        QSKIP("taskset is needed to run on one core");
    run = runStrip(inputs + options + words("-c 2 -o") << QStringLiteral("one-core") + output, dir.path(), {taskset, QStringLiteral("-c"), QStringLiteral("0")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(readFile(dir.filePath(output)) == readFile(dir.filePath(QStringLiteral("one-core") + output)));
}

// A sheet made and split again gives back its pixels, and the names it was made with.
void TestCli::depfileDrivesTheBuild_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("runsAgain");
    for (const QString &tool : {QStringLiteral("make"), QStringLiteral("ninja")}) {
        QTest::addRow("%s, nothing changed", qPrintable(tool)) << tool << QString() << false;
        QTest::addRow("%s, a frame changed", qPrintable(tool)) << tool << QStringLiteral("repaint") << true;
        QTest::addRow("%s, a frame added", qPrintable(tool)) << tool << QStringLiteral("add") << true;
        QTest::addRow("%s, a frame removed", qPrintable(tool)) << tool << QStringLiteral("remove") << true;
    }
}

// Make (its file including the dependency file, as -MD's users do) and Ninja (deps = gcc,
// restat) run corvane-strip again exactly when a frame is changed, added or removed, in a
// folder whose name and files' names need escaping.
void TestCli::depfileDrivesTheBuild()
{
    QFETCH(QString, tool);
    QFETCH(QString, change);
    QFETCH(bool, runsAgain);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));
    QTemporaryDir dir;
    const QString art = dir.filePath(QStringLiteral("my art"));
    QVERIFY(QDir().mkpath(art));
    const QStringList names = {QStringLiteral("a#b$c%d.png"), QStringLiteral("e f.png"), QStringLiteral("g.png")};
    for (int i = 0; i < names.size(); ++i)
        QVERIFY(sample(6, 4, i, Alpha::Binary).save(art + u'/' + names[i]));
    // Inputs older than anything the build makes, whatever the clock's resolution.
    const timespec old[2] = {{946684800, 0}, {946684800, 0}};
    for (const QString &path : QStringList{art, art + QStringLiteral("/") + names[0], art + QStringLiteral("/") + names[1],
                                           art + QStringLiteral("/") + names[2]})
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, 0) == 0);
    const QString command = QStringLiteral("%1 \"my art\" -o s.png --json --depfile s.d -q && echo ran >> log")
                                .arg(QStringLiteral(CORVANE_STRIP));
    if (tool == QLatin1String("make"))
        writeFile(dir.filePath(QStringLiteral("Makefile")),
                  (QStringLiteral("s.png:\n\t") + command + QStringLiteral("\n-include s.d\n")).toUtf8());
    else
        writeFile(dir.filePath(QStringLiteral("build.ninja")),
                  (QStringLiteral("rule strip\n  command = ") + command
                   + QStringLiteral("\n  depfile = s.d\n  deps = gcc\n  restat = 1\nbuild s.png s.json: strip\n")).toUtf8());
    auto build = [&] {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(tool, tool == QLatin1String("make") ? QStringList{QStringLiteral("-s")} : QStringList{});
        return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    QVERIFY(build());
    if (change == QLatin1String("repaint"))
        QVERIFY(sample(6, 4, 7, Alpha::Binary).save(art + QStringLiteral("/e f.png")));
    else if (change == QLatin1String("add"))
        QVERIFY(sample(6, 4, 8, Alpha::Binary).save(art + QStringLiteral("/h.png")));
    else if (change == QLatin1String("remove"))
        QVERIFY(QFile::remove(art + u'/' + names[0]));
    QVERIFY(build());
    QCOMPARE(readFile(dir.filePath(QStringLiteral("log"))).count("ran"), runsAgain ? 2 : 1);
}

void TestCli::unchangedOutputsKeepTheirTime_data()
{
    QTest::addColumn<QString>("change");       // what happens to the inputs between two runs
    QTest::addColumn<QStringList>("rewritten"); // the outputs that then get a new time
    QTest::newRow("nothing") << QString() << QStringList();
    QTest::newRow("a frame's pixels, not its size") << QStringLiteral("repaint") << words("s.png");
    QTest::newRow("a frame more") << QStringLiteral("add") << words("s.png s.json s.atlas");
}

// A run whose outputs would be the same bytes leaves them, and their times, as they are; the
// others are replaced as always.
void TestCli::unchangedOutputsKeepTheirTime()
{
    QFETCH(QString, change);
    QFETCH(QStringList, rewritten);
    QTemporaryDir dir;
    const QList<QImage> pictures = writeFolderInputs(dir.path());
    const QStringList run = words("anim/walk anim/run --json --format libgdx -o s.png");
    QVERIFY(runStrip(run, dir.path()).status == 0);
    const QDateTime old = QDateTime::fromSecsSinceEpoch(946684800); // 2000-01-01
    const QStringList outputs = words("s.png s.json s.atlas");
    for (const QString &name : outputs) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    if (change == QLatin1String("repaint")) {
        QImage image = pictures[1];
        image.invertPixels();
        QVERIFY(image.save(dir.filePath(QStringLiteral("anim/walk/2.png"))));
    } else if (change == QLatin1String("add")) {
        QVERIFY(pictures[0].save(dir.filePath(QStringLiteral("anim/walk/3.png"))));
    }
    const Run second = runStrip(run, dir.path());
    QVERIFY2(second.status == 0, qPrintable(second.err));
    for (const QString &name : outputs)
        QVERIFY2((QFileInfo(dir.filePath(name)).lastModified() != old) == rewritten.contains(name), qPrintable(name));
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral(".corvane-*")}, QDir::Files | QDir::Hidden).isEmpty());
}

void TestCli::premultipliedSheets_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("sheet");
    QTest::newRow("grid, PNG, every data end that says so") << words("-c 3 --json --format libgdx,cocos2d") << QStringLiteral("s.png");
    QTest::newRow("grid, WebP, extruded") << words("-c 2 --extrude 1 --padding 1 --json") << QStringLiteral("s.webp");
    QTest::newRow("packed, turned, extruded") << words("--layout dense --rotate --extrude 1 --json") << QStringLiteral("s.png");
}

// Each pixel of a premultiplied sheet is the same sheet's straight pixel, its colour times its
// alpha rounded to nearest; the data says so.
void TestCli::premultipliedSheets()
{
    QFETCH(QStringList, options);
    QFETCH(QString, sheet);
    QTemporaryDir dir;
    writeFolderInputs(dir.path());
    const QString straight = QStringLiteral("straight.") + QFileInfo(sheet).suffix();
    Run run = runStrip(words("anim/walk anim/run spin.gif --all-frames --alpha clean") + options + QStringList{QStringLiteral("-o"), straight},
                       dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    run = runStrip(words("anim/walk anim/run spin.gif --all-frames --alpha premultiply") + options + QStringList{QStringLiteral("-o"), sheet},
                   dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QImage a = pillowFrames(dir.filePath(straight)).value(0), b = pillowFrames(dir.filePath(sheet)).value(0);
    QVERIFY(!a.isNull() && a.size() == b.size());
    int translucent = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar *s = a.constScanLine(y), *p = b.constScanLine(y);
        for (int x = 0; x < a.width() * 4; x += 4) {
            translucent += s[x + 3] > 0 && s[x + 3] < 255;
            for (int c = 0; c < 4; ++c) {
                const int want = c == 3 ? s[x + 3] : (s[x + c] * s[x + 3] + 127) / 255;
                QVERIFY2(p[x + c] == want, qPrintable(QStringLiteral("pixel %1, %2 channel %3: %4, not %5").arg(x / 4).arg(y).arg(c).arg(p[x + c]).arg(want)));
            }
        }
    }
    QVERIFY(translucent > 0);
    const QString stem = dir.filePath(QFileInfo(sheet).completeBaseName());
    QVERIFY(readFile(stem + QStringLiteral(".json")).contains("\"premultipliedAlpha\":true"));
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (options.join(u' ').contains(QStringLiteral("libgdx"))) {
        // spine-core's own reader, where it is installed.
        QVERIFY(readFile(stem + QStringLiteral(".atlas")).contains("\npma: true\n"));
        if (!QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty()
            && QFileInfo::exists(engines + QStringLiteral("/node_modules/@esotericsoftware/spine-core"))) {
            QProcess node;
            node.start(QStringLiteral("node"), {engines + QStringLiteral("/read-atlas.cjs"), stem + QStringLiteral(".atlas")});
            QVERIFY(node.waitForFinished(60000) && node.exitCode() == 0);
            QVERIFY(QJsonDocument::fromJson(node.readAllStandardOutput())[QStringLiteral("pages")][0][QStringLiteral("pma")].toBool());
        }
    }
    if (options.join(u' ').contains(QStringLiteral("cocos2d")))
        QVERIFY(readFile(stem + QStringLiteral(".plist")).contains("<key>premultiplyAlpha</key>\n\t\t\t<true/>"));
}

void TestCli::splitRoundTrip_data()
{
    QTest::addColumn<QStringList>("make");  // options that make the sheet from anim/walk and anim/run
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QStringList>("cut");   // how it is split into out/
    QTest::addColumn<QStringList>("files"); // what out/ then holds
    const QStringList byPath = words("run run/1.png run/2.png walk walk/1.png walk/2.png");
    const QStringList byNumber = words("0.png 1.png 2.png 3.png");
    const QStringList data = words("--data sheet.json");
    QTest::newRow("path names, padding and margin") << words("-c 3 --padding 1 --margin 2 --json")
        << QStringLiteral("sheet.png") << data << byPath;
    QTest::newRow("index names in a list, columns first") << words("--format json-array --names index --fill columns -c 2")
        << QStringLiteral("sheet.png") << data << byNumber;
    QTest::newRow("bitmap by its JSON") << words("--json") << QStringLiteral("sheet.bmp") << data << byPath;
    QTest::newRow("by cell size") << words("-c 2") << QStringLiteral("sheet.png") << words("--cell 8x6") << byNumber;
    // Bleeding fills every transparent pixel of a cell, around the picture too: its frames,
    // bled again, give the same sheet.
    QTest::newRow("bled in cells larger than the pictures") << words("-c 3 --cell 11x9 --anchor center --alpha bleed --json")
        << QStringLiteral("sheet.png") << data << byPath;
    // A trimmed sheet's frames come back whole: as the same sheet untrimmed gives them.
    QTest::newRow("trimmed cells") << words("-c 3 --cell 12x10 --anchor center --trim --json")
        << QStringLiteral("sheet.png") << data << byPath;
    // A packed sheet's frames, some turned, come back whole and upright: their pictures.
    QTest::newRow("packed and turned") << words("--layout dense --rotate --json") << QStringLiteral("sheet.png") << data << byPath;
}

void TestCli::splitRoundTrip()
{
    QFETCH(QStringList, make);
    QFETCH(QString, sheet);
    QFETCH(QStringList, cut);
    QFETCH(QStringList, files);
    QTemporaryDir dir;
    const QList<QImage> pictures = writeFolderInputs(dir.path());
    Run run = runStrip(words("anim/walk anim/run") + make << QStringLiteral("-o") << sheet, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    run = runStrip(QStringList{QStringLiteral("--split"), sheet} + words("-o out") + cut, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QStringList got;
    QDirIterator it(dir.filePath(QStringLiteral("out")), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        got.append(QDir(dir.filePath(QStringLiteral("out"))).relativeFilePath(it.next()));
    got.sort();
    QCOMPARE(got, files);

    if (make.contains(QStringLiteral("--layout"))) {
        QVERIFY(readFile(dir.filePath(QStringLiteral("sheet.json"))).contains("\"rotated\":true"));
        for (int i = 0; i < 4; ++i) {
            const QString file = words("walk/1.png walk/2.png run/1.png run/2.png")[i];
            const QString difference = compareRgba(pillowFrames(dir.filePath(QStringLiteral("out/") + file)).value(0), pictures[i]);
            QVERIFY2(difference.isEmpty(), qPrintable(file + QStringLiteral(": ") + difference));
        }
        return;
    }
    if (make.contains(QStringLiteral("--trim"))) {
        make.removeAll(QStringLiteral("--trim"));
        QVERIFY(runStrip(words("anim/walk anim/run") + make + words("-o whole.png"), dir.path()).status == 0);
        QVERIFY(runStrip(words("--split whole.png --data whole.json -o whole"), dir.path()).status == 0);
        for (const QString &file : files.filter(QStringLiteral(".png"))) {
            const QString difference = compareRgba(pillowFrames(dir.filePath(QStringLiteral("out/") + file)).value(0),
                                                   pillowFrames(dir.filePath(QStringLiteral("whole/") + file)).value(0));
            QVERIFY2(difference.isEmpty(), qPrintable(file + QStringLiteral(": ") + difference));
        }
        return;
    }

    // Each file is its rectangle of the sheet, as Pillow reads both.
    const QImage whole = pillowFrames(dir.filePath(sheet)).value(0);
    QHash<QString, QRect> rects;
    if (cut.contains(QStringLiteral("--cell"))) {
        for (int i = 0; i < 4; ++i)
            rects.insert(QStringLiteral("%1.png").arg(i), QRect(i % 2 * 8, i / 2 * 6, 8, 6));
    } else {
        // A frame's file is its name, with ".png" added when it does not end so.
        auto add = [&rects](QString name, const QJsonObject &f) {
            const QJsonObject r = f[QStringLiteral("frame")].toObject();
            if (!name.endsWith(QLatin1String(".png")))
                name += QStringLiteral(".png");
            rects.insert(name, QRect(r[QStringLiteral("x")].toInt(), r[QStringLiteral("y")].toInt(), r[QStringLiteral("w")].toInt(), r[QStringLiteral("h")].toInt()));
        };
        const QJsonValue frames = QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("sheet.json"))))[QStringLiteral("frames")];
        for (const QJsonValue &f : frames.toArray())
            add(f[QStringLiteral("filename")].toString(), f.toObject());
        const QJsonObject byName = frames.toObject();
        for (auto k = byName.begin(); k != byName.end(); ++k)
            add(k.key(), k.value().toObject());
    }
    QCOMPARE(rects.size(), files.filter(QStringLiteral(".png")).size());
    for (auto r = rects.begin(); r != rects.end(); ++r) {
        const QString difference = compareRgba(pillowFrames(dir.filePath(QStringLiteral("out/") + r.key())).value(0), whole.copy(r.value()));
        QVERIFY2(difference.isEmpty(), qPrintable(r.key() + QStringLiteral(": ") + difference));
    }

    // Made again from the frames split off, the sheet and its names are what they were.
    if (files == words("run run/1.png run/2.png walk walk/1.png walk/2.png") && sheet.endsWith(QLatin1String(".png"))) {
        run = runStrip(words("out/walk out/run") + make << QStringLiteral("-o") << QStringLiteral("again.png"), dir.path());
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(readFile(dir.filePath(QStringLiteral("again.png"))) == readFile(dir.filePath(sheet)));
        const QJsonObject first = QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("sheet.json")))).object();
        const QJsonObject again = QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("again.json")))).object();
        QCOMPARE(again[QStringLiteral("frames")], first[QStringLiteral("frames")]);
        QCOMPARE(again[QStringLiteral("animations")], first[QStringLiteral("animations")]);
    }
}

// A JSON file is input like any other: what it names is checked before anything is written.
void TestCli::splitRefused_data()
{
    QTest::addColumn<QByteArray>("json"); // frames of the 8 x 6 sheet, or the whole file when it has no "{"
    QTest::addColumn<QString>("message");
    auto frame = [](const char *name, int x, int y, int w, int h) {
        return QStringLiteral("\"%1\": {\"frame\": {\"x\": %2, \"y\": %3, \"w\": %4, \"h\": %5}}").arg(QLatin1String(name)).arg(x).arg(y).arg(w).arg(h).toUtf8();
    };
    const QByteArray good = frame("a", 0, 0, 4, 6);
    QTest::newRow("absolute name") << good + ", " + frame("/tmp/x", 4, 0, 4, 6) << QStringLiteral("'/tmp/x' is empty, absolute, or holds '..'");
    QTest::newRow("name going up") << good + ", " + frame("../x", 4, 0, 4, 6) << QStringLiteral("'../x' is empty, absolute, or holds '..'");
    QTest::newRow("name going up inside") << good + ", " + frame("b/../../x", 4, 0, 4, 6) << QStringLiteral("holds '..'");
    QTest::newRow("empty name") << good + ", " + frame("", 4, 0, 4, 6) << QStringLiteral("'' is empty");
    QTest::newRow("past the right edge") << good + ", " + frame("b", 6, 0, 4, 6) << QStringLiteral("frame 'b' (4 x 6 at 6, 0) lies outside the sheet of 8 x 6 pixels");
    QTest::newRow("negative corner") << good + ", " + frame("b", -1, 0, 4, 6) << QStringLiteral("lies outside the sheet");
    QTest::newRow("empty rectangle") << good + ", " + frame("b", 0, 0, 0, 6) << QStringLiteral("lies outside the sheet");
    QTest::newRow("same file twice") << good + ", " + frame("a.png", 4, 0, 4, 6) << QStringLiteral("the same file, or one inside the other: 'a.png'");
    QTest::newRow("a file inside another") << good + ", " + frame("a.png/b", 4, 0, 4, 6) << QStringLiteral("one inside the other: 'a.png/b'");
    QTest::newRow("not whole numbers") << good + ", " + frame("b", 4, 0, 4, 6).replace("\"x\": 4", "\"x\": 4.5") << QStringLiteral("frame 'b' has no whole-number rectangle");
    QTest::newRow("not JSON") << QByteArray("frames: a") << QStringLiteral("Cannot read s.json: it is not JSON");
    QTest::newRow("no frames") << QByteArray("{\"meta\": {}}") << QStringLiteral("no \"frames\" object or list");
    QTest::newRow("a file where a folder goes") << good + ", " + frame("in/b", 4, 0, 4, 6) << QStringLiteral("Cannot write out/in/b.png: out/in is a file, not a folder.");
}

void TestCli::splitRefused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(sample(8, 6, 1).save(dir.filePath(QStringLiteral("s.png"))));
    writeFile(dir.filePath(QStringLiteral("s.json")), json.startsWith('"') ? "{\"frames\": {" + json + "}}" : json);
    QDir(dir.path()).mkpath(QStringLiteral("out"));
    writeFile(dir.filePath(QStringLiteral("out/in")), "a file");
    const QStringList before = testsupport::entries(dir.path());
    const Run run = runStrip({QStringLiteral("--split"), QStringLiteral("s.png"), QStringLiteral("--data"), QStringLiteral("s.json"),
                              QStringLiteral("-o"), QStringLiteral("out")}, dir.path());
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(testsupport::entries(dir.path()), before);
    QCOMPARE(testsupport::entries(dir.filePath(QStringLiteral("out"))), QStringList{QStringLiteral("in")});
}

// A file name in Latin-1 given on the command line: its bytes reach the file; messages show the
// byte they cannot spell as U+FFFD. The shell passes the bytes, which QProcess's text cannot.
void TestCli::namesThatAreNotUtf8_data()
{
    QTest::addColumn<bool>("picture");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");
    QTest::newRow("a picture") << true << 0 << QString();
    QTest::newRow("a damaged one") << false << 1
        << QStringLiteral("corvane-strip: Cannot load caf\uFFFD.png: the file is not a BMP, GIF, ICO, JPEG, PNG, WebP or Aseprite picture.\n");
}
void TestCli::namesThatAreNotUtf8()
{
    QFETCH(bool, picture);
    QFETCH(int, status);
    QFETCH(QString, err);
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/caf\xe9.png";
    const QByteArray bytes = picture ? [] {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        sample(4, 3, 1).save(&buffer, "PNG");
        return png;
    }() : QByteArray("not a picture");
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
    auto removeLater = qScopeGuard([&] { ::unlink(name.constData()); }); // QTemporaryDir cannot spell it

    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$(printf 'caf\\351.png')\" -o s.png"),
                                       QStringLiteral(CORVANE_STRIP)});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), status);
    QCOMPARE(QString::fromUtf8(p.readAllStandardError()), err);
    QCOMPARE(QFileInfo::exists(dir.filePath(QStringLiteral("s.png"))), picture);
}

void TestCli::largeSheetColourType_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("colourType"); // as IHDR declares it
    // Two 4096 x 2100 JPEGs side by side: 66 MiB of RGBA, written band by band.
    QTest::newRow("JPEGs cover every cell") << QStringList{} << 2;
    QTest::newRow("padding left clear") << QStringList{QStringLiteral("--padding"), QStringLiteral("1")} << 6;
    QTest::newRow("padding on an opaque background")
        << QStringList{QStringLiteral("--padding"), QStringLiteral("1"), QStringLiteral("--background"), QStringLiteral("#102030")} << 2;
}

void TestCli::largeSheetColourType()
{
    QFETCH(QStringList, options);
    QFETCH(int, colourType);
    QTemporaryDir dir;
    QImage photo(4096, 2100, QImage::Format_RGB32);
    photo.fill(QColor(200, 120, 40));
    QVERIFY(photo.save(dir.filePath(QStringLiteral("a.jpg")), "jpeg"));
    const Run run = runStrip(QStringList{QStringLiteral("a.jpg"), QStringLiteral("a.jpg"), QStringLiteral("-c"), QStringLiteral("2"),
                                         QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("s.png")} + options, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QImage> sheet = pillowFrames(dir.filePath(QStringLiteral("s.png")));
    QCOMPARE(sheet.value(0).size(), QSize(8192 + options.contains(QStringLiteral("--padding")), 2100));
    // Pillow's reading, beside the header's word: the pixel between the cells.
    QCOMPARE(qAlpha(sheet[0].pixel(4096, 0)), colourType == 6 ? 0 : 255);
    QCOMPARE(int(readFile(dir.filePath(QStringLiteral("s.png"))).at(25)), colourType);
}

// Every file a run writes is the same when the allocator fills fresh memory with other bytes:
// nothing written comes from memory no one set.
void TestCli::sameBytesWhateverTheMemory_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("outputs");
    QTest::newRow("bitmap and text file") << words("--cell max --anchor bottom --txt -o s.bmp") << words("s.bmp s.TXT");
    QTest::newRow("PNG and JSON, frames placed, extruded, enlarged, bled")
        << words("--json --cell max --anchor center --extrude 1 --scale 2 --alpha bleed --padding 1 -o s.png")
        << words("s.png s.json");
    QTest::newRow("pages of trimmed, shared cells, a row an animation, every engine's data")
        << words("--trim --dedupe --fill animations --anchor bottom --max-size 16 -c 2 --json --format tiled,libgdx,godot,css,sparrow,cocos2d -o s.png")
        << words("s-0.png s-1.png s.json s-1.json s-0.tsx s-1.tsx s.atlas s.tres s.css s-0.xml s-1.xml s-0.plist s-1.plist");
    QTest::newRow("packed, turned, deduped, premultiplied, every turning end's data")
        << words("--layout dense --rotate --dedupe --extrude 1 --padding 1 --alpha premultiply --json --format sparrow,cocos2d -o s.png")
        << words("s.png s.json s.xml s.plist");
    QTest::newRow("packed, turned for libGDX, bled, with a dependency file")
        << words("--layout dense --rotate --alpha bleed --format libgdx --depfile s.d -o s.png")
        << words("s.png s.atlas s.d");
    QTest::newRow("WebP") << words("-o s.webp") << words("s.webp");
    QTest::newRow("an Aseprite file by layers, its tags and slices, reduced and whole variants")
        << words("hero.aseprite --layers each --layout dense --trim --variant @2x=1 --variant =0.5 --json --format godot -o s.png")
        << words("s@2x.png s@2x.json s@2x.tres s.png s.json s.tres");
    QTest::newRow("PNG, the strongest deflate") << words("--compress max -o s.png") << words("s.png");
}
void TestCli::sameBytesWhateverTheMemory()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, outputs);
    QTemporaryDir dir;
    writeFolderInputs(dir.path());
    if (options.contains(QStringLiteral("hero.aseprite"))) {
        // A file of two layers, linked cels, tags and slices, as tests/support/asesuite.py writes it.
        QProcess suite;
        suite.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_SUPPORT_DIR "/asesuite.py"), dir.filePath(QStringLiteral("suite"))});
        if (!suite.waitForFinished(120000) || suite.exitCode() != 0)
            QSKIP("/usr/bin/python3 with numpy and Pillow cannot run the Aseprite test-file generator");
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("suite/frames.aseprite")), dir.filePath(QStringLiteral("hero.aseprite"))));
    }
    QList<QByteArray> runs;
    for (const int fill : {0x5a, 0xa5}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MALLOC_PERTURB_"), QString::number(fill));
        // Blocks glibc hands out again from its per-thread cache skip the fill; the sanitizer
        // build's allocator has a fill of its own.
        env.insert(QStringLiteral("GLIBC_TUNABLES"), QStringLiteral("glibc.malloc.tcache_count=0"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS"))
                                                      + QStringLiteral(":malloc_fill_byte=%1:max_malloc_fill_size=2147483647").arg(fill));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(CORVANE_STRIP), words("anim/walk anim/run spin.gif --all-frames -q") + options);
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QByteArray written;
        for (const QString &name : outputs) {
            QVERIFY2(QFileInfo::exists(dir.filePath(name)), qPrintable(name));
            written += readFile(dir.filePath(name)) + "\n--\n";
        }
        runs << written;
    }
    QVERIFY(!runs[0].isEmpty());
    QVERIFY(runs[0] == runs[1]);
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"

// Under a limit on its address space, a run that cannot have its memory says so and writes
// nothing: it never ends by a signal, nor writes a sheet of the pixels it could not hold.
void TestCli::underAMemoryLimit_data()
{
    QTest::addColumn<QString>("picture"); // sparse: a few pixels on a transparent 6000 x 6000; photo: 1000 x 1000;
                                          // icons: 4000 files of 16 x 16
    QTest::addColumn<QStringList>("options");
    QTest::newRow("bleeding a sparse picture") << QStringLiteral("sparse") << words("--alpha bleed -o s.png");
    QTest::newRow("enlarged ten times") << QStringLiteral("photo") << words("--scale 10 -o s.png");
    QTest::newRow("enlarged ten times into a bitmap") << QStringLiteral("photo") << words("--scale 10 -o s.bmp");
    // Within the limit: each small file costs what it holds, not the room of a large read.
    QTest::newRow("four thousand small pictures") << QStringLiteral("icons") << words("-c 64 -o s.png");
}

void TestCli::underAMemoryLimit()
{
    QFETCH(QString, picture);
    QFETCH(QStringList, options);
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    if (prlimit.isEmpty())
        QSKIP("prlimit (util-linux) is not installed");
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves far more address space than the limit allows");
#endif
    QTemporaryDir dir;
    const bool icons = picture == QLatin1String("icons");
    QImage image = picture == QLatin1String("sparse") ? QImage(6000, 6000, QImage::Format_ARGB32)
                 : sample(icons ? 16 : 1000, icons ? 16 : 1000, 3);
    if (picture == QLatin1String("sparse")) {
        image.fill(Qt::transparent);
        for (int k = 0; k < 6000; k += 997)
            image.setPixel(k, 5999 - k, qRgba(200, 40, 90, 255));
    }
    const QString in = icons ? QStringLiteral("in") : QStringLiteral("in.png");
    if (icons) {
        QVERIFY(QDir(dir.path()).mkpath(in));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png"));
        for (int k = 0; k < 4000; ++k)
            writeFile(dir.filePath(QStringLiteral("in/%1.png").arg(k, 4, 10, QLatin1Char('0'))), bytes);
    } else {
        QVERIFY(image.save(dir.filePath(in)));
    }
    image = QImage();
    writeFile(dir.filePath(QStringLiteral("s.png")), "old sheet");
    writeFile(dir.filePath(QStringLiteral("s.bmp")), "old sheet");
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(prlimit, QStringList{QStringLiteral("--as=300000000"), QStringLiteral("--"), QStringLiteral(CORVANE_STRIP), in}
                         + options);
    QVERIFY(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    if (icons) {
        QVERIFY2(p.exitCode() == 0, qPrintable(err));
        QCOMPARE(pillowFrames(dir.filePath(QStringLiteral("s.png"))).value(0).size(), QSize(64 * 16, 4000 / 64 * 16 + 16));
        return;
    }
    QVERIFY2(p.exitCode() == 1 && err.contains(QLatin1String("memory")), qPrintable(err));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("s.png"))), QByteArray("old sheet"));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("s.bmp"))), QByteArray("old sheet"));
}
