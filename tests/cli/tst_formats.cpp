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

// One input: a still picture, or an animation ("walk|3|100,200,300|2": name, frames, each
// frame's milliseconds, plays; 0 for ever). Every picture has the cell's size.
struct Expected {
    QHash<QString, QImage> pictures;       // frame name -> its picture
    QHash<QString, int> durations;         // frame name -> milliseconds
    QHash<QString, QStringList> animations; // animation name -> its frames' names
    QHash<QString, int> plays;
};

// The sheet and its data as corvane-strip lays them out: one page, frames in cells.
struct Made {
    strip::SheetData data;
    QImage sheet;
    Expected expected;
};

Made handMade(const QStringList &inputs, QSize cell, int columns, int padding, int margin, int extrude)
{
    Made m;
    QList<QImage> pictures;
    int seed = 1;
    for (const QString &input : inputs) {
        const QStringList parts = input.split(QLatin1Char('|'));
        strip::DataAnimation animation{parts[0], {}, parts.value(3).toInt()};
        const int count = parts.size() > 1 ? parts[1].toInt() : 1;
        const QStringList ms = parts.value(2).split(QLatin1Char(','));
        for (int k = 0; k < count; ++k) {
            const QString name = count > 1 ? QStringLiteral("%1.gif#%2").arg(parts[0]).arg(k) : parts[0];
            animation.frames.append(m.data.frames.size());
            strip::DataFrame f;
            f.name = name;
            f.duration = count > 1 ? ms.value(k).toInt() : 100;
            f.cell = m.data.frames.size();
            m.data.frames.append(f);
            pictures.append(sample(cell.width(), cell.height(), seed++, Alpha::Binary));
            m.expected.pictures.insert(name, pictures.last());
            m.expected.durations.insert(name, f.duration);
            m.expected.animations[animation.name].append(name);
        }
        m.expected.plays.insert(animation.name, animation.plays);
        m.data.animations.append(animation);
    }
    strip::SheetOptions options;
    options.columns = columns;
    options.padding = padding;
    options.margin = margin;
    options.extrude = extrude;
    options.clip = extrude > 0;
    const strip::Sheet grid = strip::arrangeSheet(int(pictures.size()), cell, options);
    m.data.pages.append({QStringLiteral("sheet.png"), QSize(int(grid.width), int(grid.height)), grid});
    m.data.pixelFormat = QStringLiteral("RGBA8888");
    m.sheet = QImage(m.data.pages[0].size, QImage::Format_RGBA8888);
    m.sheet.fill(Qt::transparent);
    for (int i = 0; i < pictures.size(); ++i) {
        strip::DataFrame &f = m.data.frames[i];
        f.rect = grid.cellRect(i);
        f.sourceSize = cell;
        f.sourceRect = QRect(QPoint(0, 0), cell);
        for (int y = -extrude; y < cell.height() + extrude; ++y)
            for (int x = -extrude; x < cell.width() + extrude; ++x)
                m.sheet.setPixel(f.rect.topLeft() + QPoint(x, y),
                                 pictures[i].pixel(std::clamp(x, 0, cell.width() - 1), std::clamp(y, 0, cell.height() - 1)));
    }
    return m;
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
    const QStringList stills{QStringLiteral("a.png"), QStringLiteral("b c.png"), QStringLiteral("ü:1.png")};
    QTest::newRow("plain") << stills << QSize(6, 5) << 10 << 0 << 0 << 0;
    QTest::newRow("padding and margin") << stills << QSize(6, 5) << 2 << 3 << 2 << 0;
    QTest::newRow("margin wider than a cell") << stills << QSize(4, 4) << 2 << 1 << 9 << 0;
    QTest::newRow("extrude") << stills << QSize(5, 6) << 2 << 1 << 1 << 2;
    QTest::newRow("several animations")
        << QStringList{QStringLiteral("walk|3|100,150,30|0"), QStringLiteral("still.png"), QStringLiteral("jump|2|70,70|2")}
        << QSize(7, 6) << 4 << 2 << 1 << 1;
}

void TestFormats::tiledShowsEveryFrame()
{
    QFETCH(QStringList, inputs);
    QFETCH(QSize, cell);
    QFETCH(int, columns);
    QFETCH(int, padding);
    QFETCH(int, margin);
    QFETCH(int, extrude);
    const QString rasterizer = QStandardPaths::findExecutable(QStringLiteral("tmxrasterizer"));
    if (rasterizer.isEmpty())
        QSKIP("tmxrasterizer (Debian's tiled) is not installed");
    QTemporaryDir dir;
    const Made m = handMade(inputs, cell, columns, padding, margin, extrude);
    QVERIFY(m.sheet.save(dir.filePath(QStringLiteral("sheet.png"))));
    writeFile(dir.filePath(QStringLiteral("sheet.tsx")), strip::tiledTileset(m.data, 0));

    // The tileset's named tiles and animations, as the file says them.
    QXmlStreamReader xml(testsupport::readFile(dir.filePath(QStringLiteral("sheet.tsx"))));
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
    QCOMPARE(QSet<QString>(names.cbegin(), names.cend()), QSet<QString>(m.expected.pictures.keyBegin(), m.expected.pictures.keyEnd()));

    // A map of one row that places every named tile once, drawn by Tiled's own renderer.
    QStringList gids;
    for (int id : names.keys())
        gids.append(QString::number(id + 1));
    const QString map = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"%1\" height=\"1\" "
        "tilewidth=\"%2\" tileheight=\"%3\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">\n"
        " <tileset firstgid=\"1\" source=\"sheet.tsx\"/>\n"
        " <layer id=\"1\" name=\"frames\" width=\"%1\" height=\"1\"><data encoding=\"csv\">%4</data></layer>\n"
        "</map>\n").arg(gids.size()).arg(cell.width()).arg(cell.height()).arg(gids.join(QLatin1Char(',')));
    writeFile(dir.filePath(QStringLiteral("map.tmx")), map.toUtf8());
    run(rasterizer, {QStringLiteral("map.tmx"), QStringLiteral("map.png")}, dir.path());
    const QImage drawn(dir.filePath(QStringLiteral("map.png")));
    QCOMPARE(drawn.size(), QSize(cell.width() * int(names.size()), cell.height()));
    QHash<int, QImage> tiles;
    for (int k = 0; k < names.size(); ++k) {
        const int id = names.keys()[k];
        tiles.insert(id, drawn.copy(k * cell.width(), 0, cell.width(), cell.height()));
        QVERIFY2(difference(tiles[id], m.expected.pictures[names[id]]).isEmpty(),
                 qPrintable(names[id] + QStringLiteral(": ") + difference(tiles[id], m.expected.pictures[names[id]])));
    }
    // Every animation of several frames plays from its first frame's tile, each frame its time.
    for (auto a = m.expected.animations.cbegin(); a != m.expected.animations.cend(); ++a) {
        if (a->size() < 2)
            continue;
        const int first = names.key(a->first(), -1);
        QCOMPARE(animations.value(first).size(), a->size());
        for (int k = 0; k < a->size(); ++k) {
            const auto [id, ms] = animations[first][k];
            QVERIFY2(difference(tiles.value(id), m.expected.pictures[a->at(k)]).isEmpty(), qPrintable(a->at(k)));
            QCOMPARE(ms, m.expected.durations[a->at(k)]);
        }
    }
}

void TestFormats::libgdxFindsEveryFrame()
{
    QFETCH(QStringList, inputs);
    QFETCH(QSize, cell);
    QFETCH(int, columns);
    QFETCH(int, padding);
    QFETCH(int, margin);
    QFETCH(int, extrude);
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        QSKIP("node is not installed; spine-core cannot run");
    if (!QFileInfo::exists(engines + QStringLiteral("/node_modules/@esotericsoftware/spine-core")))
        QSKIP(qPrintable(QStringLiteral("spine-core is not installed: npm ci --prefix %1 (./dev test does it)").arg(engines)));
    QTemporaryDir dir;
    const Made m = handMade(inputs, cell, columns, padding, margin, extrude);
    writeFile(dir.filePath(QStringLiteral("sheet.atlas")), strip::gdxAtlas(m.data));
    const QJsonObject atlas = QJsonDocument::fromJson(
        run(QStringLiteral("node"), {engines + QStringLiteral("/read-atlas.cjs"), dir.filePath(QStringLiteral("sheet.atlas"))})).object();

    const QJsonArray pages = atlas[u"pages"].toArray();
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0][u"name"].toString(), QStringLiteral("sheet.png"));
    QCOMPARE(QSize(pages[0][u"width"].toInt(), pages[0][u"height"].toInt()), m.sheet.size());
    QSet<QString> found;
    for (const QJsonValue &r : atlas[u"regions"].toArray()) {
        // An animation's frames by its name and their index, a frame alone by its own name.
        const QString name = r[u"name"].toString();
        const QStringList animation = m.expected.animations.value(name);
        const QString frame = animation.size() > 1 ? animation.value(r[u"index"].toInt()) : QString(name).replace(QStringLiteral("%3A"), QStringLiteral(":"));
        QVERIFY2(m.expected.pictures.contains(frame) && !found.contains(frame), qPrintable(name));
        found.insert(frame);
        const int h = r[u"h"].toInt(), oh = r[u"oh"].toInt();
        const QImage whole = untrimmed(m.sheet, QRect(r[u"x"].toInt(), r[u"y"].toInt(), r[u"w"].toInt(), h),
                                       QSize(r[u"ow"].toInt(), oh), QPoint(r[u"offsetX"].toInt(), oh - r[u"offsetY"].toInt() - h));
        QVERIFY2(difference(whole, m.expected.pictures[frame]).isEmpty(), qPrintable(frame + QStringLiteral(": ") + difference(whole, m.expected.pictures[frame])));
    }
    QCOMPARE(found.size(), m.expected.pictures.size());
}

void TestFormats::godotPlaysEveryFrame()
{
    QFETCH(QStringList, inputs);
    QFETCH(QSize, cell);
    QFETCH(int, columns);
    QFETCH(int, padding);
    QFETCH(int, margin);
    QFETCH(int, extrude);
    QTemporaryDir dir;
    const Made m = handMade(inputs, cell, columns, padding, margin, extrude);
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
            QCOMPARE(f[u"image"].toString(), QStringLiteral("sheet.png"));
            const QJsonArray region = f[u"region"].toArray(), more = f[u"margin"].toArray();
            const QImage whole = untrimmed(m.sheet, QRect(region[0].toInt(), region[1].toInt(), region[2].toInt(), region[3].toInt()),
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
    QFETCH(QStringList, inputs);
    QFETCH(QSize, cell);
    QFETCH(int, columns);
    QFETCH(int, padding);
    QFETCH(int, margin);
    QFETCH(int, extrude);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("chromium is not installed");
    QTemporaryDir dir;
    const Made m = handMade(inputs, cell, columns, padding, margin, extrude);
    QVERIFY(m.sheet.save(dir.filePath(QStringLiteral("sheet.png"))));
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
