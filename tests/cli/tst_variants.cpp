// corvane-strip's --variant: several sheets of one run at other sizes, each frame checked
// against a resize of its own written with numpy, PixiJS's loader drawing them alike, and the
// files a run writes and lists.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include "tests/support/testsupport.h"

using testsupport::Alpha;
using testsupport::readFile;
using testsupport::Run;
using testsupport::runStrip;
using testsupport::sample;
using testsupport::words;

namespace {

// Pictures of odd sizes whose edges are transparent of a loud colour (it must not bleed into a
// reduced frame) with half-transparent pixels inside; the last two alike, for --dedupe.
QStringList writeInputs(const QString &dir)
{
    const QList<QSize> sizes = {{13, 9}, {7, 11}, {10, 10}, {10, 10}};
    QStringList names;
    for (int i = 0; i < sizes.size(); ++i) {
        QImage picture = sample(sizes[i].width(), sizes[i].height(), i == 3 ? 2 : i, i == 1 ? Alpha::Partial : Alpha::Binary);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (x < 2 || y < 1 || x >= picture.width() - 1)
                    picture.setPixel(x, y, qRgba(255, 0, 255, 0));
        names.append(QStringLiteral("f%1.png").arg(i));
        picture.save(QDir(dir).filePath(names.last()));
    }
    return names;
}

QJsonObject metaOf(const QString &path)
{
    return QJsonDocument::fromJson(readFile(path))[QStringLiteral("meta")].toObject();
}

} // namespace

class TestVariants : public QObject
{
    Q_OBJECT

private slots:
    void everyFrameResizedAsTheRuleSays_data();
    void everyFrameResizedAsTheRuleSays();
    void pixiDrawsVariantsAlike();
    void oneVariantAtScaleOneIsThePlainRun();
};

void TestVariants::everyFrameResizedAsTheRuleSays_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("cell");   // how the checker finds each frame's whole size
    QTest::addColumn<QString>("anchor");
    // Each variant: suffix=scale, then its factor as numerator/denominator and its meta.scale.
    QTest::addColumn<QStringList>("variants");
    QTest::addColumn<QStringList>("checks");
    QTest::addColumn<QStringList>("written");
    QTest::newRow("double and half, grid") << words("--json --depfile s.d") << QStringLiteral("first") << QStringLiteral("top-left")
        << words("@2x=1 =0.5") << words("s@2x.json:1/1:2 s.json:1/2:1") << words("s.d s.json s.png s@2x.json s@2x.png");
    QTest::newRow("three quarters alone, odd sizes") << words("--json --cell max") << QStringLiteral("max") << QStringLiteral("top-left")
        << words("-small=0.75") << words("s-small.json:3/4:1") << words("s-small.json s-small.png");
    QTest::newRow("no base: the smallest is") << words("--json --trim --cell max --anchor center") << QStringLiteral("max") << QStringLiteral("center")
        << words("@3x=1 @1x=0.333") << words("s@3x.json:1/1:3.003003003 s@1x.json:333/1000:1")
        << words("s@1x.json s@1x.png s@3x.json s@3x.png");
    QTest::newRow("trimmed dense, extruded, deduplicated") << words("--json --layout dense --extrude 1 --dedupe --padding 1") << QStringLiteral("own") << QStringLiteral("top-left")
        << words("=1 @half=0.5 @fifth=0.2") << words("s.json:1/1:1 s@half.json:1/2:0.5 s@fifth.json:1/5:0.2")
        << words("s.json s.png s@fifth.json s@fifth.png s@half.json s@half.png");
    QTest::newRow("enlarged and reduced, pages") << words("--json --layout dense --max-size 20") << QStringLiteral("own") << QStringLiteral("top-left")
        << words("@2x=2 =0.6") << words("s@2x.json:2/1:3.333333333 s.json:3/5:1")
        << words("s.json s.png s@2x-0.png s@2x-1.json s@2x-1.png s@2x-2.json s@2x-2.png s@2x-3.json s@2x-3.png s@2x.json");
}

void TestVariants::everyFrameResizedAsTheRuleSays()
{
    QFETCH(QStringList, options);
    QFETCH(QString, cell);
    QFETCH(QString, anchor);
    QFETCH(QStringList, variants);
    QFETCH(QStringList, checks);
    QFETCH(QStringList, written);
    QTemporaryDir dir;
    const QStringList inputs = writeInputs(dir.path());
    QStringList args = inputs + options + words("-q -o s.png");
    for (const QString &variant : variants)
        args << QStringLiteral("--variant") << variant;

    // The dry run lists every file the run then writes, and nothing is written by it.
    const Run dry = runStrip(args + words("--dry-run"), dir.path());
    QVERIFY2(dry.status == 0, qPrintable(dry.err));
    QStringList listed = dry.out.section(QStringLiteral("would write:\n"), 1).split(u'\n', Qt::SkipEmptyParts);
    for (QString &line : listed)
        line = line.trimmed();
    listed.sort();
    QVERIFY2(listed == written, qPrintable(dry.out));
    QCOMPARE(dry.out.count(QStringLiteral("estimated memory:")), 1);

    const Run run = runStrip(args, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QStringList files = testsupport::entries(dir.path());
    for (const QString &input : inputs)
        files.removeOne(input);
    QCOMPARE(files, written);

    // The dependency file names every other file as an output.
    if (written.contains(QStringLiteral("s.d"))) {
        const QByteArray rule = readFile(dir.filePath(QStringLiteral("s.d"))).split(':').first();
        QStringList targets = QString::fromUtf8(rule).split(u' ', Qt::SkipEmptyParts);
        targets.append(QStringLiteral("s.d"));
        targets.sort();
        QCOMPARE(targets, written);
    }

    for (const QString &check : checks) {
        const QStringList parts = check.split(u':');
        const QStringList factor = parts[1].split(u'/');
        const QString data = dir.filePath(parts[0]);
        QCOMPARE(metaOf(data)[QStringLiteral("scale")].toString(), parts[2]);
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral("/usr/bin/python3"),
                QStringList{QStringLiteral(CORVANE_VARIANT_CHECK), data, factor[0], factor[1], cell, anchor} + inputs);
        QVERIFY(p.waitForFinished(120000));
        const QString said = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
        if (p.exitCode() == 77)
            QSKIP(qPrintable(said));
        QVERIFY2(p.exitCode() == 0, qPrintable(parts[0] + QStringLiteral(": ") + said));
    }
}

// PixiJS's own spritesheet loader on each variant's JSON: every frame the same size in points,
// and the resolution it reads from @2x in the name the one meta.scale draws at.
void TestVariants::pixiDrawsVariantsAlike()
{
    const QString engines = QStringLiteral(CORVANE_ENGINES_DIR);
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        QSKIP("node is not installed; PixiJS cannot run");
    if (!QFileInfo::exists(engines + QStringLiteral("/node_modules/pixi.js")))
        QSKIP(qPrintable(QStringLiteral("PixiJS is not installed: npm ci --prefix %1 (./dev test does it)").arg(engines)));
    QTemporaryDir dir;
    // Sides that halve evenly, so that a frame's points are whole in both.
    for (int i = 0; i < 3; ++i)
        QVERIFY(sample(12 + 4 * i, 8, i, Alpha::Partial).save(dir.filePath(QStringLiteral("f%1.png").arg(i))));
    const Run run = runStrip(words("f0.png f1.png f2.png --json --layout dense --variant @2x=1 --variant =0.5 -o hero.png"),
                             dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QJsonObject found[2];
    for (int k = 0; k < 2; ++k) {
        QString error;
        found[k] = testsupport::engineReading(engines, dir.filePath(k ? QStringLiteral("hero.json") : QStringLiteral("hero@2x.json")),
                                              &error)[QStringLiteral("pixi")].toObject();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    const QJsonObject high = found[0][QStringLiteral("resolution")].toObject(), low = found[1][QStringLiteral("resolution")].toObject();
    QCOMPARE(high[QStringLiteral("drawn")].toDouble(), 2.0);
    QCOMPARE(high[QStringLiteral("named")].toDouble(), 2.0);
    QCOMPARE(low[QStringLiteral("drawn")].toDouble(), 1.0);
    const QJsonObject a = found[0][QStringLiteral("frames")].toObject(), b = found[1][QStringLiteral("frames")].toObject();
    QCOMPARE(a.keys(), words("f0.png f1.png f2.png"));
    QCOMPARE(b.keys(), a.keys());
    for (const QString &name : a.keys()) {
        const QJsonObject fa = a[name].toObject(), fb = b[name].toObject();
        for (const char *key : {"ow", "oh", "w", "h", "tx", "ty"})
            QVERIFY2(fa[QLatin1String(key)].toDouble() == fb[QLatin1String(key)].toDouble(),
                     qPrintable(QStringLiteral("%1 %2: %3 points at @2x, %4 at 1").arg(name, QLatin1String(key))
                                    .arg(fa[QLatin1String(key)].toDouble()).arg(fb[QLatin1String(key)].toDouble())));
        QCOMPARE(fb[QStringLiteral("ow")].toDouble(), 6.0 + 2 * QStringView(name).mid(1, 1).toInt());
    }
}

// A variant of scale 1 and no suffix writes the bytes of the run without --variant.
void TestVariants::oneVariantAtScaleOneIsThePlainRun()
{
    QTemporaryDir dir;
    const QStringList inputs = writeInputs(dir.path());
    QDir(dir.path()).mkdir(QStringLiteral("a"));
    QDir(dir.path()).mkdir(QStringLiteral("b"));
    const QStringList options = words("--json --format libgdx,css --layout dense --trim --extrude 2 --max-size 20 -q");
    QCOMPARE(runStrip(inputs + options + words("-o a/s.png"), dir.path()).status, 0);
    QCOMPARE(runStrip(inputs + options + words("--variant =1 -o b/s.png"), dir.path()).status, 0);
    const QStringList files = testsupport::entries(dir.filePath(QStringLiteral("a")));
    QCOMPARE(testsupport::entries(dir.filePath(QStringLiteral("b"))), files);
    QVERIFY(files.size() > 4);
    for (const QString &file : files)
        QVERIFY2(readFile(dir.filePath(QStringLiteral("a/") + file)) == readFile(dir.filePath(QStringLiteral("b/") + file)),
                 qPrintable(file));
}

QTEST_GUILESS_MAIN(TestVariants)
#include "tst_variants.moc"
