// corvane-strip run as a user runs it, on real files in a sandbox; its sheets read back with
// Pillow, its JSON with Qt's JSON reader, its bitmaps compared with the window's own path.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <vector>

#include "app/mainwindow.h"
#include "picture/bitmapfile.h"
#include "picture/surface.h"
#include "strip/frames.h"
#include "tests/support/testsupport.h"

using testsupport::pillowFrames;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run runStrip(const QStringList &args, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(CORVANE_STRIP), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// A picture whose pixels all differ; its alpha: 255, only 0 and 255, or every value.
enum class Alpha { Opaque, Binary, Partial };
QImage sample(int w, int h, int seed, Alpha alpha = Alpha::Opaque)
{
    QImage image = testsupport::pattern(w, h, seed).convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uchar *p = image.scanLine(y) + x * 4;
            p[3] = alpha == Alpha::Opaque ? 255 : alpha == Alpha::Binary ? ((x + y) % 3 ? 255 : 0) : uchar(x * 16 + y * 5 + 1);
        }
    return image;
}

// The expected sheet: transparent, the pictures put at hand-written places, each cut to the
// size given. Fully transparent pixels leave what is beneath; none of the cases overlaps
// half-transparent pixels with others.
QImage expectedSheet(QSize size, const QList<QImage> &pictures, const QList<QRect> &places)
{
    QImage out(size, QImage::Format_RGBA8888);
    out.fill(Qt::transparent);
    for (int i = 0; i < pictures.size(); ++i)
        for (int y = 0; y < places[i].height(); ++y)
            for (int x = 0; x < places[i].width(); ++x)
                if (const uchar *s = pictures[i].constScanLine(y) + x * 4; s[3] != 0)
                    memcpy(out.scanLine(places[i].y() + y) + (places[i].x() + x) * 4, s, 4);
    return out;
}

QString compareRgba(const QImage &got, const QImage &want)
{
    if (got.size() != want.size())
        return QStringLiteral("size %1x%2, want %3x%4").arg(got.width()).arg(got.height()).arg(want.width()).arg(want.height());
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            const uchar *a = got.constScanLine(y) + x * 4;
            const uchar *b = want.constScanLine(y) + x * 4;
            if (memcmp(a, b, 4) != 0 && !(a[3] == 0 && b[3] == 0))
                return QStringLiteral("(%1,%2): %3,%4,%5,%6 want %7,%8,%9,%10").arg(x).arg(y)
                    .arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]).arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
        }
    return {};
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
    void jsonFindsEveryFrame_data();
    void jsonFindsEveryFrame();
    void animatedGif_data();
    void animatedGif();
    void folderOrder_data();
    void folderOrder();
    void badUsage_data();
    void badUsage();
    void unreadableInput_data();
    void unreadableInput();
    void sheetSize_data();
    void sheetSize();
    void largeSheetColourType_data();
    void largeSheetColourType();
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

    // The window's path: its loader, its composition on its background colour, its writer.
    std::vector<std::unique_ptr<picture::PictureHolder>> owned;
    std::vector<picture::PictureHolder *> holders;
    for (int i = 0; i < strip::kFrameHolders; ++i)
        holders.push_back(owned.emplace_back(std::make_unique<picture::PictureHolder>(i)).get());
    QVERIFY(strip::loadPictures(paths, holders).ok());
    picture::Surface window(0, 0, MainWindow::menuBarColor()), clearimage(0, 0, MainWindow::menuBarColor());
    qint16 cellWidth = 0, cellHeight = 0;
    QVERIFY(strip::compose(holders, int(paths.size()), std::min<int>(columns, int(paths.size())), window, clearimage,
                           cellWidth, cellHeight).ok);
    QVERIFY(picture::writeBitmap(window, dir.filePath(QStringLiteral("window.bmp"))).ok);

    const Run run = runStrip(QStringList(paths) << QStringLiteral("-c") << QString::number(columns) << QStringLiteral("--txt")
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
    const QList<QImage> five = {sample(20, 10, 1, Alpha::Partial), sample(20, 10, 2, Alpha::Partial), sample(20, 10, 3),
                                sample(20, 10, 4, Alpha::Binary), sample(20, 10, 5)};
    QTest::newRow("padding and margin")
        << five << QStringList{QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("--padding"), QStringLiteral("3"), QStringLiteral("--margin"), QStringLiteral("5")}
        << QSize(53, 46)
        << QList<QRect>{{5, 5, 20, 10}, {28, 5, 20, 10}, {5, 18, 20, 10}, {28, 18, 20, 10}, {5, 31, 20, 10}};
    QTest::newRow("columns filled first, best compression")
        << five << QStringList{QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("--fill"), QStringLiteral("columns"), QStringLiteral("--compress"), QStringLiteral("best")}
        << QSize(40, 30) << QList<QRect>{{0, 0, 20, 10}, {0, 10, 20, 10}, {0, 20, 20, 10}, {20, 0, 20, 10}, {20, 10, 20, 10}};
    const QList<QImage> oversized = {sample(20, 10, 1), sample(30, 16, 2), sample(20, 10, 3, Alpha::Partial)};
    QTest::newRow("a larger picture runs into the empty cell below")
        << oversized << QStringList{QStringLiteral("-c"), QStringLiteral("2")} << QSize(40, 20)
        << QList<QRect>{{0, 0, 20, 10}, {20, 0, 20, 16}, {0, 10, 20, 10}};
    QTest::newRow("clipped to its cell, fast compression")
        << oversized << QStringList{QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("--clip"), QStringLiteral("--compress"), QStringLiteral("fast")} << QSize(40, 20)
        << QList<QRect>{{0, 0, 20, 10}, {20, 0, 20, 10}, {0, 10, 20, 10}};
    QTest::newRow("cell size given")
        << oversized << QStringList{QStringLiteral("-c"), QStringLiteral("3"), QStringLiteral("--cell"), QStringLiteral("32x12")}
        << QSize(96, 12) << QList<QRect>{{0, 0, 20, 10}, {32, 0, 30, 12}, {64, 0, 20, 10}};
}

void TestCli::layouts()
{
    QFETCH(QList<QImage>, pictures);
    QFETCH(QStringList, options);
    QFETCH(QSize, sheet);
    QFETCH(QList<QRect>, places);
    QTemporaryDir dir;
    const Run run = runStrip(savePngs(dir.path(), pictures) + options << QStringLiteral("-o") << QStringLiteral("sheet.png"), dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QImage> got = pillowFrames(dir.filePath(QStringLiteral("sheet.png")));
    QCOMPARE(got.size(), 1);
    const QString difference = compareRgba(got[0], expectedSheet(sheet, pictures, places));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestCli::jsonFindsEveryFrame_data()
{
    QTest::addColumn<QList<QImage>>("pictures");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    const QList<QImage> mixed = {sample(24, 16, 1, Alpha::Partial), sample(12, 16, 2), sample(24, 8, 3, Alpha::Binary),
                                 sample(24, 16, 4)};
    QTest::newRow("png, padding") << mixed << QStringList{QStringLiteral("-c"), QStringLiteral("3"), QStringLiteral("--padding"), QStringLiteral("2")}
                                  << QStringLiteral("png") << 3 << 2;
    QTest::newRow("bmp, columns first, margin")
        << mixed << QStringList{QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("--fill"), QStringLiteral("columns"), QStringLiteral("--margin"), QStringLiteral("1")}
        << QStringLiteral("bmp") << 2 << 2;
}

void TestCli::jsonFindsEveryFrame()
{
    QFETCH(QList<QImage>, pictures);
    QFETCH(QStringList, options);
    QFETCH(QString, format);
    QFETCH(int, columns);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QStringList names = savePngs(dir.path(), pictures);
    const QString sheetName = QStringLiteral("sheet.") + format;
    const Run run = runStrip(names + options << QStringLiteral("--json") << QStringLiteral("-o") << sheetName, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));

    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("sheet.json"))), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    const QImage sheet = pillowFrames(dir.filePath(sheetName)).value(0);
    const QJsonObject meta = json[QStringLiteral("meta")].toObject();
    QCOMPARE(meta[QStringLiteral("image")].toString(), sheetName);
    QCOMPARE(meta[QStringLiteral("size")][QStringLiteral("w")].toInt(), sheet.width());
    QCOMPARE(meta[QStringLiteral("size")][QStringLiteral("h")].toInt(), sheet.height());
    QCOMPARE(meta[QStringLiteral("columns")].toInt(), columns);
    QCOMPARE(meta[QStringLiteral("rows")].toInt(), rows);
    QCOMPARE(meta[QStringLiteral("cell")][QStringLiteral("w")].toInt(), pictures[0].width());

    // Every frame where the sheet has it: cut out at its rectangle, it is the picture itself.
    const QJsonArray frames = json[QStringLiteral("frames")].toArray();
    QCOMPARE(frames.size(), pictures.size());
    for (int i = 0; i < frames.size(); ++i) {
        const QJsonObject f = frames[i].toObject();
        QCOMPARE(f[QStringLiteral("filename")].toString(), names[i]);
        QCOMPARE(f[QStringLiteral("rotated")].toBool(true), false);
        const QJsonObject r = f[QStringLiteral("frame")].toObject();
        const QRect rect(r[QStringLiteral("x")].toInt(), r[QStringLiteral("y")].toInt(), r[QStringLiteral("w")].toInt(),
                         r[QStringLiteral("h")].toInt());
        QCOMPARE(rect.size(), pictures[i].size());
        QCOMPARE(f[QStringLiteral("sourceSize")][QStringLiteral("w")].toInt(), rect.width());
        // A bitmap has no alpha: there only the picture's opaque pixels are compared.
        QImage source = pillowFrames(dir.filePath(names[i])).value(0);
        QImage cut = sheet.copy(rect);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                if (format == QLatin1String("bmp") && source.constScanLine(y)[x * 4 + 3] != 255)
                    memset(source.scanLine(y) + x * 4, 0, 4), memset(cut.scanLine(y) + x * 4, 0, 4);
        const QString difference = compareRgba(cut, source);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
    }
}

void TestCli::animatedGif_data()
{
    QTest::addColumn<QString>("gif"); // a corpus file, or a Python expression for Pillow to save
    QTest::addColumn<int>("frames");
    // Frames that move and change colour, one disposal method each time, transparent index 0.
    const QString made = QStringLiteral(
        "fr=[]\n"
        "for i in range(5):\n"
        "    im=Image.new('P',(40,30),0); im.putpalette([0,0,0,255,0,0,0,255,0,0,0,255]+[9]*756)\n"
        "    ImageDraw.Draw(im).rectangle((i*5,i*3,i*5+14,i*3+10),fill=1+i%3); fr.append(im)\n"
        "fr[0].save(OUT,save_all=True,append_images=fr[1:],transparency=0,disposal=DISPOSAL,optimize=False)\n");
    for (int disposal : {1, 2, 3})
        QTest::addRow("made, disposal %d", disposal) << QString(made).replace(QStringLiteral("DISPOSAL"), QString::number(disposal)) << 5;
    for (const char *name : {"chi", "dispose_bgnd", "different_transparency", "missing_background"})
        QTest::addRow("corpus %s", name) << QStringLiteral("corpus:gif/%1.gif").arg(QLatin1String(name)) << -1;
}

void TestCli::animatedGif()
{
    QFETCH(QString, gif);
    QFETCH(int, frames);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("anim.gif"));
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
                              QStringLiteral("sheet.png")}, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QImage sheet = pillowFrames(dir.filePath(QStringLiteral("sheet.png"))).value(0);
    const QSize cell = expected[0].size();
    QCOMPARE(sheet.size(), QSize(cell.width() * std::min<int>(4, int(expected.size())), cell.height() * int((expected.size() + 3) / 4)));
    for (int i = 0; i < expected.size(); ++i) {
        const QString difference = compareRgba(sheet.copy(QRect(QPoint(i % 4 * cell.width(), i / 4 * cell.height()), cell)), expected[i]);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
    }
}

void TestCli::folderOrder_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("natural") << QStringLiteral("natural")
                             << QStringList{QStringLiteral("Walk1.png"), QStringLiteral("walk2.png"), QStringLiteral("walk02.png"),
                                            QStringLiteral("walk10.png"), QStringLiteral("walk10b.bmp"), QStringLiteral("x.dat")};
    QTest::newRow("name") << QStringLiteral("name")
                          << QStringList{QStringLiteral("walk02.png"), QStringLiteral("Walk1.png"), QStringLiteral("walk10.png"),
                                         QStringLiteral("walk10b.bmp"), QStringLiteral("walk2.png"), QStringLiteral("x.dat")};
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
    const Run run = runStrip({QStringLiteral("in"), QStringLiteral("--order"), order, QStringLiteral("--json"), QStringLiteral("-o"),
                              QStringLiteral("in/sheet.png")}, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QStringList got;
    for (const QJsonValue &f : QJsonDocument::fromJson(readFile(dir.filePath(QStringLiteral("in/sheet.json"))))[QStringLiteral("frames")].toArray())
        got.append(f[QStringLiteral("filename")].toString());
    QCOMPARE(got, expected);
}

void TestCli::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString in = QStringLiteral("a.png");
    QTest::newRow("no output") << QStringList{in} << QStringLiteral("no output");
    QTest::newRow("no input") << QStringList{QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("no INPUT");
    QTest::newRow("other extension") << QStringList{in, QStringLiteral("-o"), QStringLiteral("s.jpg")} << QStringLiteral(".bmp or .png");
    QTest::newRow("columns not whole") << QStringList{in, QStringLiteral("-c"), QStringLiteral("2.5"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("--columns");
    QTest::newRow("columns 0") << QStringList{in, QStringLiteral("-c"), QStringLiteral("0"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("--columns");
    QTest::newRow("negative padding") << QStringList{in, QStringLiteral("--padding"), QStringLiteral("-1"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("--padding");
    QTest::newRow("cell without height") << QStringList{in, QStringLiteral("--cell"), QStringLiteral("32"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("WxH");
    QTest::newRow("unknown order") << QStringList{in, QStringLiteral("--order"), QStringLiteral("date"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("natural or name");
    QTest::newRow("unknown compression") << QStringList{in, QStringLiteral("--compress"), QStringLiteral("max"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("fast, default or best");
    QTest::newRow("unknown fill") << QStringList{in, QStringLiteral("--fill"), QStringLiteral("spiral"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("rows or columns");
    QTest::newRow("colour by name") << QStringList{in, QStringLiteral("--background"), QStringLiteral("red"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("#rrggbb");
    QTest::newRow("transparent bitmap") << QStringList{in, QStringLiteral("--background"), QStringLiteral("transparent"), QStringLiteral("-o"), QStringLiteral("s.bmp")} << QStringLiteral("transparency");
    QTest::newRow("unknown option") << QStringList{in, QStringLiteral("--frames"), QStringLiteral("-o"), QStringLiteral("s.png")} << QStringLiteral("frames");
}

void TestCli::badUsage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(sample(4, 4, 1).save(dir.filePath(QStringLiteral("a.png"))));
    const Run run = runStrip(args, dir.path());
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message) && run.err.contains(QLatin1String("--help")), qPrintable(run.err));
    QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("a.png")});
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
    QTest::newRow("gif frame cut") << gif << QStringLiteral("bad.gif") << QStringList{QStringLiteral("--all-frames")};
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
    for (const QString &out : {QStringLiteral("sheet.png"), QStringLiteral("sheet.bmp")}) {
        writeFile(dir.filePath(out), "old sheet");
        const QStringList before = testsupport::entries(dir.path());
        const Run run = runStrip(QStringList{QStringLiteral("good.png"), file, QStringLiteral("--json"), QStringLiteral("--txt"), QStringLiteral("-o"), out} + options, dir.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(file), qPrintable(run.err));
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
    QTest::newRow("over 4096 warns") << QStringList{QStringLiteral("--cell"), QStringLiteral("5000x10"), QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-o"), QStringLiteral("s.png")} << 0 << 0 << QStringLiteral("more than 4096 pixels");
    QTest::newRow("over 16384 warns once") << QStringList{QStringLiteral("--cell"), QStringLiteral("10x20000"), QStringLiteral("-o"), QStringLiteral("s.png")} << 0 << 0 << QStringLiteral("more than 16384 pixels");
    QTest::newRow("bitmap over 4 GB refused") << QStringList{QStringLiteral("--cell"), QStringLiteral("30000x30000"), QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-o"), QStringLiteral("s.bmp")} << 0 << 1 << QStringLiteral("32-bit size fields");
    // Each one a gigabyte decoded, all in the same row: more than one sheet may hold at once.
    QTest::newRow("memory budget refused") << QStringList{QStringLiteral("-o"), QStringLiteral("s.png")} << 10 << 1 << QStringLiteral("MiB it may use");
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
    const Run run = runStrip(inputs + QStringList{QStringLiteral("--dry-run")} + options, dir.path());
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message) && run.err.count(QLatin1String("warning")) <= 1, qPrintable(run.err));
    QVERIFY2(run.out.contains(QLatin1String("frames: ")) || status != 0, qPrintable(run.out));
    QCOMPARE(testsupport::entries(dir.path()), before);
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

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
