// Drives, folders and the chain the folder list shows, with real folders in temporary folders.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <new>
#include <stdexcept>
#include <system_error>

#include "browse/core/folders.h"
#include "browse/core/reader.h"

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
    // The folder list shows subfolders, hidden ones left out, in the file list's order.
    void subfoldersWithoutHiddenOnes()
    {
        QTemporaryDir dir;
        touch(dir.filePath(QStringLiteral("shown.bmp")));
        for (const char *name : {"folder.bmp", ".secret", "Sub", "a"})
            QVERIFY(QDir(dir.path()).mkdir(QLatin1String(name)));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("Sub")), dir.filePath(QStringLiteral("link to Sub"))));
        const browse::FolderChain chain = browse::folderChain(QStringLiteral("/"), dir.path());
        QVERIFY(chain.ok);
        QCOMPARE(chain.subfolders, (QStringList{QStringLiteral("a"), QStringLiteral("folder.bmp"),
                                                QStringLiteral("link to Sub"), QStringLiteral("Sub")}));
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

    // A reading that throws, on the reader's own thread, is a failed reading with its cause, not
    // the end of the program.
    void readingThatThrows_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("cause");
        QTest::newRow("no memory") << 0 << QStringLiteral("not enough memory");
        QTest::newRow("no thread") << 1 << QStringLiteral("Resource temporarily unavailable");
        QTest::newRow("anything else") << 2 << QStringLiteral("the disk said no");
    }

    void readingThatThrows()
    {
        QFETCH(int, kind);
        QFETCH(QString, cause);
        QObject receiver;
        browse::Reader<browse::Listing> reader(&receiver);
        const std::optional<browse::Listing> got = reader.read(
            [kind]() -> browse::Listing {
                if (kind == 0)
                    throw std::bad_alloc();
                if (kind == 1)
                    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                throw std::runtime_error("the disk said no");
            },
            [](const browse::Listing &) {}, std::chrono::hours(1));
        QVERIFY(got.has_value());
        QVERIFY(!got->ok);
        QVERIFY2(got->message.contains(cause), qPrintable(got->message));
        QVERIFY(!reader.isReading());
    }
};

QTEST_GUILESS_MAIN(TestFolders)
#include "tst_folders.moc"
