// The window's bitmap, written as the programs write it, when the disk or the target fails: the
// file is written in chunks of about a megabyte, so a disk that fills up can cut any of them short. In every
// case the message names the path and the cause, an existing file stays byte-identical and no
// temporary file is left beside it.
#include <QtTest>

#include "picture/codecs/bitmapfile.h"
#include "tests/support/testsupport.h"

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A strip of 1500 x 1000 pixels: 4.5 MB of rows, five chunks of writing.
constexpr int StripWidth = 1500;
constexpr int StripHeight = 1000;

const QByteArray oldContent = QByteArray("an earlier strip, which must survive every failure\n").repeated(100);

// A picture whose rows are not all alike.
QImage content()
{
    return testsupport::pattern(StripWidth, StripHeight, 5);
}

// The strip of that picture, its file kept in a folder of its own beside the one written to.
struct Strip {
    QTemporaryDir inputs;
    strip::SheetJob job = testsupport::stripOf(content(), inputs.path());
};

} // namespace

class BitmapFailuresTest : public QObject
{
    Q_OBJECT

private slots:
    // The disk fills up at a file-size limit, with the signal that would end the program
    // ignored as the program does not handle it: the write fails instead.
    void diskFull_data()
    {
        QTest::addColumn<qint64>("limit");
        const qint64 size = picture::bitmapFileSize(StripWidth, StripHeight);
        QTest::newRow("nothing fits") << qint64(1);
        QTest::newRow("inside the header") << qint64(20);
        QTest::newRow("just the header") << qint64(54);
        QTest::newRow("inside the first chunk") << qint64(54 + 500000);
        // The writer gathers as many 4500-byte rows as fit in a megabyte: 233 of them.
        QTest::newRow("at the first chunk's end") << qint64(54 + 233 * 4500);
        QTest::newRow("one byte short") << size - 1;
    }
    void diskFull()
    {
        QFETCH(qint64, limit);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));
        testsupport::writeFile(path, oldContent);
        const Strip strip;
        const QString report = testsupport::inChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit fsize{rlim_t(limit), rlim_t(limit)};
            if (setrlimit(RLIMIT_FSIZE, &fsize) != 0)
                return QStringLiteral("SKIP: setrlimit refused");
            return testsupport::writeStrip(strip.job, path);
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        QCOMPARE(report, QStringLiteral("Cannot write ") + path + QStringLiteral(": File too large"));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("strip.bmp")});
    }

    // The same limit exactly at the file's size is no failure: the check is not off by one,
    // and the file that fits is whole.
    void diskJustLargeEnough()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));
        testsupport::writeFile(path, oldContent);
        const Strip strip;
        const qint64 size = picture::bitmapFileSize(StripWidth, StripHeight);
        const QString report = testsupport::inChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit fsize{rlim_t(size), rlim_t(size)};
            if (setrlimit(RLIMIT_FSIZE, &fsize) != 0)
                return QStringLiteral("SKIP: setrlimit refused");
            return testsupport::writeStrip(strip.job, path);
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        QCOMPARE(report, QStringLiteral("OK"));
        QCOMPARE(QFileInfo(path).size(), size);
        QString why;
        const QImage back = testsupport::readWithPillow(path, &why);
        QVERIFY2(!back.isNull(), qPrintable(why));
        QCOMPARE(testsupport::firstDifference(back, content()), QString());
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("strip.bmp")});
    }

    void targetIsAFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));
        QVERIFY(QDir().mkdir(path));
        testsupport::writeFile(path + QStringLiteral("/inside"), oldContent);
        const Strip strip;
        const QString report = testsupport::writeStrip(strip.job, path);
        QVERIFY2(report.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(report));
        QVERIFY2(report.size() > QStringLiteral("Cannot write : ").size() + path.size(), qPrintable(report));
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(testsupport::readFile(path + QStringLiteral("/inside")), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("strip.bmp")});
        QCOMPARE(testsupport::entries(path), QStringList{QStringLiteral("inside")});
    }

    void missingFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gone/strip.bmp"));
        const Strip strip;
        QCOMPARE(testsupport::writeStrip(strip.job, path), QStringLiteral("Cannot write ") + path + QStringLiteral(": No such file or directory"));
        QVERIFY(testsupport::entries(dir.path()).isEmpty());
    }

    // A read-only file system: a read-only bind mount in a private mount namespace of a child,
    // which stops root too.
    void readOnlyFileSystem()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));
        testsupport::writeFile(path, oldContent);
        const Strip strip;
        const QByteArray folder = QFile::encodeName(dir.path());
        const QString report = testsupport::inChild([&] {
            if (unshare(CLONE_NEWNS) != 0)
                return QStringLiteral("SKIP: no private mount namespace here (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0
                || mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                return QStringLiteral("SKIP: cannot make a read-only bind mount (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            return testsupport::writeStrip(strip.job, path);
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        QCOMPARE(report, QStringLiteral("Cannot write ") + path + QStringLiteral(": Read-only file system"));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("strip.bmp")});
    }

    // A file that nobody, root included, may replace.
    void immutableTarget()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("strip.bmp"));
        testsupport::writeFile(path, oldContent);
        if (!testsupport::setImmutable(path, true))
            QSKIP("this file system does not support the immutable flag, or it may not be set here");
        const Strip strip;
        const QString report = testsupport::writeStrip(strip.job, path);
        testsupport::setImmutable(path, false);
        QVERIFY2(report.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(report));
        QVERIFY2(!report.contains(QLatin1String("Unknown error")), qPrintable(report));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("strip.bmp")});
    }

    // A link to the strip: the file it points to gets the new strip, the link stays a link.
    void symbolicLinkTarget()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("real")));
        const QString target = dir.filePath(QStringLiteral("real/strip.bmp"));
        const QString link = dir.filePath(QStringLiteral("strip.bmp"));
        testsupport::writeFile(target, oldContent);
        QCOMPARE(::symlink("real/strip.bmp", QFile::encodeName(link).constData()), 0);

        const Strip strip;
        QCOMPARE(testsupport::writeStrip(strip.job, link), QStringLiteral("OK"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFile::symLinkTarget(link), target);
        QString why;
        const QImage back = testsupport::readWithPillow(target, &why);
        QVERIFY2(!back.isNull(), qPrintable(why));
        QCOMPARE(testsupport::firstDifference(back, content()), QString());
        QCOMPARE(testsupport::entries(dir.path()), (QStringList{QStringLiteral("real"), QStringLiteral("strip.bmp")}));
        QCOMPARE(testsupport::entries(dir.filePath(QStringLiteral("real"))), QStringList{QStringLiteral("strip.bmp")});
    }

    // A link whose file is on a read-only file system: the link and the file both stay.
    void symbolicLinkToReadOnlyFile()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("real")));
        const QString target = dir.filePath(QStringLiteral("real/strip.bmp"));
        const QString link = dir.filePath(QStringLiteral("strip.bmp"));
        testsupport::writeFile(target, oldContent);
        QCOMPARE(::symlink("real/strip.bmp", QFile::encodeName(link).constData()), 0);
        const Strip strip;
        const QByteArray folder = QFile::encodeName(dir.filePath(QStringLiteral("real")));
        const QString report = testsupport::inChild([&] {
            if (unshare(CLONE_NEWNS) != 0)
                return QStringLiteral("SKIP: no private mount namespace here (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0
                || mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                return QStringLiteral("SKIP: cannot make a read-only bind mount (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            return testsupport::writeStrip(strip.job, link);
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        QVERIFY2(report.startsWith(QStringLiteral("Cannot write ") + link + QStringLiteral(": ")), qPrintable(report));
        QVERIFY2(report.contains(QLatin1String("Read-only file system")), qPrintable(report));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(testsupport::readFile(target), oldContent);
        QCOMPARE(testsupport::entries(dir.filePath(QStringLiteral("real"))), QStringList{QStringLiteral("strip.bmp")});
    }
};

QTEST_GUILESS_MAIN(BitmapFailuresTest)
#include "tst_bitmapfailures.moc"
