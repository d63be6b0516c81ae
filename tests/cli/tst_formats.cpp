// The data files for Tiled, libGDX, Godot and CSS, each read back by the engine's own reader or
// by an independent one (tmxrasterizer, spine-core, a reader of Godot's text grammar, Chromium),
// every frame cut from the sheet by the reader's numbers and compared with its picture.
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
using testsupport::sample;

namespace {

// What the inputs were: every frame's picture and time, every animation's frames.
struct Expected {
    QHash<QString, QImage> pictures;        // frame name -> its picture
    QHash<QString, int> durations;          // frame name -> milliseconds
    QHash<QString, QStringList> animations; // animation name -> its frames' names
    QHash<QString, int> plays;
};

// The sheet's pages and its data as corvane-strip lays them out.
struct Made {
    strip::SheetData data;
    QHash<QString, QImage> pages; // image name -> its pixels
    Expected expected;
};

// Inputs: a still picture by its name, or an animation "walk|3|100,200,300|2|0,1,0": name,
// frames, each frame's milliseconds, plays (0: for ever) and, when given, which picture each
// frame shows (frames showing the same one share a cell, as --dedupe makes them). Trimmed
// pictures have a transparent border that the frame's rectangle leaves out. perPage cells a
// page, 0 for one page.
Made handMade(const QStringList &inputs, QSize cell, const strip::SheetOptions &options, bool trim, int perPage)
{
    Made m;
    QList<QImage> cells; // each distinct picture once
    QList<QRect> kept;   // the part of it on the sheet
    for (const QString &input : inputs) {
        const QStringList parts = input.split(QLatin1Char('|'));
        strip::DataAnimation animation{parts[0], {}, parts.value(3).toInt()};
        const int count = parts.size() > 1 ? parts[1].toInt() : 1;
        const QStringList ms = parts.value(2).split(QLatin1Char(','));
        const QStringList shows = parts.value(4).split(QLatin1Char(','), Qt::SkipEmptyParts);
        const qsizetype firstCell = cells.size();
        for (int k = 0; k < count; ++k) {
            strip::DataFrame f;
            f.name = count > 1 ? QStringLiteral("%1.gif#%2").arg(parts[0]).arg(k) : parts[0];
            f.duration = count > 1 ? ms.value(k).toInt() : 100;
            f.cell = int(firstCell) + (shows.isEmpty() ? k : shows[k].toInt());
            if (f.cell == cells.size()) {
                QImage picture = sample(cell.width(), cell.height(), f.cell + 1, Alpha::Binary);
                QRect inner(QPoint(0, 0), cell);
                if (trim) {
                    inner.adjust(f.cell % 3, 1 + f.cell % 2, -(f.cell % 2), -(f.cell % 3));
                    for (int y = 0; y < cell.height(); ++y)
                        for (int x = 0; x < cell.width(); ++x)
                            if (!inner.contains(x, y))
                                picture.setPixel(x, y, 0);
                }
                cells.append(picture);
                kept.append(inner);
            }
            f.sourceSize = cell;
            f.sourceRect = kept[f.cell];
            f.trimmed = trim;
            animation.frames.append(int(m.data.frames.size()));
            m.data.frames.append(f);
            m.expected.pictures.insert(f.name, cells[f.cell]);
            m.expected.durations.insert(f.name, f.duration);
            m.expected.animations[animation.name].append(f.name);
        }
        m.expected.plays.insert(animation.name, animation.plays);
        m.data.animations.append(animation);
    }
    m.data.pixelFormat = QStringLiteral("RGBA8888");
    const int total = int(cells.size()), step = perPage > 0 ? perPage : total;
    for (int first = 0; first < total; first += step) {
        const int here = std::min(step, total - first);
        const strip::Sheet grid = strip::arrangeSheet(here, cell, options);
        const QString image = perPage > 0 ? QStringLiteral("sheet-%1.png").arg(first / step) : QStringLiteral("sheet.png");
        m.data.pages.append({image, QSize(int(grid.width), int(grid.height)), grid});
        QImage sheet(m.data.pages.last().size, QImage::Format_RGBA8888);
        sheet.fill(Qt::transparent);
        const int e = options.extrude;
        for (int c = first; c < first + here; ++c) {
            const QRect at = grid.cellRect(c - first);
            for (int y = -e; y < cell.height() + e; ++y)
                for (int x = -e; x < cell.width() + e; ++x)
                    sheet.setPixel(at.topLeft() + QPoint(x, y),
                                   cells[c].pixel(std::clamp(x, 0, cell.width() - 1), std::clamp(y, 0, cell.height() - 1)));
            for (strip::DataFrame &f : m.data.frames) {
                if (f.cell == c) {
                    f.page = int(m.data.pages.size()) - 1;
                    f.rect = kept[c].translated(at.topLeft());
                }
            }
        }
        m.pages.insert(image, sheet);
    }
    return m;
}

// The current row of cases() made into a sheet and its data.
Made madeFromRow()
{
    QFETCH(QStringList, inputs);
    QFETCH(QSize, cell);
    QFETCH(int, columns);
    QFETCH(int, padding);
    QFETCH(int, margin);
    QFETCH(int, extrude);
    QFETCH(bool, trim);
    QFETCH(int, perPage);
    strip::SheetOptions options;
    options.columns = columns;
    options.padding = padding;
    options.margin = margin;
    options.extrude = extrude;
    options.clip = extrude > 0;
    return handMade(inputs, cell, options, trim, perPage);
}

// "" when the two pictures agree pixel for pixel; a fully transparent pixel's colour is not compared.
QString difference(const QImage &got, const QImage &want)
{
    if (got.size() != want.size())
        return QStringLiteral("size %1x%2, want %3x%4").arg(got.width()).arg(got.height()).arg(want.width()).arg(want.height());
    const QImage a = got.convertToFormat(QImage::Format_RGBA8888), b = want.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const uchar *p = a.constScanLine(y) + x * 4, *q = b.constScanLine(y) + x * 4;
            if (memcmp(p, q, 4) != 0 && !(p[3] == 0 && q[3] == 0))
                return QStringLiteral("pixel (%1,%2) is %3,%4,%5,%6, want %7,%8,%9,%10").arg(x).arg(y)
                    .arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]).arg(q[0]).arg(q[1]).arg(q[2]).arg(q[3]);
        }
    return {};
}

// The whole frame: its pixels cut from the sheet, put back in a transparent frame at `at`.
QImage untrimmed(const QImage &sheet, const QRect &rect, QSize whole, QPoint at)
{
    QImage out(whole, QImage::Format_RGBA8888);
    out.fill(Qt::transparent);
    const QImage part = sheet.copy(rect).convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < part.height(); ++y)
        memcpy(out.scanLine(at.y() + y) + at.x() * 4, part.constScanLine(y), size_t(part.width()) * 4);
    return out;
}

QByteArray run(const QString &program, const QStringList &args, const QString &dir = {})
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

void writeFile(const QString &path, const QByteArray &bytes)
{
    testsupport::writeFile(path, bytes);
}

void savePages(const Made &m, const QTemporaryDir &dir)
{
    for (auto p = m.pages.cbegin(); p != m.pages.cend(); ++p)
        QVERIFY(p->save(dir.filePath(p.key())));
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
    void cssNamesClash_data();
    void cssNamesClash();

private:
    static void cases();
};

void TestFormats::cases()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QSize>("cell");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("padding");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("extrude");
    QTest::addColumn<bool>("trim");
    QTest::addColumn<int>("perPage"); // cells a page; 0: one page
    const QStringList stills{QStringLiteral("a.png"), QStringLiteral("b c.png"), QStringLiteral("ü:1.png")};
    const QStringList animations{QStringLiteral("walk|3|100,150,30|0"), QStringLiteral("still.png"), QStringLiteral("jump|2|70,70|2")};
    const QStringList repeated{QStringLiteral("run|4|40,60,40,60|0|0,1,0,2"), QStringLiteral("blink|3|500,90,500|1|0,1,0")};
    QTest::newRow("plain") << stills << QSize(6, 5) << 10 << 0 << 0 << 0 << false << 0;
    QTest::newRow("padding and margin") << stills << QSize(6, 5) << 2 << 3 << 2 << 0 << false << 0;
    QTest::newRow("margin wider than a cell") << stills << QSize(4, 4) << 2 << 1 << 9 << 0 << false << 0;
    QTest::newRow("extrude") << stills << QSize(5, 6) << 2 << 1 << 1 << 2 << false << 0;
    QTest::newRow("several animations") << animations << QSize(7, 6) << 4 << 2 << 1 << 1 << false << 0;
    QTest::newRow("trimmed") << animations << QSize(7, 6) << 3 << 1 << 0 << 0 << true << 0;
    QTest::newRow("deduped") << repeated << QSize(6, 6) << 2 << 0 << 1 << 0 << false << 0;
    QTest::newRow("pages, trimmed and deduped") << (animations + repeated) << QSize(6, 7) << 2 << 1 << 1 << 1 << true << 4;
}

void TestFormats::tiledShowsEveryFrame()
{
    QFETCH(QSize, cell);
    const QString rasterizer = QStandardPaths::findExecutable(QStringLiteral("tmxrasterizer"));
    if (rasterizer.isEmpty())
        QSKIP("tmxrasterizer (Debian's tiled) is not installed");
    QTemporaryDir dir;
    const Made m = madeFromRow();
    savePages(m, dir);
    QHash<QString, QPair<int, QImage>> shown; // frame name -> the page and the tile that shows its picture
    for (int p = 0; p < m.data.pages.size(); ++p) {
        const QString tileset = QFileInfo(m.data.pages[p].image).completeBaseName() + QStringLiteral(".tsx");
        writeFile(dir.filePath(tileset), strip::tiledTileset(m.data, p));

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
            const QString why = difference(tiles[id], m.expected.pictures.value(names[id]));
            QVERIFY2(why.isEmpty(), qPrintable(names[id] + QStringLiteral(": ") + why));
        }
        // Frames of the same pixels share the tile named after the first of them.
        for (auto f = m.expected.pictures.cbegin(); f != m.expected.pictures.cend(); ++f) {
            for (auto t = tiles.cbegin(); t != tiles.cend(); ++t) {
                if (difference(*t, *f).isEmpty())
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
                QVERIFY2(difference(tiles.value(played[k].first), m.expected.pictures[a->at(k)]).isEmpty(), qPrintable(a->at(k)));
                QCOMPARE(played[k].second, m.expected.durations[a->at(k)]);
            }
        }
    }
    QCOMPARE(shown.size(), m.expected.pictures.size());
}

void TestFormats::libgdxFindsEveryFrame()
{
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        QSKIP("node is not installed; spine-core cannot run");
    if (!QFileInfo::exists(engines + QStringLiteral("/node_modules/@esotericsoftware/spine-core")))
        QSKIP(qPrintable(QStringLiteral("spine-core is not installed: npm ci --prefix %1 (./dev test does it)").arg(engines)));
    QTemporaryDir dir;
    const Made m = madeFromRow();
    writeFile(dir.filePath(QStringLiteral("sheet.atlas")), strip::gdxAtlas(m.data));
    const QJsonObject atlas = QJsonDocument::fromJson(
        run(QStringLiteral("node"), {engines + QStringLiteral("/read-atlas.cjs"), dir.filePath(QStringLiteral("sheet.atlas"))})).object();

    const QJsonArray pages = atlas[u"pages"].toArray();
    QCOMPARE(pages.size(), m.pages.size());
    for (const QJsonValue &page : pages)
        QCOMPARE(QSize(page[u"width"].toInt(), page[u"height"].toInt()), m.pages.value(page[u"name"].toString()).size());
    QSet<QString> found;
    for (const QJsonValue &r : atlas[u"regions"].toArray()) {
        // An animation's frames by its name and their index, a frame alone by its own name.
        const QString name = r[u"name"].toString();
        const QStringList animation = m.expected.animations.value(name);
        const QString frame = animation.size() > 1 ? animation.value(r[u"index"].toInt()) : QString(name).replace(QStringLiteral("%3A"), QStringLiteral(":"));
        QVERIFY2(m.expected.pictures.contains(frame) && !found.contains(frame), qPrintable(name));
        found.insert(frame);
        const int h = r[u"h"].toInt(), oh = r[u"oh"].toInt();
        const QImage whole = untrimmed(m.pages[pages[r[u"page"].toInt()][u"name"].toString()], QRect(r[u"x"].toInt(), r[u"y"].toInt(), r[u"w"].toInt(), h),
                                       QSize(r[u"ow"].toInt(), oh), QPoint(r[u"offsetX"].toInt(), oh - r[u"offsetY"].toInt() - h));
        QVERIFY2(difference(whole, m.expected.pictures[frame]).isEmpty(), qPrintable(frame + QStringLiteral(": ") + difference(whole, m.expected.pictures[frame])));
    }
    QCOMPARE(found.size(), m.expected.pictures.size());
}

void TestFormats::godotPlaysEveryFrame()
{
    QTemporaryDir dir;
    const Made m = madeFromRow();
    writeFile(dir.filePath(QStringLiteral("sheet.tres")), strip::godotFrames(m.data));
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
            const QImage whole = untrimmed(m.pages[f[u"image"].toString()], QRect(region[0].toInt(), region[1].toInt(), region[2].toInt(), region[3].toInt()),
                                           QSize(region[2].toInt() + more[2].toInt(), region[3].toInt() + more[3].toInt()),
                                           QPoint(more[0].toInt(), more[1].toInt()));
            QVERIFY2(difference(whole, m.expected.pictures[frames[k]]).isEmpty(), qPrintable(frames[k]));
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
    const Made m = madeFromRow();
    savePages(m, dir);
    writeFile(dir.filePath(QStringLiteral("sheet.css")), strip::cssSprites(m.data));

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
    run(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                   QStringLiteral("--hide-scrollbars"), QStringLiteral("--force-device-scale-factor=1"),
                   QStringLiteral("--default-background-color=00000000"),
                   QStringLiteral("--window-size=%1,%2").arg(window.width()).arg(window.height()),
                   QStringLiteral("--screenshot=") + dir.filePath(QStringLiteral("shot.png")),
                   QUrl::fromLocalFile(dir.filePath(QStringLiteral("page.html"))).toString()});
    const QImage shot(dir.filePath(QStringLiteral("shot.png")));
    QCOMPARE(shot.size(), window);
    for (int k = 0; k < frames.size(); ++k) {
        // The element and the transparent pixels beyond it: nothing of a neighbour may show.
        const QImage want = untrimmed(m.expected.pictures[frames[k]], QRect(QPoint(0, 0), cell), QSize(step, step), QPoint(0, 0));
        const QImage got = shot.copy(k % 8 * step, k / 8 * step, step, step);
        QVERIFY2(difference(got, want).isEmpty(), qPrintable(frames[k] + QStringLiteral(": ") + difference(got, want)));
    }
}

void TestFormats::cssNamesClash_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("clash");
    QTest::newRow("distinct") << QStringList{QStringLiteral("a.png"), QStringLiteral("A.png"), QStringLiteral("a_png")} << QString();
    QTest::newRow("a dot and a dash")
        << QStringList{QStringLiteral("a.png"), QStringLiteral("b.png"), QStringLiteral("a-png")}
        << QStringLiteral("Cannot name the frames: a.png and a-png would both be the CSS class 'frame-a-png'; rename one of them");
    QTest::newRow("one character beyond the basic plane and one inside")
        << QStringList{QStringLiteral("x\U0001F600.png"), QStringLiteral("x\u00e9.png")}
        << QStringLiteral("Cannot name the frames: x\U0001F600.png and x\u00e9.png would both be the CSS class 'frame-x--png'; rename one of them");
}

void TestFormats::cssNamesClash()
{
    QFETCH(QStringList, names);
    QFETCH(QString, clash);
    strip::SheetData data;
    for (const QString &name : names) {
        data.frames.append(strip::DataFrame());
        data.frames.last().name = name;
    }
    QCOMPARE(strip::safeNamesClash(data, true), clash);
    QCOMPARE(strip::safeNamesClash(data, false), QString());
}

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
