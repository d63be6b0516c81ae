// Listing a folder for the file list from what the directory itself says of each entry: which
// kinds of entry count as picture files, and a large folder in the right order.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include "browse/folders.h"

namespace {

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

} // namespace

class TestListing : public QObject
{
    Q_OBJECT

private slots:
    // A link counts as what it leads to: a picture file is listed, a folder or a pipe is not.
    void entriesOtherThanFiles()
    {
        QTemporaryDir dir;
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkdir(elsewhere));
        touch(elsewhere + QStringLiteral("/real.jpg"));
        QVERIFY(QFile::link(elsewhere + QStringLiteral("/real.jpg"), dir.filePath(QStringLiteral("link to file.JPG"))));
        QVERIFY(QFile::link(elsewhere, dir.filePath(QStringLiteral("link to folder.bmp"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("link to file.JPG")), dir.filePath(QStringLiteral("link to link.gif"))));
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.ico"))).constData(), 0600), 0);
        touch(dir.filePath(QStringLiteral("plain.bmp")));
        touch(dir.filePath(QStringLiteral("no suffix bmp")));
        touch(dir.filePath(QStringLiteral(".jpg")));
        touch(dir.filePath(QStringLiteral("x.jpeg.txt")));
        touch(dir.filePath(QStringLiteral("x.JPEG")));
        touch(dir.filePath(QStringLiteral("x.bmp ")));

        const browse::Listing listing = browse::listPictures(dir.path());
        QVERIFY(listing.ok);
        QCOMPARE(listing.names, (QStringList{QStringLiteral("link to file.JPG"), QStringLiteral("link to link.gif"),
                                             QStringLiteral("plain.bmp"), QStringLiteral("x.JPEG")}));
    }

    // Tens of thousands of names, most of them pictures: all of them, without regard to case
    // and each case twin in a fixed place.
    void largeFolderInOrder()
    {
        QTemporaryDir dir;
        const QStringList suffixes{QStringLiteral(".jpg"), QStringLiteral(".BMP"), QStringLiteral(".Gif"),
                                   QStringLiteral(".ico"), QStringLiteral(".jpeg"), QStringLiteral(".png")};
        QStringList expected;
        for (int i = 0; i < 40000; ++i) {
            const QString name = (i % 7 ? QStringLiteral("pic_%1") : QStringLiteral("PIC_%1")).arg((i * 7919) % 40000, 5, 10, QLatin1Char('0'))
                + suffixes[i % suffixes.size()];
            touch(dir.filePath(name));
            if (!name.endsWith(QStringLiteral(".png")))
                expected << name;
        }
        std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
            const int c = QString::compare(a, b, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a < b;
        });
        const browse::Listing listing = browse::listPictures(dir.path());
        QVERIFY(listing.ok);
        QCOMPARE(listing.names.size(), expected.size());
        QVERIFY(listing.names.size() > 32767);
        QCOMPARE(listing.names, expected);
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
