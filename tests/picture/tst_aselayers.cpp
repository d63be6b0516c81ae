// Aseprite files beyond the frames and facts that tst_picture checks against asesuite.py's
// compositor: which layers can be shown alone, and tilesets held to the budget.
#include <QProcess>
#include <QtTest>

#include "picture/source/picture.h"
#include "tests/support/testsupport.h"

using picture::Budget;
using picture::LoadError;

class TestAseLayers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QProcess generator;
        generator.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_ASESUITE_SCRIPT), m_dir.filePath(QStringLiteral("ase"))});
        m_suite = generator.waitForFinished(120000) && generator.exitStatus() == QProcess::NormalExit && generator.exitCode() == 0;
    }

    // A layer alone is shown only when the file shows it: not a hidden one, a group, one under a
    // hidden group, a reference layer or one the file does not have.
    void onlyLayer_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("shown");
        QTest::newRow("the bottom layer") << 0 << true;
        QTest::newRow("hidden") << 1 << false;
        QTest::newRow("a hidden group") << 2 << false;
        QTest::newRow("in a hidden group") << 3 << false;
        QTest::newRow("two groups deep") << 7 << true;
        QTest::newRow("a reference layer") << 8 << false;
        QTest::newRow("the top layer") << 9 << true;
        QTest::newRow("past the last") << 10 << false;
        QTest::newRow("none") << -1 << false;
    }
    void onlyLayer()
    {
        QFETCH(int, index);
        QFETCH(bool, shown);
        if (!m_suite)
            QSKIP("/usr/bin/python3 with numpy and Pillow cannot run the Aseprite test-file generator");
        const QString file = suiteFile(QStringLiteral("groups"));
        const picture::Source source = picture::Source::open(file, file, Budget{.acceptPng = true});
        QVERIFY2(source.ok(), qPrintable(source.refusal().message));
        const picture::Loaded alone = source.onlyLayer(index).decode();
        if (shown) {
            QVERIFY2(alone.ok(), qPrintable(alone.message));
            QCOMPARE(alone.image.size(), source.size());
        } else {
            QCOMPARE(alone.message, QStringLiteral("Cannot load %1: it has no shown layer %2.").arg(file).arg(index));
        }
        QVERIFY(source.decode().ok()); // the file itself is untouched
    }

    // Other pictures have no layers.
    void notAnEditorsFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("plain.png"));
        QVERIFY(testsupport::pattern(3, 2, 1).save(path));
        const picture::Source source = picture::Source::open(path, path, Budget{.acceptPng = true});
        QVERIFY(source.ok());
        QVERIFY(!source.sprite());
        QCOMPARE(source.onlyLayer(0).decode().error, LoadError::NotAPicture);
    }

    // A tileset is inflated whole: one taller than the budget's side refuses the file, however
    // small its canvas, before anything is inflated.
    void tilesetBudget_data()
    {
        QTest::addColumn<int>("maxSide");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("the tileset (3 x 12) is taller than the most") << 11 << QStringLiteral("a tileset is too large: 3 x 12");
        QTest::newRow("just fits") << 12 << QString();
    }
    void tilesetBudget()
    {
        QFETCH(int, maxSide);
        QFETCH(QString, refusal);
        if (!m_suite)
            QSKIP("/usr/bin/python3 with numpy and Pillow cannot run the Aseprite test-file generator");
        const QString file = suiteFile(QStringLiteral("tilemap-flips"));
        Budget budget{.maxSide = maxSide, .acceptPng = true};
        const picture::Loaded loaded = picture::Source::open(file, file, budget).decode();
        if (refusal.isEmpty()) {
            QVERIFY2(loaded.ok(), qPrintable(loaded.message));
        } else {
            QCOMPARE(loaded.error, LoadError::TooLarge);
            QVERIFY2(loaded.message.startsWith(QStringLiteral("Cannot load %1: %2").arg(file, refusal)), qPrintable(loaded.message));
        }
    }

    // What composing a frame holds at once is charged to the command's memory: for the suite's
    // tilemap (11 x 10 RGBA canvas, its 11 x 10 paper cel, four 3 x 3 tiles) the frame handed
    // out, the canvas it is composed on, the paper cel inflated and the tileset inflated.
    void chargedWhileComposing()
    {
        if (!m_suite)
            QSKIP("/usr/bin/python3 with numpy and Pillow cannot run the Aseprite test-file generator");
        const QString file = suiteFile(QStringLiteral("tilemap-flips"));
        const picture::Source source = picture::Source::open(file, file, Budget{.acceptPng = true});
        QVERIFY(source.ok());
        const qint64 frame = 11 * 10 * 4, paper = 11 * 10 * 4, tiles = 4 * 3 * 3 * 4;
        QVERIFY2(source.chargedBytes() >= frame + frame + paper + tiles, qPrintable(QString::number(source.chargedBytes())));
    }

private:
    QString suiteFile(const QString &stem) const { return m_dir.filePath(QStringLiteral("ase/%1.aseprite").arg(stem)); }

    QTemporaryDir m_dir;
    bool m_suite = false;
};

QTEST_GUILESS_MAIN(TestAseLayers)
#include "tst_aselayers.moc"
