#include <QtTest>

#include "strip/names.h"

class NamesTest : public QObject
{
    Q_OBJECT

private slots:
    // chosen path -> bitmap path, image name (from the title) and companion text path.
    void names_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("bitmap");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("text");
        auto row = [](const char *tag, const char *chosen, const char *bitmap, const char *image, const char *text) {
            QTest::newRow(tag) << QString::fromUtf8(chosen) << QString::fromUtf8(bitmap) << QString::fromUtf8(image)
                               << QString::fromUtf8(text);
        };
        row("no extension", "/art/walk", "/art/walk", "walk", "/art/walk.TXT");
        row("walk.bmp", "/art/walk.bmp", "/art/walk.bmp", "walk.bmp", "/art/walk.TXT");
        row("Walk.Bmp keeps its case", "/art/Walk.Bmp", "/art/Walk.Bmp", "Walk.Bmp", "/art/Walk.TXT");
        row("walk.bmp.bmp", "/art/walk.bmp.bmp", "/art/walk.bmp", "walk.bmp", "/art/walk.TXT");
        row("WALK.BMP.bmp", "/art/WALK.BMP.bmp", "/art/WALK.BMP", "WALK.BMP", "/art/WALK.TXT");
        row("walk.Bmp.bMp", "/art/walk.Bmp.bMp", "/art/walk.Bmp", "walk.Bmp", "/art/walk.TXT");
        row("walk.bmp.bmp.bmp: first occurrence", "/art/walk.bmp.bmp.bmp", "/art/walk.bmp", "walk.bmp", "/art/walk.TXT");
        row("walk.bmpx", "/art/walk.bmpx", "/art/walk.bmpx", "walk.bmpx", "/art/walk.TXT");
        row("a.bmp.bmp.txt: the doubled pair in the middle", "/art/a.bmp.bmp.txt", "/art/a.bmp", "a.bmp", "/art/a.TXT");
        row("walk.png", "/art/walk.png", "/art/walk.png", "walk.png", "/art/walk.png.TXT");
        row("walk.bmp.png", "/art/walk.bmp.png", "/art/walk.bmp.png", "walk.bmp.png", "/art/walk.TXT");
        row("name that is only .bmp", "/art/.bmp", "/art/.bmp", ".bmp", "/art/.TXT");
        // Folder names are never searched.
        row("folder with .bmp", "/art/x.bmp.d/walk.bmp", "/art/x.bmp.d/walk.bmp", "walk.bmp", "/art/x.bmp.d/walk.TXT");
        row("folder with .BMP.BMP", "/art/x.BMP.BMP/walk.bmp.bmp", "/art/x.BMP.BMP/walk.bmp", "walk.bmp",
            "/art/x.BMP.BMP/walk.TXT");
        row("folder with .bmp, name without", "/art/x.bmp/walk", "/art/x.bmp/walk", "walk", "/art/x.bmp/walk.TXT");
        row("folder with .BMP.BMP, plain name", "/a.bmp.bmp/b", "/a.bmp.bmp/b", "b", "/a.bmp.bmp/b.TXT");
        row("at the root, double separator", "//walk.bmp", "//walk.bmp", "walk.bmp", "//walk.TXT");
        // Upper-casing a sharp s would make the name longer; positions must not shift.
        row("sharp s before the extension", "/art/straße.bmp.bmp", "/art/straße.bmp", "straße.bmp", "/art/straße.TXT");
        row("non-ASCII folder", "/künst/läuft.BMP", "/künst/läuft.BMP", "läuft.BMP", "/künst/läuft.TXT");
    }
    void names()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, bitmap);
        QFETCH(QString, image);
        QFETCH(QString, text);
        QCOMPARE(strip::bitmapPath(chosen), bitmap);
        const QString title = chosen.mid(chosen.lastIndexOf(u'/') + 1);
        QCOMPARE(strip::imageName(title), image);
        QCOMPARE(strip::textPath(strip::bitmapPath(chosen)), text);
    }

    // The files beside a command-line sheet: its text file and its JSON.
    void besideSheet_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("json");
        QTest::newRow("png") << QStringLiteral("art/walk.png") << QStringLiteral("art/walk.TXT") << QStringLiteral("art/walk.json");
        QTest::newRow("bmp, the window's rule") << QStringLiteral("walk.bmp") << QStringLiteral("walk.TXT") << QStringLiteral("walk.json");
        QTest::newRow("dots in the name") << QStringLiteral("walk.v2.PNG") << QStringLiteral("walk.v2.TXT") << QStringLiteral("walk.v2.json");
        QTest::newRow("dot in a folder only") << QStringLiteral("a.d/walk") << QStringLiteral("a.d/walk.TXT") << QStringLiteral("a.d/walk.json");
    }
    void besideSheet()
    {
        QFETCH(QString, sheet);
        QFETCH(QString, text);
        QFETCH(QString, json);
        QCOMPARE(strip::sheetTextPath(sheet), text);
        QCOMPARE(strip::besideSheet(sheet, QStringLiteral(".json")), json);
    }

    void companionLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("horizontal");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("walk.bmp 3 7") << QStringLiteral("walk.bmp") << 3.0 << 7 << QByteArray("walk.bmp, 3, 7\r\n");
        QTest::newRow("walk 3 7") << QStringLiteral("walk") << 3.0 << 7 << QByteArray("walk, 3, 7\r\n");
        QTest::newRow("8 and 16") << QStringLiteral("walk.bmp") << 8.0 << 16 << QByteArray("walk.bmp, 8, 16\r\n");
        QTest::newRow("4 and 4") << QStringLiteral("walk.bmp") << 4.0 << 4 << QByteArray("walk.bmp, 4, 4\r\n");
        QTest::newRow("2.5") << QStringLiteral("walk.bmp") << 2.5 << 5 << QByteArray("walk.bmp, 2.5, 5\r\n");
        QTest::newRow("100") << QStringLiteral("Walk.Bmp") << 100.0 << 100 << QByteArray("Walk.Bmp, 100, 100\r\n");
        QTest::newRow("name with comma and blank kept unquoted")
            << QStringLiteral("a, b.bmp") << 1.0 << 1 << QByteArray("a, b.bmp, 1, 1\r\n");
    }
    void companionLine()
    {
        QFETCH(QString, name);
        QFETCH(double, horizontal);
        QFETCH(int, frames);
        QFETCH(QByteArray, line);
        QCOMPARE(strip::companionLine(name, horizontal, frames), line);
    }

    // The locale's 8-bit encoding: UTF-8 on this platform's locales (the tests run in C.UTF-8).
    void companionLineInLocaleEncoding()
    {
        const QByteArray line = strip::companionLine(QStringLiteral("läuft"), 2, 3);
        QCOMPARE(line, QByteArray("l\xC3\xA4uft, 2, 3\r\n"));
    }
};

QTEST_GUILESS_MAIN(NamesTest)
#include "tst_names.moc"
