// Listing folders through the picture pattern, with real files in temporary folders.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "browse/folders.h"

namespace {

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

} // namespace

class TestFolders : public QObject
{
    Q_OBJECT

private slots:
    void listsThroughThePattern()
    {
        QTemporaryDir dir;
        const QStringList names = {QStringLiteral("i.jpe"), QStringLiteral("h.tif"), QStringLiteral("g.png"),
                                   QStringLiteral("f.JPG"), QStringLiteral("e.jpeg"), QStringLiteral("d.ICO"),
                                   QStringLiteral("c.Gif"), QStringLiteral("b.bmp"), QStringLiteral("a.BMP")};
        for (const QString &name : names)
            touch(dir.filePath(name));
        const browse::Listing listing = browse::listPictures(dir.path());
        QVERIFY(listing.ok);
        QCOMPARE(listing.names, (QStringList{QStringLiteral("a.BMP"), QStringLiteral("b.bmp"), QStringLiteral("c.Gif"),
                                             QStringLiteral("d.ICO"), QStringLiteral("e.jpeg"), QStringLiteral("f.JPG")}));
    }

    void leavesOutHiddenFilesAndFolders()
    {
        QTemporaryDir dir;
        touch(dir.filePath(QStringLiteral(".hidden.bmp")));
        touch(dir.filePath(QStringLiteral("shown.bmp")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral(".secret")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Sub")));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("missing.gif")), dir.filePath(QStringLiteral("dangling.gif"))));
        QCOMPARE(browse::listPictures(dir.path()).names, QStringList{QStringLiteral("shown.bmp")});

        const browse::FolderChain chain = browse::folderChain(QStringLiteral("/"), dir.path());
        QVERIFY(chain.ok);
        QCOMPARE(chain.subfolders, (QStringList{QStringLiteral("folder.bmp"), QStringLiteral("Sub")}));
    }

    void oddNamesAndCaseTwins()
    {
        QTemporaryDir dir;
        const QStringList names = {QStringLiteral("-leading dash.gif"), QStringLiteral("with space.jpg"),
                                   QStringLiteral("Ünïcødé.bmp"), QStringLiteral("twin.BMP"), QStringLiteral("twin.bmp"),
                                   QStringLiteral("日本.ico")};
        for (const QString &name : names)
            touch(dir.filePath(name));
        const QStringList listed = browse::listPictures(dir.path()).names;
        QCOMPARE(listed.size(), names.size());
        for (const QString &name : names)
            QVERIFY2(listed.contains(name), qPrintable(name));
        QVERIFY(listed.indexOf(QStringLiteral("twin.BMP")) + 1 == listed.indexOf(QStringLiteral("twin.bmp")));
    }

    void sortsWithoutRegardToCase()
    {
        QTemporaryDir dir;
        for (const char *name : {"b.gif", "C.gif", "a.gif", "B2.gif"})
            touch(dir.filePath(QLatin1String(name)));
        QCOMPARE(browse::listPictures(dir.path()).names,
                 (QStringList{QStringLiteral("a.gif"), QStringLiteral("b.gif"), QStringLiteral("B2.gif"), QStringLiteral("C.gif")}));
    }

    void unreadableFolders()
    {
        QTemporaryDir dir;
        const QString gone = dir.filePath(QStringLiteral("gone"));
        const QString file = dir.filePath(QStringLiteral("file.bmp"));
        touch(file);
        for (const QString &path : {gone, file}) {
            const browse::Listing listing = browse::listPictures(path);
            QVERIFY(!listing.ok);
            QVERIFY2(listing.message.contains(path), qPrintable(listing.message));
            QVERIFY(!browse::folderChain(QStringLiteral("/"), path).ok);
        }
    }

    void chainFromTheDriveRoot()
    {
        QTemporaryDir dir;
        const QString deep = dir.filePath(QStringLiteral("a/b"));
        QVERIFY(QDir().mkpath(deep));
        const browse::FolderChain fromRoot = browse::folderChain(QStringLiteral("/"), deep);
        QCOMPARE(fromRoot.ancestors.constFirst(), QStringLiteral("/"));
        QCOMPARE(fromRoot.ancestors.constLast(), QDir::cleanPath(deep));
        const browse::FolderChain fromDrive = browse::folderChain(dir.path(), deep);
        QCOMPARE(fromDrive.ancestors, (QStringList{QDir::cleanPath(dir.path()), QDir::cleanPath(dir.filePath(QStringLiteral("a"))),
                                                   QDir::cleanPath(deep)}));
    }

    void listPathHasOneSeparatorOnlyAtTheRoot_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("plain") << "/home/user" << "/home/user";
        QTest::newRow("trailing") << "/home/user/" << "/home/user";
        QTest::newRow("doubled") << "//home//user" << "/home/user";
    }

    void listPathHasOneSeparatorOnlyAtTheRoot()
    {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(browse::listPath(folder), expected);
    }

    void drivesAreRealDisks()
    {
        const QList<browse::Drive> drives = browse::drives();
        QVERIFY(!drives.isEmpty());
        QCOMPARE(drives.constFirst().rootPath, QStringLiteral("/"));
        for (const browse::Drive &d : drives) {
            QVERIFY2(!d.rootPath.startsWith(QStringLiteral("/proc")) && !d.rootPath.startsWith(QStringLiteral("/sys")),
                     qPrintable(d.rootPath));
            QVERIFY(QFileInfo(d.rootPath).isDir());
        }
        QCOMPARE(browse::driveIndexFor(drives, QStringLiteral("/")), 0);
        const QList<browse::Drive> nested = {{QStringLiteral("/"), {}}, {QStringLiteral("/media/usb"), {}}};
        QCOMPARE(browse::driveIndexFor(nested, QStringLiteral("/media/usb/art")), 1);
        QCOMPARE(browse::driveIndexFor(nested, QStringLiteral("/media/usbstick")), 0);
    }
};

QTEST_GUILESS_MAIN(TestFolders)
#include "tst_folders.moc"
