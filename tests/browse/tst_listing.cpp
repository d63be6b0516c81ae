// Listing a folder's pictures, for the file list and for corvane-strip's folder inputs: which
// entries count, in which order, a large folder, and names whose bytes are not UTF-8.

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "browse/core/folders.h"
#include "picture/base/nativepath.h"
#include "tests/support/testsupport.h"

namespace {

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

// A picture's bytes as Qt's own writer makes them.
QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Writes bytes under a name given as raw bytes, which Qt's file classes cannot spell.
bool writeRaw(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

} // namespace

class TestListing : public QObject
{
    Q_OBJECT

private slots:
    // One folder of every kind of entry, seen through a pattern, by name or also by content.
    void whichEntriesCount_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<browse::Match>("match");
        QTest::addColumn<QStringList>("expected");
        const QStringList window{QStringLiteral("a.BMP"), QStringLiteral("b.bmp"), QStringLiteral("c.Gif"),
                                 QStringLiteral("d.ICO"), QStringLiteral("e.jpeg"), QStringLiteral("f.JPG"),
                                 QStringLiteral("link to file.JPG"), QStringLiteral("link to link.gif")};
        QTest::newRow("the file list's") << browse::picturePattern() << browse::Match::Name << window;
        QTest::newRow("corvane-strip's")
            << browse::picturePattern(true) << browse::Match::NameOrContent
            << QStringList{QStringLiteral("a.BMP"), QStringLiteral("b.bmp"), QStringLiteral("bitmap data"),
                           QStringLiteral("c.Gif"), QStringLiteral("d.ICO"), QStringLiteral("e.jpeg"),
                           QStringLiteral("f.JPG"), QStringLiteral("g.png"), QStringLiteral("j.WebP"),
                           QStringLiteral("k.apng"), QStringLiteral("l.ase"), QStringLiteral("link to file.JPG"),
                           QStringLiteral("link to link.gif"), QStringLiteral("m.Aseprite"), QStringLiteral("sprite"),
                           QStringLiteral("walk2.dat"), QStringLiteral("webp data")};
        QTest::newRow("stars anywhere, parts left empty")
            << QStringLiteral(";*X*;;H.TIF;*a*a*") << browse::Match::Name
            << QStringList{QStringLiteral("bitmap data"), QStringLiteral("h.tif"), QStringLiteral("no suffix bmp"),
                           QStringLiteral("notes.txt"), QStringLiteral("walk2.dat"), QStringLiteral("webp data"),
                           QStringLiteral("x.bmp "),
                           QStringLiteral("x.jpeg.txt")};
        QTest::newRow("no pattern") << QString() << browse::Match::Name << QStringList();
    }
    void whichEntriesCount()
    {
        QFETCH(QString, pattern);
        QFETCH(browse::Match, match);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (const char *name : {"a.BMP", "b.bmp", "c.Gif", "d.ICO", "e.jpeg", "f.JPG", "g.png", "h.tif", "i.jpe",
                                 "j.WebP", "k.apng", "l.ase", "m.Aseprite", "x.jpeg.txt", "x.bmp ", "no suffix bmp", ".hidden.bmp", ".jpg", "notes.txt"})
            touch(dir.filePath(QLatin1String(name)));
        const QImage image = testsupport::pattern(3, 2, 1);
        testsupport::writeFile(dir.filePath(QStringLiteral("walk2.dat")), encoded(image, "png"));
        testsupport::writeFile(dir.filePath(QStringLiteral("bitmap data")), encoded(image, "bmp"));
        testsupport::writeFile(dir.filePath(QStringLiteral("webp data")), QByteArray("RIFF\x1a\0\0\0WEBPVP8L", 16));
        // An Aseprite header's first 14 bytes: size, magic, frames, width, height, 32 bits a pixel.
        testsupport::writeFile(dir.filePath(QStringLiteral("sprite")), QByteArray("\x80\0\0\0\xe0\xa5\1\0\4\0\4\0\x20\0", 14));
        testsupport::writeFile(dir.filePath(QStringLiteral(".hidden")), encoded(image, "bmp"));
        // A link counts as what it leads to; a folder, a pipe or a link to nothing is no file.
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.bmp"));
        QVERIFY(QDir().mkdir(elsewhere));
        touch(elsewhere + QStringLiteral("/real.jpg"));
        QVERIFY(QFile::link(elsewhere + QStringLiteral("/real.jpg"), dir.filePath(QStringLiteral("link to file.JPG"))));
        QVERIFY(QFile::link(elsewhere, dir.filePath(QStringLiteral("link to folder.bmp"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("link to file.JPG")), dir.filePath(QStringLiteral("link to link.gif"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("missing.gif")), dir.filePath(QStringLiteral("dangling.gif"))));
        // Opening a pipe to read its first bytes would wait for a writer for ever.
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.ico"))).constData(), 0600), 0);
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);

        const browse::Listing listing = browse::listPictures(dir.path(), pattern, browse::Order::Name, match);
        QVERIFY(listing.ok);
        QCOMPARE(listing.names, expected);
    }

    // Each order on names made to tell it apart.
    void order_data()
    {
        QTest::addColumn<browse::Order>("order");
        QTest::addColumn<QStringList>("expected");
        auto row = [](const char *tag, browse::Order order, std::initializer_list<const char *> names) {
            QStringList list;
            for (const char *name : names)
                list << QString::fromUtf8(name);
            QTest::newRow(tag) << order << list;
        };
        const browse::Order name = browse::Order::Name;
        const browse::Order natural = browse::Order::Natural;
        row("name: case ignored", name, {"a.gif", "b.gif", "B2.gif", "C.gif"});
        row("name: case twins by character", name, {"TWIN.bmp", "twin.BMP", "twin.bmp"});
        row("name: digits as characters", name, {"f007.gif", "f10.gif", "F2.gif", "f9.gif"});
        row("name: letters beyond ASCII after z", name, {"-dash.gif", "apfel.gif", "zebra.gif", "Äpfel.gif", "日本.ico"});
        row("natural: digits by value", natural, {"f2.gif", "F9.gif", "f10.gif", "f10a.gif", "f10B.gif", "f11.gif"});
        row("natural: fewer leading zeros, then by character", natural, {"Run7.jpg", "run7.jpg", "run07.jpg", "run007.jpg"});
        row("natural: numbers longer than any integer", natural, {"n99.bmp", "n18446744073709551616.bmp", "n99999999999999999999999.bmp"});
        row("natural: digits before letters", natural, {"1.ico", "a.ico", "Ä.ico"});
    }
    void order()
    {
        QFETCH(browse::Order, order);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (qsizetype i = expected.size() - 1; i >= 0; --i)
            touch(dir.filePath(expected[i]));
        QCOMPARE(browse::listPictures(dir.path(), browse::picturePattern(), order).names, expected);
    }

    // Tens of thousands of names, most of them pictures: all of them, in order, each case twin
    // in its fixed place. Their numbers, all of one width, decide the order.
    void largeFolderInOrder()
    {
        QTemporaryDir dir;
        const QStringList suffixes{QStringLiteral(".jpg"), QStringLiteral(".BMP"), QStringLiteral(".Gif"),
                                   QStringLiteral(".ico"), QStringLiteral(".jpeg"), QStringLiteral(".png")};
        QStringList expected;
        for (int n = 0; n < 40000; ++n) {
            const QString number = QStringLiteral("%1").arg(n, 5, 10, QLatin1Char('0'));
            const QString suffix = suffixes[(n * 7919) % suffixes.size()];
            const QString name = (n % 7 ? QStringLiteral("pic_") : QStringLiteral("PIC_")) + number + suffix;
            touch(dir.filePath(name));
            if (suffix == QStringLiteral(".png"))
                continue;
            if (n % 11) {
                expected << name;
                continue;
            }
            // A twin equal but for case: PIC_ before Pic_ before pic_.
            const QString twin = QStringLiteral("Pic_") + number + suffix;
            touch(dir.filePath(twin));
            expected << (n % 7 ? twin : name) << (n % 7 ? name : twin);
        }
        const browse::Listing listing = browse::listPictures(dir.path());
        QVERIFY(listing.ok);
        QVERIFY(listing.names.size() > 32767);
        QCOMPARE(listing.names, expected);
    }

    // Names kept byte for byte, also where Qt would read a resource (a leading ':') or drop a
    // character (a leading byte-order mark): listed, found by corvane-strip's folder input, and read.
    void namesKeptByteForByte_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("Latin-1 bitmap") << QByteArray("caf\xe9 walk.bmp") << QByteArray("bmp");
        QTest::newRow("broken UTF-8, a PNG by its content") << QByteArray("\xff\xfe\xc3(") << QByteArray("png");
        QTest::newRow("a leading colon") << QByteArray(":walk.bmp") << QByteArray("bmp");
        QTest::newRow("a leading byte-order mark") << QByteArray("\xef\xbb\xbfwalk.bmp") << QByteArray("bmp");
    }
    void namesKeptByteForByte()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, format);
        QTemporaryDir dir;
        const QImage image = testsupport::pattern(5, 3, 2);
        QVERIFY(writeRaw(QFile::encodeName(dir.path()) + '/' + name, encoded(image, format.constData())));

        const QStringList paths = browse::pictureFilesIn(dir.path(), browse::Order::Natural);
        QCOMPARE(paths.size(), 1);
        QCOMPARE(picture::toNativePath(paths[0]), QFile::encodeName(dir.path()) + '/' + name);
        if (format == "bmp")
            QCOMPARE(browse::listPictures(dir.path()).names, QStringList{paths[0].mid(dir.path().size() + 1)});
        const picture::Loaded loaded = picture::load(paths[0], picture::Budget{.acceptPng = true});
        // QTemporaryDir would lose the name's bytes too, and leave the folder behind.
        QCOMPARE(::unlink(picture::toNativePath(paths[0]).constData()), 0);
        QVERIFY2(loaded.ok(), qPrintable(loaded.message));
        QCOMPARE(testsupport::firstDifference(loaded.image, image), QString());
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
