// corvane-strip --watch run as a child on a folder of frames: each change to the inputs gives one
// run and one line, a broken frame is told and watched on, its own outputs start no run, and
// Ctrl-C or a termination between runs is the watch's normal end.
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <cstdio>

#include <unistd.h>

#include "tests/support/testsupport.h"

using testsupport::readWithPillow;
using testsupport::words;

namespace {

// Generous, for sanitized builds on a busy machine; the tests never wait for time to pass.
constexpr int lineWait = 20000;

// A watch running as a child, read a line at a time from either channel.
class Watching
{
public:
    Watching(const QStringList &args, const QString &dir)
    {
        m_p.setWorkingDirectory(dir);
        m_p.start(testsupport::stripProgram(), args);
    }
    ~Watching()
    {
        if (m_p.state() != QProcess::NotRunning) {
            m_p.kill();
            m_p.waitForFinished(lineWait);
        }
    }

    // "out: ..." or "err: ..." for the next whole line, "" when none came in time.
    QString nextLine()
    {
        const QDeadlineTimer deadline(lineWait);
        for (;;) {
            m_out += m_p.readAllStandardOutput();
            m_err += m_p.readAllStandardError();
            for (auto [buffer, name] : {std::pair{&m_out, "out: "}, std::pair{&m_err, "err: "}}) {
                if (const qsizetype nl = buffer->indexOf('\n'); nl >= 0) {
                    const QString line = QLatin1String(name) + QString::fromUtf8(buffer->left(nl));
                    buffer->remove(0, nl + 1);
                    return line;
                }
            }
            if (m_p.state() == QProcess::NotRunning || deadline.hasExpired())
                return {};
            QEventLoop loop;
            QObject::connect(&m_p, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
            QObject::connect(&m_p, &QProcess::readyReadStandardError, &loop, &QEventLoop::quit);
            QObject::connect(&m_p, &QProcess::finished, &loop, &QEventLoop::quit);
            QTimer::singleShot(int(deadline.remainingTime()), &loop, &QEventLoop::quit);
            loop.exec();
        }
    }

    // Stops the child and returns once it is stopped, so that what follows reaches it as one.
    bool pause()
    {
        const pid_t pid = pid_t(m_p.processId());
        if (::kill(pid, SIGSTOP) != 0)
            return false;
        return QTest::qWaitFor([&] { return state(pid) == 'T'; }, lineWait);
    }
    bool resume() { return ::kill(pid_t(m_p.processId()), SIGCONT) == 0; }

    // Waits until the child waits for nothing but a new event: its main thread asleep in poll()
    // with no timeout, so that no quiet period is counting and no run is under way, and every
    // run that what came before it could start has printed its line.
    bool settle()
    {
        const pid_t pid = pid_t(m_p.processId());
        return QTest::qWaitFor([&] { return state(pid) == 'S' && asleepForGood(pid); }, lineWait);
    }

    // Signals the child and waits for its end: its exit status, -1 when it died; what it printed
    // after the lines read.
    int stop(int signal, QString *rest)
    {
        ::kill(pid_t(m_p.processId()), signal);
        if (!m_p.waitForFinished(lineWait))
            return -2;
        *rest = QString::fromUtf8(m_out + m_p.readAllStandardOutput() + m_err + m_p.readAllStandardError());
        return m_p.exitStatus() == QProcess::NormalExit ? m_p.exitCode() : -1;
    }

private:
    static char state(pid_t pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        return close >= 0 && close + 2 < text.size() ? text[close + 2] : char(0);
    }

public:
    // Whether /proc tells what the child waits for.
    bool canTellWaits() const
    {
#if defined(__x86_64__)
        return QFile(QStringLiteral("/proc/%1/syscall").arg(m_p.processId())).open(QIODevice::ReadOnly);
#else
        return false;
#endif
    }

private:
    // poll(fds, n, -1) as glib's loop calls it, or ppoll(fds, n, NULL, ...) as Qt's own does.
    static bool asleepForGood(pid_t pid)
    {
#if defined(__x86_64__)
        QFile file(QStringLiteral("/proc/%1/syscall").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QList<QByteArray> call = file.readAll().split(' ');
        if (call.size() < 4)
            return false;
        return (call[0] == "7" && (call[3] == "0xffffffff" || call[3] == "0xffffffffffffffff"))
            || (call[0] == "271" && call[3] == "0x0");
#else
        Q_UNUSED(pid);
        return false;
#endif
    }

    QProcess m_p;
    QByteArray m_out, m_err;
};

QImage frameOf(const QString &colour)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(QColor(u'#' + colour));
    return image;
}

QStringList steps(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *step : list)
        out.append(QString::fromUtf8(step));
    return out;
}

QString framePath(const QString &dir, const QString &n)
{
    return dir + QStringLiteral("/frames/frame%1.png").arg(n);
}

} // namespace

class TestWatch : public QObject
{
    Q_OBJECT

private slots:
    void changes_data();
    void changes();
    void sheetGivenAsInput();
    void refused_data();
    void refused();
};

// Each row is a script, its steps done in order on frames/frame1.png to frame3.png (red, green,
// blue, 8 x 8) once the first run's line came:
//   paint N RRGGBB    frame N written over in place with a colour (a new frame when missing)
//   rename N RRGGBB   a new frame N written beside it and renamed over it, as editors save
//   break N           frame N written over with bytes that are no picture
//   remove N          frame N deleted
//   pause / resume    the child stopped and let go on, so that what lies between reaches it
//                     as one burst, every event queued before it sees any
//   settle            the child has done all that what came before may start: a line that
//                     nothing asked for would have come
//   expect out|err T  the next line, on that channel: out whole, err containing T; SHEET and
//                     JSON stand for the outputs' paths
//   cell N RRGGBB     the sheet's cell N (from 1), as Pillow reads it, has that colour
//   unchanged         the sheet and its JSON are the bytes of the last good run
// Every script ends with a frame added and its line, which must be the very next one: a run
// that nothing asked for would come before it.
void TestWatch::changes_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("signal"); // what ends the watch once the script is done
    const QString out = QStringLiteral("out/sheet.png");
    QTest::newRow("pixels changed") << out << steps({
        "paint 2 ffff00", "expect out wrote SHEET (3 frames)", "cell 2 ffff00", "cell 1 ff0000",
        "settle", "paint 9 123456", "expect out wrote SHEET, JSON (4 frames)"}) << int(SIGINT);
    QTest::newRow("frame added") << out << steps({
        "paint 4 00ffff", "expect out wrote SHEET, JSON (4 frames)", "cell 4 00ffff",
        "settle", "paint 9 123456", "expect out wrote SHEET, JSON (5 frames)", "cell 5 123456"}) << int(SIGINT);
    QTest::newRow("frame removed") << out << steps({
        "remove 1", "expect out wrote SHEET, JSON (2 frames)", "cell 1 00ff00", "cell 2 0000ff",
        "settle", "paint 9 123456", "expect out wrote SHEET, JSON (3 frames)"}) << int(SIGTERM);
    QTest::newRow("broken, then mended") << out << steps({
        "break 2", "expect err frames/frame2.png", "unchanged", "settle",
        "paint 2 ff00ff", "expect out wrote SHEET (3 frames)", "cell 2 ff00ff",
        "settle", "paint 9 123456", "expect out wrote SHEET, JSON (4 frames)"}) << int(SIGINT);
    // The second save, in place, reaches the file that the first renamed there.
    QTest::newRow("saved by rename") << out << steps({
        "rename 2 ff00ff", "expect out wrote SHEET (3 frames)", "cell 2 ff00ff",
        "paint 2 808080", "expect out wrote SHEET (3 frames)", "cell 2 808080",
        "pause", "rename 3 404040", "rename 3 c0c0c0", "resume", "expect out wrote SHEET (3 frames)", "cell 3 c0c0c0",
        "settle", "paint 9 123456", "expect out wrote SHEET, JSON (4 frames)"}) << int(SIGINT);
    QTest::newRow("a burst of saves is one run") << out << steps({
        "pause", "paint 2 ff00ff", "paint 4 ffffff", "rename 2 00ffff", "remove 1", "paint 2 808080", "resume",
        "expect out wrote SHEET, JSON (3 frames)", "cell 1 808080", "cell 3 ffffff",
        "settle", "paint 9 123456", "expect out wrote SHEET, JSON (4 frames)"}) << int(SIGINT);
    // The sheet, its JSON and their temporary files land in the folder watched.
    QTest::newRow("outputs inside the folder watched") << QStringLiteral("frames/sheet.png") << steps({
        "settle", "paint 4 00ffff", "expect out wrote SHEET, JSON (4 frames)", "cell 4 00ffff",
        "settle", "paint 1 ffffff", "expect out wrote SHEET (4 frames)", "cell 1 ffffff",
        "settle", "paint 9 123456", "expect out wrote SHEET, JSON (5 frames)"}) << int(SIGTERM);
}

void TestWatch::changes()
{
    QFETCH(QString, output);
    QFETCH(QStringList, script);
    QFETCH(int, signal);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("frames")) && QDir(dir.path()).mkpath(QStringLiteral("out")));
    const QStringList colours{QStringLiteral("ff0000"), QStringLiteral("00ff00"), QStringLiteral("0000ff")};
    for (int i = 0; i < colours.size(); ++i)
        QVERIFY(frameOf(colours[i]).save(framePath(dir.path(), QString::number(i + 1))));
    const QString sheet = dir.filePath(output);
    const QString json = sheet.chopped(4) + QStringLiteral(".json");
    const QString jsonGiven = output.chopped(4) + QStringLiteral(".json");

    Watching watch(QStringList{QStringLiteral("--watch"), QStringLiteral("frames"), QStringLiteral("-o"), output,
                               QStringLiteral("--json")}, dir.path());
    QCOMPARE(watch.nextLine(), QStringLiteral("out: wrote %1, %2 (3 frames)").arg(output, jsonGiven));
    if (!watch.canTellWaits())
        QSKIP("/proc/PID/syscall cannot say when the child waits for nothing (not x86-64 Linux?)");
    QByteArray goodSheet = testsupport::readFile(sheet), goodJson = testsupport::readFile(json);

    for (const QString &step : std::as_const(script)) {
        const QStringList w = step.split(u' ');
        const QString what = w[0];
        if (what == QLatin1String("paint")) {
            QVERIFY(frameOf(w[2]).save(framePath(dir.path(), w[1])));
        } else if (what == QLatin1String("rename")) {
            const QString aside = dir.filePath(QStringLiteral("frames/.saving.png"));
            QVERIFY(frameOf(w[2]).save(aside));
            QVERIFY(::rename(QFile::encodeName(aside).constData(), QFile::encodeName(framePath(dir.path(), w[1])).constData()) == 0);
        } else if (what == QLatin1String("break")) {
            testsupport::writeFile(framePath(dir.path(), w[1]), "no picture at all");
        } else if (what == QLatin1String("remove")) {
            QVERIFY(QFile::remove(framePath(dir.path(), w[1])));
        } else if (what == QLatin1String("pause")) {
            QVERIFY(watch.pause());
        } else if (what == QLatin1String("resume")) {
            QVERIFY(watch.resume());
        } else if (what == QLatin1String("settle")) {
            QVERIFY2(watch.settle(), "the watch never came to rest: it runs again and again");
        } else if (what == QLatin1String("expect")) {
            const QString line = watch.nextLine();
            const QString text = QStringList(w.mid(2)).join(u' ').replace(QLatin1String("SHEET"), output)
                                     .replace(QLatin1String("JSON"), jsonGiven);
            if (w[1] == QLatin1String("out")) {
                QCOMPARE(line, QStringLiteral("out: ") + text);
                goodSheet = testsupport::readFile(sheet);
                goodJson = testsupport::readFile(json);
            } else {
                QVERIFY2(line.startsWith(QLatin1String("err: corvane-strip: ")) && line.contains(text), qPrintable(line));
            }
        } else if (what == QLatin1String("cell")) {
            QString why;
            const QImage read = readWithPillow(sheet, &why);
            QVERIFY2(!read.isNull(), qPrintable(why));
            const int n = w[1].toInt() - 1;
            QCOMPARE(QColor(read.pixel(n * 8 + 4, 4)).name(), u'#' + w[2]);
        } else if (what == QLatin1String("unchanged")) {
            QVERIFY(testsupport::readFile(sheet) == goodSheet);
            QVERIFY(testsupport::readFile(json) == goodJson);
        } else {
            QFAIL(qPrintable(QStringLiteral("no such step: ") + step));
        }
    }

    // Ended between runs: its normal end, every line told, the outputs whole.
    QVERIFY2(watch.settle(), "the watch never came to rest: it runs again and again");
    QString rest;
    QCOMPARE(watch.stop(signal, &rest), 0);
    QCOMPARE(rest, QString());
    const QStringList frames = QDir(dir.filePath(QStringLiteral("frames"))).entryList({QStringLiteral("frame*.png")});
    QString why;
    const QImage read = readWithPillow(sheet, &why);
    QVERIFY2(!read.isNull(), qPrintable(why));
    QCOMPARE(read.size(), QSize(8 * int(frames.size()), 8));
    const QJsonObject described = QJsonDocument::fromJson(testsupport::readFile(json)).object();
    QCOMPARE(described.value(QLatin1String("frames")).toObject().size(), frames.size());
    for (const QString &folder : {QStringLiteral("frames"), QStringLiteral("out")})
        for (const QString &name : QDir(dir.filePath(folder)).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(!name.startsWith(u'.'), qPrintable(QStringLiteral("left behind: ") + name));
}

// A shell's *.png gives the last run's sheet as a frame: writing it starts no run of its own.
void TestWatch::sheetGivenAsInput()
{
    QTemporaryDir dir;
    for (const char *name : {"a.png", "b.png", "sheet.png"})
        QVERIFY(frameOf(QStringLiteral("ff0000")).save(dir.filePath(QString::fromLatin1(name))));
    Watching watch(words("--watch --quiet a.png b.png sheet.png -o sheet.png"), dir.path());
    QCOMPARE(watch.nextLine(), QStringLiteral("out: wrote sheet.png (3 frames)"));
    if (!watch.canTellWaits())
        QSKIP("/proc/PID/syscall cannot say when the child waits for nothing (not x86-64 Linux?)");
    QVERIFY2(watch.settle(), "the watch never came to rest: it runs again and again");
    QVERIFY(frameOf(QStringLiteral("00ff00")).save(dir.filePath(QStringLiteral("b.png"))));
    QCOMPARE(watch.nextLine(), QStringLiteral("out: wrote sheet.png (3 frames)"));
    QVERIFY2(watch.settle(), "the watch never came to rest: it runs again and again");
    QString rest;
    QCOMPARE(watch.stop(SIGINT, &rest), 0);
    QCOMPARE(rest, QString());
}

// What a watch cannot be asked for, refused before anything is read.
void TestWatch::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err");
    QTest::newRow("with --dry-run") << words("--watch --dry-run a.png -o s.png") << QStringLiteral("--dry-run");
    QTest::newRow("with --split") << words("--watch --split a.png --cell 2x2 -o out") << QStringLiteral("--watch has no meaning with --split");
}

void TestWatch::refused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, err);
    QTemporaryDir dir;
    QVERIFY(frameOf(QStringLiteral("ff0000")).save(dir.filePath(QStringLiteral("a.png"))));
    const testsupport::Run run = testsupport::runStrip(args, dir.path());
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.startsWith(QLatin1String("corvane-strip: --watch")) && run.err.contains(err), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.png")});
}

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
