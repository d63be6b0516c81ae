// The data files for Tiled, libGDX, Godot, CSS, Starling and cocos2d, each read back by the
// engine's own reader or by an independent one (tmxrasterizer, spine-core, a reader of Godot's
// text grammar, Chromium, Phaser's AtlasXML, plistlib), every frame cut from the sheet by the
// reader's numbers and compared with its picture.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

#include "strip/sheetdata.h"
#include "tests/support/testsupport.h"

using testsupport::Alpha;
using testsupport::compareRgba;
using testsupport::sample;
using testsupport::words;

namespace {

// What the inputs were: every frame's picture and time, every animation's frames.
struct Expected {
    QHash<QString, QImage> pictures;        // frame name -> its picture
    QHash<QString, int> durations;          // frame name -> milliseconds
    QHash<QString, QStringList> animations; // animation name -> its frames' names
    QHash<QString, int> plays;
};

QByteArray run(const QString &program, const QStringList &args, const QString &dir = {});

// The sheet's pages and data files as corvane-strip writes them, in a temporary folder.
struct Made {
    QString dir;
    QHash<QString, QImage> pages; // image name -> its pixels
    Expected expected;
    QSize tile;                   // a trimmed sheet's cells, else the pictures' size
    QStringList formats;          // the data ends written
};

// The pictures of the current row of cases(), written into dir, and corvane-strip run on them
// with the row's options and every format. An input is a still picture by its name; a folder
// "walk/|3|0,1,0" of that many pictures (the same picture where the list says so, for
// --dedupe); or a GIF "spin.gif|100,150,30|2": each frame's milliseconds and how many times it
// plays (0: for ever), written by Pillow. With --trim or a packed layout, each picture has a
// transparent border. The row's own --format, when it gives one, replaces every format.
Made made(const QTemporaryDir &dir)
{
    QFETCH(QStringList, inputs);
    QFETCH(QSize, cell);
    QFETCH(QStringList, options);
    Made m;
    m.dir = dir.path();
    const bool trim = options.contains(QStringLiteral("--trim")) || options.contains(QStringLiteral("--layout"));
    int seed = 0;
    auto picture = [&](int n) {
        QImage image = sample(cell.width(), cell.height(), n + 1, Alpha::Binary);
        if (trim) {
            const QRect inner = QRect(QPoint(0, 0), cell).adjusted(1 + n % 2, 1 + n % 3, -1 - n % 3, -2);
            for (int y = 0; y < cell.height(); ++y)
                for (int x = 0; x < cell.width(); ++x)
                    if (!inner.contains(x, y))
                        image.setPixel(x, y, 0);
        }
        return image;
    };
    QStringList args;
    QStringList stills;
    for (const QString &input : inputs) {
        const QStringList parts = input.split(QLatin1Char('|'));
        if (parts[0].endsWith(u'/')) {
            const QString folder = parts[0].chopped(1);
            QDir(dir.path()).mkdir(folder);
            const QStringList shows = parts.value(2).split(QLatin1Char(','), Qt::SkipEmptyParts);
            const int first = seed;
            for (int k = 0; k < parts[1].toInt(); ++k) {
                const QString name = QStringLiteral("%1/%2.png").arg(folder).arg(k);
                const QImage image = picture(shows.isEmpty() ? seed++ : first + shows[k].toInt());
                if (!image.save(dir.filePath(name)))
                    QTest::qFail("cannot write a picture", __FILE__, __LINE__);
                m.expected.pictures.insert(name, image);
                m.expected.durations.insert(name, 100);
                m.expected.animations[folder].append(name);
            }
            seed = first + parts[1].toInt();
            m.expected.plays.insert(folder, 0);
            args.append(folder);
        } else if (parts[0].endsWith(QLatin1String(".gif"))) {
            const QStringList ms = parts[1].split(QLatin1Char(','));
            run(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_SUPPORT_DIR "/writegif.py"), dir.filePath(parts[0]),
                                                     QString::number(cell.width()), QString::number(cell.height()), parts[2], parts[1]});
            const QString animation = QFileInfo(parts[0]).completeBaseName();
            for (int k = 0; k < ms.size(); ++k) {
                const QString name = QStringLiteral("%1#%2").arg(parts[0]).arg(k);
                m.expected.pictures.insert(name, QImage(dir.filePath(QStringLiteral("%1.%2.png").arg(parts[0]).arg(k))));
                m.expected.durations.insert(name, ms[k].toInt());
                m.expected.animations[animation].append(name);
            }
            m.expected.plays.insert(animation, parts[2].toInt());
            args.append(parts[0]);
        } else {
            const QImage image = picture(seed++);
            if (!image.save(dir.filePath(parts[0])))
                QTest::qFail("cannot write a picture", __FILE__, __LINE__);
            m.expected.pictures.insert(parts[0], image);
            m.expected.durations.insert(parts[0], 100);
            m.expected.animations[QStringLiteral("sheet")].append(parts[0]);
            m.expected.plays.insert(QStringLiteral("sheet"), 0);
            args.append(parts[0]);
        }
    }
    // Tiled's tilesets cut a grid only.
    const QString every = options.contains(QStringLiteral("--layout")) ? QStringLiteral("libgdx,godot,css,sparrow,cocos2d")
                                                                       : QStringLiteral("tiled,libgdx,godot,css,sparrow,cocos2d");
    const qsizetype given = options.indexOf(QStringLiteral("--format"));
    m.formats = (given >= 0 ? options.value(given + 1) : every).split(u',');
    const QStringList formats = given >= 0 ? QStringList() : QStringList{QStringLiteral("--json"), QStringLiteral("--format"), every};
    const testsupport::Run made = testsupport::runStrip(args + options + formats + QStringList{QStringLiteral("--all-frames"),
        QStringLiteral("-o"), QStringLiteral("sheet.png")}, dir.path());
    if (made.status != 0)
        QTest::qFail(qPrintable(made.err), __FILE__, __LINE__);
    for (const QString &page : QDir(dir.path()).entryList({QStringLiteral("sheet*.png")}))
        m.pages.insert(page, QImage(dir.filePath(page)));
    // The cell's size on the sheet, as corvane-strip's own data gives it.
    const QJsonObject meta = QJsonDocument::fromJson(testsupport::readFile(dir.filePath(QStringLiteral("sheet.json"))))
                                 .object()[u"meta"].toObject();
    m.tile = QSize(meta[u"cell"][u"w"].toInt(), meta[u"cell"][u"h"].toInt());
    return m;
}

QByteArray run(const QString &program, const QStringList &args, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        QTest::qFail(qPrintable(program + QStringLiteral(": ") + QString::fromUtf8(p.readAllStandardError())), __FILE__, __LINE__);
        return {};
    }
    return p.readAllStandardOutput();
}

// A reader's corners (top-left, top-right, bottom-right, bottom-left) as [[x, y], ...].
QList<QPointF> corners(const QJsonValue &list)
{
    QList<QPointF> out;
    for (const QJsonValue &c : list.toArray())
        out.append(QPointF(c[0].toDouble(), c[1].toDouble()));
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    testsupport::writeFile(path, bytes);
}


} // namespace

class TestFormats : public QObject {
    Q_OBJECT
private slots:
    void tiledShowsEveryFrame_data() { cases(); }
    void tiledShowsEveryFrame();
    void libgdxFindsEveryFrame_data() { cases(); }
    void libgdxFindsEveryFrame();
    void godotPlaysEveryFrame_data() { cases(); }
    void godotPlaysEveryFrame();
    void cssShowsEveryFrame_data() { cases(); }
    void cssShowsEveryFrame();
    void sparrowFindsEveryFrame_data() { cases(); }
    void sparrowFindsEveryFrame();
    void cocos2dFindsEveryFrame_data() { cases(); }
    void cocos2dFindsEveryFrame();
    void namesClash_data();
    void namesClash();

private:
    static void cases();
};

void TestFormats::cases()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QSize>("cell");
    QTest::addColumn<QStringList>("options");
    const QStringList stills{QStringLiteral("a.png"), QStringLiteral("b c.png"), QStringLiteral("ü:1.png")};
    const QStringList animations{QStringLiteral("walk/|3"), QStringLiteral("still.png"), QStringLiteral("jump.gif|70,120|2")};
    const QStringList repeated{QStringLiteral("run/|4|0,1,0,2"), QStringLiteral("blink.gif|500,90,500|0")};
    QTest::newRow("plain") << stills << QSize(6, 5) << QStringList();
    QTest::newRow("padding and margin") << stills << QSize(6, 5) << words("-c 2 --padding 3 --margin 2");
    QTest::newRow("margin wider than a cell") << stills << QSize(4, 4) << words("-c 2 --padding 1 --margin 9");
    QTest::newRow("extrude") << stills << QSize(5, 6) << words("-c 2 --padding 1 --margin 1 --extrude 2");
    QTest::newRow("animations, each from a row") << animations << QSize(7, 6) << words("-c 4 --padding 2 --margin 1 --extrude 1 --fill animations");
    QTest::newRow("trimmed") << animations << QSize(7, 6) << words("-c 3 --padding 1 --trim");
    QTest::newRow("deduped") << repeated << QSize(6, 6) << words("-c 2 --margin 1 --dedupe");
    QTest::newRow("pages, trimmed and deduped") << (animations + repeated) << QSize(6, 7)
                                                << words("-c 2 --padding 1 --margin 1 --extrude 1 --trim --dedupe --max-size 30");
    QTest::newRow("packed") << animations << QSize(7, 6) << words("--layout dense --padding 1");
    QTest::newRow("packed pages, deduped, extruded") << (animations + repeated) << QSize(6, 7)
                                                     << words("--layout dense --dedupe --extrude 1 --margin 1 --max-size 16");
    QTest::newRow("packed, turned clockwise") << (stills + animations) << QSize(5, 8) << words("--layout dense --rotate --padding 1 --format cocos2d");
    QTest::newRow("packed, turned for libGDX") << (stills + animations) << QSize(5, 8)
                                               << words("--layout dense --rotate --padding 1 --format libgdx");
}

void TestFormats::tiledShowsEveryFrame()
{
    QFETCH(QSize, cell);
    const QString rasterizer = QStandardPaths::findExecutable(QStringLiteral("tmxrasterizer"));
    if (rasterizer.isEmpty())
        QSKIP("tmxrasterizer (Debian's tiled) is not installed");
    QTemporaryDir dir;
    const Made m = made(dir);
    if (!m.formats.contains(QStringLiteral("tiled")))
        QSKIP("the row writes no Tiled tileset");
    QHash<QString, QPair<int, QImage>> shown; // frame name -> the page and the tile that shows its picture
    QStringList images = m.pages.keys();
    images.sort();
    for (int p = 0; p < images.size(); ++p) {
        const QString tileset = QFileInfo(images[p]).completeBaseName() + QStringLiteral(".tsx");

        // The tileset's named tiles and animations, as the file says them.
        QXmlStreamReader xml(testsupport::readFile(dir.filePath(tileset)));
        QMap<int, QString> names;
        QMap<int, QList<QPair<int, int>>> animations; // first tile -> (tile, ms)
        int tile = -1;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto attr = [&](const char *n) { return xml.attributes().value(QLatin1String(n)); };
            if (xml.name() == u"tile")
                tile = attr("id").toInt();
            else if (xml.name() == u"property" && attr("name") == u"name")
                names.insert(tile, attr("value").toString());
            else if (xml.name() == u"frame")
                animations[tile].append({attr("tileid").toInt(), attr("duration").toInt()});
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

        // A map of one row that places every named tile once, drawn by Tiled's own renderer.
        QStringList gids;
        for (int id : names.keys())
            gids.append(QString::number(id + 1));
        const QString map = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"%1\" height=\"1\" "
            "tilewidth=\"%2\" tileheight=\"%3\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">\n"
            " <tileset firstgid=\"1\" source=\"%5\"/>\n"
            " <layer id=\"1\" name=\"frames\" width=\"%1\" height=\"1\"><data encoding=\"csv\">%4</data></layer>\n"
            "</map>\n").arg(gids.size()).arg(cell.width()).arg(cell.height()).arg(gids.join(QLatin1Char(',')), tileset);
        writeFile(dir.filePath(QStringLiteral("map.tmx")), map.toUtf8());
        run(rasterizer, {QStringLiteral("map.tmx"), QStringLiteral("map.png")}, dir.path());
        const QImage drawn(dir.filePath(QStringLiteral("map.png")));
        QCOMPARE(drawn.size(), QSize(cell.width() * int(names.size()), cell.height()));
        QHash<int, QImage> tiles;
        for (int k = 0; k < names.size(); ++k) {
            const int id = names.keys()[k];
            tiles.insert(id, drawn.copy(k * cell.width(), 0, cell.width(), cell.height()));
            const QString why = compareRgba(tiles[id], m.expected.pictures.value(names[id]));
            QVERIFY2(why.isEmpty(), qPrintable(names[id] + QStringLiteral(": ") + why));
        }
        // Frames of the same pixels share the tile named after the first of them.
        for (auto f = m.expected.pictures.cbegin(); f != m.expected.pictures.cend(); ++f) {
            for (auto t = tiles.cbegin(); t != tiles.cend(); ++t) {
                if (compareRgba(*t, *f).isEmpty())
                    shown.insert(f.key(), {p, *t});
            }
        }
        // An animation of several frames on this page plays from its first frame's tile.
        for (auto a = m.expected.animations.cbegin(); a != m.expected.animations.cend(); ++a) {
            const bool here = std::all_of(a->cbegin(), a->cend(), [&](const QString &f) { return shown.value(f).first == p && shown.contains(f); });
            if (a->size() < 2 || !here || !names.values().contains(a->first()))
                continue;
            const QList<QPair<int, int>> played = animations.value(names.key(a->first()));
            QCOMPARE(played.size(), a->size());
            for (int k = 0; k < a->size(); ++k) {
                QVERIFY2(compareRgba(tiles.value(played[k].first), m.expected.pictures[a->at(k)]).isEmpty(), qPrintable(a->at(k)));
                QCOMPARE(played[k].second, m.expected.durations[a->at(k)]);
            }
        }
    }
    QCOMPARE(shown.size(), m.expected.pictures.size());
}

void TestFormats::libgdxFindsEveryFrame()
{
    QFETCH(QStringList, options);
    const bool rotate = options.contains(QStringLiteral("--rotate"));
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        QSKIP("node is not installed; spine-core cannot run");
    if (!QFileInfo::exists(engines + QStringLiteral("/node_modules/@esotericsoftware/spine-core")))
        QSKIP(qPrintable(QStringLiteral("spine-core is not installed: npm ci --prefix %1 (./dev test does it)").arg(engines)));
    QTemporaryDir dir;
    const Made m = made(dir);
    if (!m.formats.contains(QStringLiteral("libgdx")))
        QSKIP("the row writes no libGDX atlas");
    const QJsonObject atlas = QJsonDocument::fromJson(
        run(QStringLiteral("node"), {engines + QStringLiteral("/read-atlas.cjs"), dir.filePath(QStringLiteral("sheet.atlas"))})).object();

    const QJsonArray pages = atlas[u"pages"].toArray();
    QCOMPARE(pages.size(), m.pages.size());
    for (const QJsonValue &page : pages)
        QCOMPARE(QSize(page[u"width"].toInt(), page[u"height"].toInt()), m.pages.value(page[u"name"].toString()).size());
    QSet<QString> found;
    int turned = 0;
    for (const QJsonValue &r : atlas[u"regions"].toArray()) {
        // An animation's frames by its name and their index, a frame alone by its own name.
        const QString name = r[u"name"].toString();
        const QStringList animation = m.expected.animations.value(name);
        const QString frame = animation.size() > 1 ? animation.value(r[u"index"].toInt()) : QString(name).replace(QStringLiteral("%3A"), QStringLiteral(":"));
        QVERIFY2(m.expected.pictures.contains(frame) && !found.contains(frame), qPrintable(name));
        found.insert(frame);
        turned += r[u"degrees"].toInt() == 90;
        // Cut where a RegionAttachment's uvs put the region's corners, turned back as spine-core turns it.
        const int h = r[u"h"].toInt(), oh = r[u"oh"].toInt();
        const QImage whole = testsupport::wholeFrame(m.pages[pages[r[u"page"].toInt()][u"name"].toString()], corners(r[u"corners"]),
                                       QSize(r[u"ow"].toInt(), oh), QPoint(r[u"offsetX"].toInt(), oh - r[u"offsetY"].toInt() - h));
        QVERIFY2(compareRgba(whole, m.expected.pictures[frame]).isEmpty(), qPrintable(frame + QStringLiteral(": ") + compareRgba(whole, m.expected.pictures[frame])));
    }
    QCOMPARE(found.size(), m.expected.pictures.size());
    QCOMPARE(turned > 0, rotate);
}

void TestFormats::godotPlaysEveryFrame()
{
    QTemporaryDir dir;
    const Made m = made(dir);
    if (!m.formats.contains(QStringLiteral("godot")))
        QSKIP("the row writes no Godot resource");
    const QJsonArray animations = QJsonDocument::fromJson(
        run(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_SUPPORT_DIR "/read_tres.py"), dir.filePath(QStringLiteral("sheet.tres"))})).array();

    QCOMPARE(animations.size(), m.expected.animations.size());
    for (const QJsonValue &a : animations) {
        const QString name = a[u"name"].toString();
        const QStringList frames = m.expected.animations.value(name);
        QVERIFY2(!frames.isEmpty(), qPrintable(name));
        QCOMPARE(a[u"loop"].toBool(), m.expected.plays[name] == 0);
        QCOMPARE(a[u"frames"].toArray().size(), frames.size());
        for (int k = 0; k < frames.size(); ++k) {
            const QJsonValue f = a[u"frames"][k];
            QVERIFY2(m.pages.contains(f[u"image"].toString()), qPrintable(f[u"image"].toString()));
            const QJsonArray region = f[u"region"].toArray(), more = f[u"margin"].toArray();
            const QImage whole = testsupport::wholeFrame(m.pages[f[u"image"].toString()], QRect(region[0].toInt(), region[1].toInt(), region[2].toInt(), region[3].toInt()),
                                           QSize(region[2].toInt() + more[2].toInt(), region[3].toInt() + more[3].toInt()),
                                           QPoint(more[0].toInt(), more[1].toInt()));
            QVERIFY2(compareRgba(whole, m.expected.pictures[frames[k]]).isEmpty(), qPrintable(frames[k]));
            // Godot shows a frame for duration / speed seconds.
            QCOMPARE(f[u"duration"].toDouble() / a[u"speed"].toDouble() * 1000, double(m.expected.durations[frames[k]]));
        }
    }
}

void TestFormats::cssShowsEveryFrame()
{
    QFETCH(QSize, cell);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("chromium is not installed");
    QTemporaryDir dir;
    const Made m = made(dir);
    if (!m.formats.contains(QStringLiteral("css")))
        QSKIP("the row writes no CSS");

    // Each frame's element alone at a known spot, a few pixels apart, over a transparent page.
    const int step = std::max(cell.width(), cell.height()) + 3;
    QByteArray html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><link rel=\"stylesheet\" href=\"sheet.css\">"
                      "<style>body { margin: 0 } div { position: absolute }</style></head><body>\n";
    const QStringList frames = m.expected.pictures.keys();
    for (int k = 0; k < frames.size(); ++k) {
        html += QStringLiteral("<div class=\"%1\" style=\"left: %2px; top: %3px\"></div>\n")
                    .arg(strip::cssClass(frames[k])).arg(k % 8 * step).arg(k / 8 * step).toUtf8();
    }
    writeFile(dir.filePath(QStringLiteral("page.html")), html + "</body></html>\n");
    const QSize window(8 * step, int(frames.size() + 7) / 8 * step);
    // A profile of its own and no network of its own: the page is a local file.
    run(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                   QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                   QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                   QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("profile")),
                   QStringLiteral("--hide-scrollbars"), QStringLiteral("--force-device-scale-factor=1"),
                   QStringLiteral("--default-background-color=00000000"),
                   QStringLiteral("--window-size=%1,%2").arg(window.width()).arg(window.height()),
                   QStringLiteral("--screenshot=") + dir.filePath(QStringLiteral("shot.png")),
                   QUrl::fromLocalFile(dir.filePath(QStringLiteral("page.html"))).toString()});
    const QImage shot(dir.filePath(QStringLiteral("shot.png")));
    QCOMPARE(shot.size(), window);
    for (int k = 0; k < frames.size(); ++k) {
        // The element and the transparent pixels beyond it: nothing of a neighbour may show.
        const QImage want = testsupport::wholeFrame(m.expected.pictures[frames[k]], QRect(QPoint(0, 0), cell), QSize(step, step), QPoint(0, 0));
        const QImage got = shot.copy(k % 8 * step, k / 8 * step, step, step);
        QVERIFY2(compareRgba(got, want).isEmpty(), qPrintable(frames[k] + QStringLiteral(": ") + compareRgba(got, want)));
    }
}

void TestFormats::sparrowFindsEveryFrame()
{
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        QSKIP("node is not installed; Phaser's AtlasXML cannot run");
    for (const char *module : {"phaser", "@xmldom/xmldom"}) {
        if (!QFileInfo::exists(engines + QStringLiteral("/node_modules/") + QLatin1String(module)))
            QSKIP(qPrintable(QStringLiteral("%1 is not installed: npm ci --prefix %2 (./dev test does it)").arg(QLatin1String(module), engines)));
    }
    QTemporaryDir dir;
    const Made m = made(dir);
    if (!m.formats.contains(QStringLiteral("sparrow")))
        QSKIP("the row writes no Starling atlas");
    QSet<QString> found;
    for (auto page = m.pages.cbegin(); page != m.pages.cend(); ++page) {
        // One atlas a page, named after it, naming it.
        const QString file = dir.filePath(QFileInfo(page.key()).completeBaseName() + QStringLiteral(".xml"));
        const QJsonObject atlas = QJsonDocument::fromJson(run(QStringLiteral("node"), {engines + QStringLiteral("/read-xml.cjs"), file})).object();
        QCOMPARE(atlas[u"image"].toString(), page.key());
        const QJsonObject frames = atlas[u"frames"].toObject();
        QVERIFY2(!frames.isEmpty(), qPrintable(file));
        for (auto f = frames.constBegin(); f != frames.constEnd(); ++f) {
            const QString name = f.key();
            QVERIFY2(m.expected.pictures.contains(name) && !found.contains(name), qPrintable(name));
            found.insert(name);
            const QJsonObject r = f->toObject();
            const QImage whole = testsupport::wholeFrame(*page, QRect(r[u"x"].toInt(), r[u"y"].toInt(), r[u"w"].toInt(), r[u"h"].toInt()),
                                                         QSize(r[u"ow"].toInt(), r[u"oh"].toInt()), QPoint(r[u"tx"].toInt(), r[u"ty"].toInt()));
            const QString why = compareRgba(whole, m.expected.pictures[name]);
            QVERIFY2(why.isEmpty(), qPrintable(name + QStringLiteral(": ") + why));
            // Starling reads the whole frame's corner from the trimmed one: the offset negated
            // (Phaser takes either sign).
            if (!r[u"frameX"].isNull()) {
                QCOMPARE(r[u"frameX"].toString().toInt(), -r[u"tx"].toInt());
                QCOMPARE(r[u"frameY"].toString().toInt(), -r[u"ty"].toInt());
            }
        }
    }
    QCOMPARE(found.size(), m.expected.pictures.size());
}

void TestFormats::cocos2dFindsEveryFrame()
{
    QFETCH(QStringList, options);
    int turned = 0;
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        QSKIP("/usr/bin/python3 is not installed; plistlib cannot read the plist");
    QTemporaryDir dir;
    const Made m = made(dir);
    if (!m.formats.contains(QStringLiteral("cocos2d")))
        QSKIP("the row writes no cocos2d plist");
    QSet<QString> found;
    for (auto page = m.pages.cbegin(); page != m.pages.cend(); ++page) {
        const QString file = dir.filePath(QFileInfo(page.key()).completeBaseName() + QStringLiteral(".plist"));
        const QJsonObject plist = QJsonDocument::fromJson(
            run(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_SUPPORT_DIR "/read_plist.py"), file})).object();
        QCOMPARE(plist[u"image"].toString(), page.key());
        QCOMPARE(plist[u"realImage"].toString(), page.key());
        QCOMPARE(QSize(plist[u"width"].toInt(), plist[u"height"].toInt()), page->size());
        QCOMPARE(plist[u"pixelFormat"].toString(), QStringLiteral("RGBA8888"));
        const QJsonObject frames = plist[u"frames"].toObject();
        QVERIFY2(!frames.isEmpty(), qPrintable(file));
        QSet<QString> cells; // each listed frame's rectangle: a cell is listed once
        for (auto f = frames.constBegin(); f != frames.constEnd(); ++f) {
            const QString name = f.key();
            QVERIFY2(m.expected.pictures.contains(name) && !found.contains(name), qPrintable(name));
            found.insert(name);
            const QJsonObject r = f->toObject();
            turned += r[u"rotated"].toBool();
            const QRect cut(r[u"x"].toInt(), r[u"y"].toInt(), r[u"w"].toInt(), r[u"h"].toInt());
            if (r[u"alias"].isNull()) {
                const QString at = QStringLiteral("%1,%2").arg(cut.x()).arg(cut.y());
                QVERIFY2(!cells.contains(at), qPrintable(name + QStringLiteral(": a second frame of the cell at ") + at));
                cells.insert(at);
            }
            const QImage whole = testsupport::wholeFrame(*page, corners(r[u"corners"]), QSize(r[u"ow"].toInt(), r[u"oh"].toInt()),
                                                         QPoint(r[u"left"].toInt(), r[u"top"].toInt()));
            const QString why = compareRgba(whole, m.expected.pictures[name]);
            QVERIFY2(why.isEmpty(), qPrintable(name + QStringLiteral(": ") + why));
        }
    }
    QCOMPARE(found.size(), m.expected.pictures.size());
    QCOMPARE(turned > 0, options.contains(QStringLiteral("--rotate")));
}

void TestFormats::namesClash_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QString>("clash");
    QTest::addColumn<QStringList>("animations"); // each made of the last two frames
    const QStringList css{QStringLiteral("css")};
    const QStringList walk{QStringLiteral("walk")};
    QTest::newRow("distinct") << QStringList{QStringLiteral("a.png"), QStringLiteral("A.png"), QStringLiteral("a_png")} << css << QString() << walk;
    QTest::newRow("a dot and a dash")
        << QStringList{QStringLiteral("a.png"), QStringLiteral("b.png"), QStringLiteral("a-png")} << css
        << QStringLiteral("Cannot name the frames: a.png and a-png would both be the CSS class 'frame-a-png'; rename one of them.") << walk;
    QTest::newRow("one character beyond the basic plane and one inside")
        << QStringList{QStringLiteral("x\U0001F600.png"), QStringLiteral("x\u00e9.png")} << css
        << QStringLiteral("Cannot name the frames: x\U0001F600.png and x\u00e9.png would both be the CSS class 'frame-x--png'; rename one of them.") << walk;
    QTest::newRow("alike as classes, without css") << QStringList{QStringLiteral("a.png"), QStringLiteral("a-png")}
                                                   << QStringList{QStringLiteral("libgdx")} << QString() << walk;
    // The last two frames are the animation "walk".
    QTest::newRow("a frame alone named as an animation, for libGDX")
        << QStringList{QStringLiteral("walk"), QStringLiteral("walk/1.png"), QStringLiteral("walk/2.png")} << QStringList{QStringLiteral("libgdx")}
        << QStringLiteral("Cannot name the frames: the frame walk and the animation walk would both be libGDX regions named 'walk'; rename one of them.") << walk;
    QTest::newRow("the same, without libgdx") << QStringList{QStringLiteral("walk"), QStringLiteral("walk/1.png"), QStringLiteral("walk/2.png")}
                                              << css << QString() << walk;
    // Bytes of a file name that are not UTF-8 are kept as U+DC80..U+DCFF; text formats hold
    // each as U+FFFD, and XML no control character.
    const QString ff = QStringLiteral("y") + QChar(0xdcff), fe = QStringLiteral("y") + QChar(0xdcfe);
    const QStringList tiled{QStringLiteral("tiled")}, libgdx{QStringLiteral("libgdx")};
    QTest::newRow("two bytes that are not UTF-8, for Tiled") << QStringList{ff, fe, QStringLiteral("w/1"), QStringLiteral("w/2")} << tiled
        << QStringLiteral("Cannot name the frames: y\\xFF and y\\xFE would both be the Tiled tile name 'y\uFFFD'; rename one of them.") << walk;
    QTest::newRow("two control characters, for Tiled") << QStringList{QStringLiteral("c\x01"), QStringLiteral("c\x02"), QStringLiteral("w/1"), QStringLiteral("w/2")}
        << tiled << QStringLiteral("Cannot name the frames: c\\x01 and c\\x02 would both be the Tiled tile name 'c\uFFFD'; rename one of them.") << walk;
    QTest::newRow("two control characters, for Starling") << QStringList{QStringLiteral("c\x03"), QStringLiteral("c\x04")}
        << QStringList{QStringLiteral("sparrow")}
        << QStringLiteral("Cannot name the frames: c\\x03 and c\\x04 would both be the Starling texture 'c\uFFFD'; rename one of them.") << walk;
    QTest::newRow("two bytes that are not UTF-8, for cocos2d") << QStringList{ff, fe} << QStringList{QStringLiteral("cocos2d")}
        << QStringLiteral("Cannot name the frames: y\\xFF and y\\xFE would both be the cocos2d sprite frame 'y\uFFFD'; rename one of them.") << walk;
    QTest::newRow("a control character and none, for Tiled") << QStringList{QStringLiteral("c\x01x"), QStringLiteral("cx"), QStringLiteral("w/1"), QStringLiteral("w/2")}
                                                             << tiled << QString() << walk;
    QTest::newRow("a byte that is not UTF-8 and its stand-in, for libGDX")
        << QStringList{ff, QStringLiteral("y\uFFFD"), QStringLiteral("w/1"), QStringLiteral("w/2")} << libgdx
        << QStringLiteral("Cannot name the frames: y\\xFF and y\uFFFD would both be the libGDX region 'y\uFFFD'; rename one of them.") << walk;
    QTest::newRow("a byte that is not UTF-8 and a question mark, for libGDX")
        << QStringList{ff, QStringLiteral("y?"), QStringLiteral("w/1"), QStringLiteral("w/2")} << libgdx << QString() << walk;
    QTest::newRow("two animations of bytes that are not UTF-8, for Godot")
        << QStringList{QStringLiteral("a"), QStringLiteral("b")} << QStringList{QStringLiteral("godot")}
        << QStringLiteral("Cannot name the frames: y\\xFF and y\\xFE would both be the Godot animation 'y\uFFFD'; rename one of them.")
        << QStringList{ff, fe};
}

void TestFormats::namesClash()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, formats);
    QFETCH(QString, clash);
    QFETCH(QStringList, animations);
    strip::SheetData data;
    for (const QString &name : names) {
        data.frames.append(strip::DataFrame());
        data.frames.last().name = name;
    }
    for (const QString &animation : animations)
        data.animations.append({animation, {int(names.size()) - 2, int(names.size()) - 1}, 0});
    QCOMPARE(strip::safeNamesClash(data, formats), clash);
}

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
