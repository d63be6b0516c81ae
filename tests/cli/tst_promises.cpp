// corvane-strip's promises at its ends: frames cut from a sheet are all written or none, whatever
// stops the run; what it prints reaches standard output or the run fails; folder inputs are read
// by their names' own bytes and a folder that cannot be read says why.
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/testsupport.h"

using testsupport::entries;
using testsupport::Run;
using testsupport::runStrip;
using testsupport::sample;
using testsupport::words;

namespace {

// A tmpfs of size bytes mounted on path, unmounted when it goes; empty when mounting is refused.
struct SmallDisk {
    QString path;
    bool mounted = false;
    SmallDisk(const QString &at, qint64 size) : path(at)
    {
        QDir().mkpath(at);
        mounted = QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                               QStringLiteral("size=%1").arg(size), QStringLiteral("tmpfs"), at}) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {path});
    }
};

// Runs corvane-strip as user nobody, to whom a folder's permissions apply.
const QStringList asNobody{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups")};

} // namespace

class TestPromises : public QObject
{
    Q_OBJECT

private slots:
    void splitAllOrNothing_data();
    void splitAllOrNothing();
    void stdoutThatFails_data();
    void stdoutThatFails();
    void folderNotUtf8_data();
    void folderNotUtf8();
    void unreadableFolder_data();
    void unreadableFolder();
};

// A split that cannot finish, because the disk is full or the run is stopped, leaves the output
// folder as it was: no frame, no folder made for one, no temporary file.
void TestPromises::splitAllOrNothing_data()
{
    QTest::addColumn<QSize>("sheet");
    QTest::addColumn<QStringList>("how");   // --cell WxH, or a JSON that puts each 8 x 8 frame in a folder
    QTest::addColumn<qint64>("disk");       // the output folder's file system, in bytes
    QTest::addColumn<int>("signal");        // sent once the first file is on disk; 0: none
    QTest::newRow("full disk, frames in folders") << QSize(128, 128) << words("--data") << qint64(96 * 1024) << 0;
    QTest::newRow("full disk, frames by number") << QSize(128, 128) << words("--cell 8x8") << qint64(64 * 1024) << 0;
    QTest::newRow("Ctrl-C") << QSize(160, 100) << words("--cell 1x1") << qint64(512) * 1024 * 1024 << int(SIGINT);
    QTest::newRow("terminated") << QSize(160, 100) << words("--cell 1x1") << qint64(512) * 1024 * 1024 << int(SIGTERM);
}

void TestPromises::splitAllOrNothing()
{
    QFETCH(QSize, sheet);
    QFETCH(QStringList, how);
    QFETCH(qint64, disk);
    QFETCH(int, signal);
    QTemporaryDir dir;
    QVERIFY(sample(sheet.width(), sheet.height(), 1).save(dir.filePath(QStringLiteral("sheet.png"))));
    QStringList args{QStringLiteral("--split"), QStringLiteral("sheet.png"), QStringLiteral("-o"), QStringLiteral("out")};
    if (how.first() == QLatin1String("--data")) {
        QByteArray json = "{\"frames\": {";
        for (int i = 0; i < sheet.width() / 8 * (sheet.height() / 8); ++i)
            json += QStringLiteral("%1\"walk%2/%3\": {\"frame\": {\"x\": %4, \"y\": %5, \"w\": 8, \"h\": 8}}")
                        .arg(i ? QStringLiteral(",") : QString()).arg(i % 4).arg(i).arg(i % 16 * 8).arg(i / 16 * 8).toUtf8();
        testsupport::writeFile(dir.filePath(QStringLiteral("sheet.json")), json + "}}");
        how.append(QStringLiteral("sheet.json"));
    }
    args += how;
    const SmallDisk out(dir.filePath(QStringLiteral("out")), disk);
    if (!out.mounted)
        QSKIP("a small file system cannot be mounted here (mounting needs root)");

    Run run;
    if (signal == 0) {
        run = runStrip(args, dir.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(QLatin1String("No space left on device")), qPrintable(run.err));
    } else {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(testsupport::stripProgram(), args);
        QVERIFY(p.waitForStarted());
        // Stopped while files are being written: frames by the thousand leave ample time.
        QVERIFY(QTest::qWaitFor([&] { return !entries(out.path).isEmpty() || p.state() == QProcess::NotRunning; }, 60000));
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitStatus() == QProcess::CrashExit, "the run was over before it could be stopped");
    }
    const QStringList left = entries(out.path);
    QVERIFY2(left.isEmpty(), qPrintable(QStringLiteral("%1 entries left, the first %2").arg(left.size()).arg(left.value(0))));
}

// What corvane-strip prints is part of its work: when standard output cannot take it, the run
// fails and says so.
void TestPromises::stdoutThatFails_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("--help") << words("--help");
    QTest::newRow("--version") << words("--version");
    QTest::newRow("--dry-run") << words("--dry-run a.png -o s.png");
    QTest::newRow("--split --dry-run") << words("--dry-run --split a.png --cell 2x2 -o out");
    QTest::newRow("--watch, its first line") << words("--watch a.png -o s.png");
}

void TestPromises::stdoutThatFails()
{
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    QVERIFY(sample(4, 4, 1).save(dir.filePath(QStringLiteral("a.png"))));
    const Run run = runStrip(args, dir.path(), {}, [](QProcess &p) { p.setStandardOutputFile(QStringLiteral("/dev/full")); });
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("corvane-strip: Cannot write to standard output: No space left on device.\n"));
}

// A folder given by a name that is not UTF-8 is read as any other folder.
void TestPromises::folderNotUtf8_data()
{
    QTest::addColumn<int>("pictures");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");
    QTest::newRow("with pictures") << 2 << 0 << QString();
    QTest::newRow("empty") << 0 << 1
        << QStringLiteral("corvane-strip: Cannot read caf\uFFFD: the folder holds no picture files.\n");
}

void TestPromises::folderNotUtf8()
{
    QFETCH(int, pictures);
    QFETCH(int, status);
    QFETCH(QString, err);
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/caf\xe9";
    QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    auto removeLater = qScopeGuard([&] { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); });
    for (int i = 0; i < pictures; ++i) {
        QVERIFY(sample(4, 3, i).save(dir.filePath(QStringLiteral("p.png"))));
        QVERIFY(::rename(QFile::encodeName(dir.filePath(QStringLiteral("p.png"))).constData(),
                         (folder + "/" + QByteArray::number(i) + ".png").constData()) == 0);
    }
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$(printf 'caf\\351')\" -o s.png"),
                                       testsupport::stripProgram()});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(p.readAllStandardError()), err);
    QCOMPARE(p.exitCode(), status);
    if (status == 0)
        QCOMPARE(testsupport::pillowFrames(dir.filePath(QStringLiteral("s.png"))).value(0).size(), QSize(8, 3));
}

// A folder that cannot be read says why, in the system's words.
void TestPromises::unreadableFolder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("err");
    const QString denied = QStringLiteral("corvane-strip: Cannot read locked: Permission denied.\n");
    QTest::newRow("no access at all") << 0000 << denied;
    QTest::newRow("names shown, entries closed") << 0444 << denied;
    QTest::newRow("entries open, names hidden") << 0111 << denied;
}

void TestPromises::unreadableFolder()
{
    QFETCH(int, mode);
    QFETCH(QString, err);
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv is not installed; a folder's permissions mean nothing to root");
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(sample(4, 4, 1).save(locked + QStringLiteral("/a.png")));
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), mode_t(mode)) == 0);
    const Run run = runStrip(words("locked -o s.png"), dir.path(), asNobody);
    if (run.status == -1 || run.err.startsWith(QLatin1String("setpriv")))
        QSKIP(qPrintable(QStringLiteral("corvane-strip cannot be run as nobody here: ") + run.err));
    QCOMPARE(run.err, err);
    QCOMPARE(run.status, 1);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("s.png"))));
}

QTEST_GUILESS_MAIN(TestPromises)
#include "tst_promises.moc"
