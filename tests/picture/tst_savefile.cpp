#include <QtTest>

#include "picture/base/savefile.h"
#include "tests/support/testsupport.h"

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using picture::SaveResult;
using picture::SaveSink;

namespace {

const QByteArray oldContent = QByteArray("the user's file, which must survive every failure\n").repeated(40);

// Everything in a folder, hidden entries included: a left-over temporary file shows up here.
// Writes bytes in pieces of the given size, as the bitmap writer does.
SaveResult save(const QString &path, const QByteArray &bytes, qsizetype piece = 4096)
{
    return picture::saveAtomically(path, [&](SaveSink &sink) {
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            if (!sink.write(bytes.constData() + at, std::min(piece, bytes.size() - at)))
                return false;
        return true;
    });
}

} // namespace

class SaveFileTest : public QObject
{
    Q_OBJECT

private slots:
    void writesEveryByte()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("new.bmp"));
        QByteArray bytes(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 131 + (i >> 9));
        const SaveResult r = save(path, bytes, 100003);
        QVERIFY2(r.ok, qPrintable(r.message));
        QCOMPARE(testsupport::readFile(path), bytes);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("new.bmp")});
    }

    // A new file gets the usual permissions a program gives (not a temporary file's 0600);
    // a replaced one keeps its own.
    void permissions()
    {
        QTemporaryDir dir;
        const QString fresh = dir.filePath(QStringLiteral("fresh.bmp"));
        const mode_t mask = umask(022);
        const SaveResult r = save(fresh, "abc");
        umask(mask);
        QVERIFY2(r.ok, qPrintable(r.message));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0644));

        const QString kept = dir.filePath(QStringLiteral("kept.bmp"));
        testsupport::writeFile(kept, oldContent);
        QCOMPARE(::chmod(QFile::encodeName(kept).constData(), 0640), 0);
        QVERIFY(save(kept, "new").ok);
        QCOMPARE(::stat(QFile::encodeName(kept).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));
        QCOMPARE(testsupport::readFile(kept), QByteArray("new"));
    }

    void targetIsAFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("walk.bmp"));
        QVERIFY(QDir().mkdir(path));
        testsupport::writeFile(path + QStringLiteral("/inside"), oldContent);
        const SaveResult r = save(path, "new");
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(r.message));
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(testsupport::readFile(path + QStringLiteral("/inside")), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("walk.bmp")});
        QCOMPARE(testsupport::entries(path), QStringList{QStringLiteral("inside")});
    }

    void missingFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gone/walk.bmp"));
        const SaveResult r = save(path, "new");
        QVERIFY(!r.ok);
        QCOMPARE(r.message, QStringLiteral("Cannot write ") + path + QStringLiteral(": No such file or directory"));
        QVERIFY(testsupport::entries(dir.path()).isEmpty());
    }

    // A disk that fills up half way: the file-size limit cuts a write short and then refuses.
    void diskFull_data()
    {
        QTest::addColumn<qsizetype>("piece");
        QTest::newRow("one large write") << qsizetype(1 << 20);
        QTest::newRow("many small writes") << qsizetype(1000);
    }
    void diskFull()
    {
        QFETCH(qsizetype, piece);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("walk.bmp"));
        testsupport::writeFile(path, oldContent);
        const QString report = testsupport::inChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{50000, 50000};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return QStringLiteral("SKIP: setrlimit refused");
            return testsupport::reportOf(save(path, QByteArray(1 << 20, 'n'), piece));
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        QCOMPARE(report, QStringLiteral("Cannot write ") + path + QStringLiteral(": File too large"));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("walk.bmp")});
    }

    // A read-only file system: a read-only bind mount of the folder, made in a private mount
    // namespace of a child process so that nothing outside the test sees it. Works as root,
    // whom file permissions would not stop.
    void readOnlyFileSystem()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("walk.bmp"));
        testsupport::writeFile(path, oldContent);
        const QByteArray folder = QFile::encodeName(dir.path());
        const QString report = testsupport::inChild([&] {
            if (unshare(CLONE_NEWNS) != 0)
                return QStringLiteral("SKIP: no private mount namespace here (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0
                || mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                return QStringLiteral("SKIP: cannot make a read-only bind mount (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            return testsupport::reportOf(save(path, "new"));
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        QVERIFY2(report.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(report));
        QVERIFY2(report.contains(QLatin1String("Read-only file system")), qPrintable(report));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("walk.bmp")});
    }

    // The last step fails: the temporary file is complete but cannot be renamed over the
    // target (a file with another file mounted on it, in a child's private mount namespace).
    void finalRenameFails()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("walk.bmp"));
        const QString other = dir.filePath(QStringLiteral("other"));
        testsupport::writeFile(path, oldContent);
        testsupport::writeFile(other, "mounted");
        const QString report = testsupport::inChild([&] {
            if (unshare(CLONE_NEWNS) != 0)
                return QStringLiteral("SKIP: no private mount namespace here (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || mount(QFile::encodeName(other).constData(), QFile::encodeName(path).constData(), nullptr, MS_BIND,
                         nullptr) != 0)
                return QStringLiteral("SKIP: cannot mount a file on a file (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            return testsupport::reportOf(save(path, QByteArray(200000, 'n')));
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        QVERIFY2(report.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(report));
        QVERIFY2(!report.contains(QLatin1String("Unknown error")), qPrintable(report));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), (QStringList{QStringLiteral("other"), QStringLiteral("walk.bmp")}));
    }

    // A file nobody may replace, root included. Nothing may be left of the attempt.
    void immutableTarget()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("walk.bmp"));
        testsupport::writeFile(path, oldContent);
        if (!testsupport::setImmutable(path, true))
            QSKIP("this file system does not support the immutable flag, or it may not be set here");
        const SaveResult r = save(path, QByteArray(200000, 'n'));
        testsupport::setImmutable(path, false);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(r.message));
        QVERIFY2(!r.message.contains(QLatin1String("Unknown error")), qPrintable(r.message));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("walk.bmp")});
    }

    // A folder nobody may add to: not even the temporary file can be made.
    void immutableFolder()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("art"));
        QVERIFY(QDir().mkdir(folder));
        const QString path = folder + QStringLiteral("/walk.bmp");
        testsupport::writeFile(path, oldContent);
        if (!testsupport::setImmutable(folder, true))
            QSKIP("this file system does not support the immutable flag, or it may not be set here");
        const SaveResult r = save(path, "new");
        testsupport::setImmutable(folder, false);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(r.message));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(folder), QStringList{QStringLiteral("walk.bmp")});
    }

    // Without root, ordinary permissions are what makes a folder read-only.
    void readOnlyFolderForUsers()
    {
        if (geteuid() == 0)
            QSKIP("running as root, whom folder permissions do not stop (see the mount and immutable cases)");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("walk.bmp"));
        testsupport::writeFile(path, oldContent);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
        const SaveResult r = save(path, "new");
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.contains(QLatin1String("Permission denied")), qPrintable(r.message));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("walk.bmp")});
    }

    void symbolicLinkIsFollowed_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::newRow("absolute link") << false;
        QTest::newRow("relative link") << true;
    }
    void symbolicLinkIsFollowed()
    {
        QFETCH(bool, relative);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("real")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("links")));
        const QString target = dir.filePath(QStringLiteral("real/walk.bmp"));
        const QString link = dir.filePath(QStringLiteral("links/walk.bmp"));
        testsupport::writeFile(target, oldContent);
        const QByteArray pointsTo = relative ? QByteArray("../real/walk.bmp") : QFile::encodeName(target);
        QCOMPARE(::symlink(pointsTo.constData(), QFile::encodeName(link).constData()), 0);

        const SaveResult r = save(link, "new content");
        QVERIFY2(r.ok, qPrintable(r.message));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFile::symLinkTarget(link), target);
        QCOMPARE(testsupport::readFile(target), QByteArray("new content"));
        QCOMPARE(testsupport::entries(dir.filePath(QStringLiteral("real"))), QStringList{QStringLiteral("walk.bmp")});
        QCOMPARE(testsupport::entries(dir.filePath(QStringLiteral("links"))), QStringList{QStringLiteral("walk.bmp")});
    }

    // Three files replaced together: when one fails, whether while it is written or when it is
    // put in place (a file mounted on it, in a child's private mount namespace), every target
    // keeps its old bytes, a target that did not exist is not made, and nothing is left over.
    void stagedTogether_data()
    {
        QTest::addColumn<int>("failing");     // which of a.png, a.json, a.TXT fails; -1 none
        QTest::addColumn<bool>("atCommit");   // fails when put in place rather than when written
        QTest::newRow("all replaced") << -1 << false;
        QTest::newRow("second cannot be written") << 1 << false;
        // Put in place from the last staged to the first.
        QTest::newRow("first cannot be put in place") << 0 << true;
        QTest::newRow("second cannot be put in place") << 1 << true;
    }
    void stagedTogether()
    {
        QFETCH(int, failing);
        QFETCH(bool, atCommit);
        QTemporaryDir dir;
        const QStringList names{QStringLiteral("a.png"), QStringLiteral("a.json"), QStringLiteral("a.TXT")};
        testsupport::writeFile(dir.filePath(names[0]), oldContent);
        testsupport::writeFile(dir.filePath(names[2]), oldContent + "txt"); // a.json does not exist yet
        testsupport::writeFile(dir.filePath(QStringLiteral("other")), "mounted");
        const QString report = testsupport::inChild([&] {
            if (atCommit) {
                testsupport::writeFile(dir.filePath(names[failing]), oldContent);
                if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                    || mount(QFile::encodeName(dir.filePath(QStringLiteral("other"))).constData(),
                             QFile::encodeName(dir.filePath(names[failing])).constData(), nullptr, MS_BIND, nullptr) != 0)
                    return QStringLiteral("SKIP: cannot mount a file on a file (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
            }
            picture::StagedSave save;
            for (int i = 0; i < names.size(); ++i) {
                const SaveResult r = save.stage(dir.filePath(names[i]), [&](SaveSink &sink) {
                    return i != failing || atCommit ? sink.write("new", 3) : false;
                });
                if (!r.ok)
                    return r.message;
            }
            return testsupport::reportOf(save.commit());
        });
        if (report.startsWith(QLatin1String("SKIP:")))
            QSKIP(qPrintable(report));
        if (failing < 0) {
            QCOMPARE(report, QStringLiteral("OK"));
            for (const QString &name : names)
                QCOMPARE(testsupport::readFile(dir.filePath(name)), QByteArray("new"));
            QCOMPARE(testsupport::entries(dir.path()).size(), 4);
            return;
        }
        QVERIFY2(report.startsWith(QStringLiteral("Cannot write ") + dir.filePath(names[failing]) + QStringLiteral(": ")), qPrintable(report));
        QCOMPARE(testsupport::readFile(dir.filePath(names[0])), oldContent);
        QCOMPARE(testsupport::readFile(dir.filePath(names[2])), oldContent + "txt");
        QStringList left = testsupport::entries(dir.path());
        QStringList want{QStringLiteral("a.TXT"), QStringLiteral("a.png"), QStringLiteral("other")};
        if (atCommit && failing == 1)
            want.insert(1, QStringLiteral("a.json")); // the file the mount stood on
        QCOMPARE(left, want);
        if (atCommit && failing == 1)
            QCOMPARE(testsupport::readFile(dir.filePath(names[1])), oldContent);
    }

    // Names as long as the file system takes, new and replaced, alone and staged together (the
    // earlier ones kept aside while the later are put in place): temporary names are short.
    void longestNames_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("replacing");
        QTest::newRow("one new") << 1 << false;
        QTest::newRow("one replaced") << 1 << true;
        QTest::newRow("three replaced together") << 3 << true;
    }
    void longestNames()
    {
        QFETCH(int, files);
        QFETCH(bool, replacing);
        QTemporaryDir dir;
        QStringList names;
        for (int i = 0; i < files; ++i) {
            names.append(QString(251, QChar(u'a' + i)) + QStringLiteral(".png"));
            if (replacing)
                testsupport::writeFile(dir.filePath(names[i]), oldContent);
        }
        picture::StagedSave save;
        for (const QString &name : std::as_const(names)) {
            const SaveResult r = save.stage(dir.filePath(name), [&](SaveSink &sink) { return sink.write("new", 3); });
            QVERIFY2(r.ok, qPrintable(r.message));
        }
        const SaveResult r = save.commit();
        QVERIFY2(r.ok, qPrintable(r.message));
        QCOMPARE(testsupport::entries(dir.path()), names);
        for (const QString &name : std::as_const(names))
            QCOMPARE(testsupport::readFile(dir.filePath(name)), QByteArray("new"));
    }

    void producerGivesUp()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("walk.bmp"));
        testsupport::writeFile(path, oldContent);
        const SaveResult r = picture::saveAtomically(path, [](SaveSink &sink) {
            sink.write("partial", 7);
            return false;
        });
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("Cannot write ") + path + QStringLiteral(": ")), qPrintable(r.message));
        QCOMPARE(testsupport::readFile(path), oldContent);
        QCOMPARE(testsupport::entries(dir.path()), QStringList{QStringLiteral("walk.bmp")});
    }
};

QTEST_GUILESS_MAIN(SaveFileTest)
#include "tst_savefile.moc"
