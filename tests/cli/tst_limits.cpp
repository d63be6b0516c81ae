// corvane-strip under a cap on its address space (prlimit on a child run): a sound picture that
// cannot be had for want of memory is refused as that, naming the file, never as damaged; and
// nothing is left on disk.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "tests/support/testsupport.h"

using testsupport::Run;

namespace {

// A 24-bit bitmap of w x h black pixels, its rows left as a hole in the file so that it costs
// no disk space.
void writeBlackBitmap(const QString &path, int w, int h)
{
    const qint64 row = (qint64(w) * 3 + 3) / 4 * 4, size = 54 + row * h;
    QByteArray head(54, '\0');
    head[0] = 'B';
    head[1] = 'M';
    qToLittleEndian<quint32>(quint32(size), head.data() + 2);
    qToLittleEndian<quint32>(54, head.data() + 10);
    qToLittleEndian<quint32>(40, head.data() + 14);
    qToLittleEndian<qint32>(w, head.data() + 18);
    qToLittleEndian<qint32>(h, head.data() + 22);
    qToLittleEndian<quint16>(1, head.data() + 26);
    qToLittleEndian<quint16>(24, head.data() + 28);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.write(head) == head.size());
    QVERIFY(f.resize(size));
}

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void memoryIsNotDamage_data();
    void memoryIsNotDamage();
    void zopfliCounted_data();
    void zopfliCounted();
    void zopfliUnderACap_data();
    void zopfliUnderACap();

private:
    QString m_prlimit;
};

void TestLimits::initTestCase()
{
    m_prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
#if defined(__SANITIZE_ADDRESS__)
    m_prlimit.clear(); // the sanitizer's shadow memory takes more address space than any cap allows
#endif
}

void TestLimits::memoryIsNotDamage_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("output");
    QTest::newRow("16384 x 16384 enlarged twice, 2 GB") << 16384 << testsupport::words("--scale 2") << QStringLiteral("s.png");
    QTest::newRow("16384 x 16384 enlarged twice into a bitmap, 2 GB") << 16384 << testsupport::words("--scale 2")
                                                                         << QStringLiteral("s.bmp");
}

// The picture is sound and within the budget; enlarging it takes more than the 2 GB the run may
// map. The message names the file and says memory; the run fails and writes nothing.
void TestLimits::memoryIsNotDamage()
{
    QFETCH(int, side);
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    if (m_prlimit.isEmpty())
        QSKIP("prlimit is missing, or the sanitizer's shadow memory rules out a cap");
    QTemporaryDir dir;
    writeBlackBitmap(dir.filePath(QStringLiteral("big.bmp")), side, side);
    const QStringList before = testsupport::entries(dir.path());
    const Run run = testsupport::runStrip(args + QStringList{QStringLiteral("big.bmp"), QStringLiteral("-o"), output}, dir.path(),
                                          {m_prlimit, QStringLiteral("--as=2000000000")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QStringLiteral("Cannot load big.bmp: there is not enough memory to decode it.")), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QLatin1String("damaged")), qPrintable(run.err));
    QCOMPARE(testsupport::entries(dir.path()), before);
}

void TestLimits::zopfliCounted_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<QString>("cores"); // taskset's list, or empty for every core
    QTest::newRow("256 x 256 of noise") << 256 << QString();
    QTest::newRow("1024 x 1024 of noise") << 1024 << QString();
    QTest::newRow("1024 x 1024 of noise, one core") << 1024 << QStringLiteral("0");
}

// The dry run's estimate for --compress max is an upper bound of the run's peak resident
// memory, Zopfli's working memory included: noise, where every byte is a symbol, is its worst.
void TestLimits::zopfliCounted()
{
    QFETCH(int, side);
    QFETCH(QString, cores);
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory and quarantine are no part of the run's own peak");
#endif
    const QString taskset = QStandardPaths::findExecutable(QStringLiteral("taskset"));
    if (!cores.isEmpty() && taskset.isEmpty())
        QSKIP("taskset is missing");
    QTemporaryDir dir;
    QImage noise = testsupport::sample(side, side, 7, testsupport::Alpha::Partial);
    QVERIFY(noise.save(dir.filePath(QStringLiteral("noise.png"))));
    const QStringList prefix = cores.isEmpty() ? QStringList() : QStringList{taskset, QStringLiteral("-c"), cores};
    const QStringList args = testsupport::words("--compress max noise.png -o s.png");
    const Run dry = testsupport::runStrip(QStringList{QStringLiteral("--dry-run")} + args, dir.path(), prefix);
    QCOMPARE(dry.status, 0);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("estimated memory: (\\d+) MiB")).match(dry.out);
    QVERIFY2(m.hasMatch(), qPrintable(dry.out));
    const qint64 estimate = m.captured(1).toLongLong() << 20;
    const QString time = QStandardPaths::findExecutable(QStringLiteral("time"), {QStringLiteral("/usr/bin")});
    if (time.isEmpty())
        QSKIP("/usr/bin/time is missing");
    const Run run = testsupport::runStrip(args, dir.path(), prefix + QStringList{time, QStringLiteral("-f"), QStringLiteral("peak %M")});
    QCOMPARE(run.status, 0);
    const QRegularExpressionMatch peak = QRegularExpression(QStringLiteral("peak (\\d+)")).match(run.err);
    QVERIFY2(peak.hasMatch(), qPrintable(run.err));
    const qint64 measured = peak.captured(1).toLongLong() << 10;
    QVERIFY2(measured <= estimate, qPrintable(QStringLiteral("peak %1 MiB, estimate %2 MiB").arg(measured >> 20).arg(estimate >> 20)));
}

void TestLimits::zopfliUnderACap_data()
{
    QTest::addColumn<QString>("cap");
    for (const char *cap : {"--as=100000000", "--as=150000000", "--as=250000000", "--as=400000000"})
        QTest::newRow(cap) << QString::fromLatin1(cap);
}

// Zopfli ends the process when an allocation fails. Under caps around what it needs, every run
// either writes the sheet or fails as any run short of memory does: the message names the file,
// the status is 1, the older sheet keeps its bytes and nothing is left beside it.
void TestLimits::zopfliUnderACap()
{
    QFETCH(QString, cap);
    if (m_prlimit.isEmpty())
        QSKIP("prlimit is missing, or the sanitizer's shadow memory rules out a cap");
    QTemporaryDir dir;
    QVERIFY(testsupport::sample(256, 256, 7, testsupport::Alpha::Partial).save(dir.filePath(QStringLiteral("noise.png"))));
    testsupport::writeFile(dir.filePath(QStringLiteral("s.png")), "old sheet");
    const QStringList before = testsupport::entries(dir.path());
    const Run run = testsupport::runStrip(testsupport::words("--compress max noise.png -o s.png"), dir.path(), {m_prlimit, cap});
    if (run.status == 0) {
        QCOMPARE(testsupport::pillowFrames(dir.filePath(QStringLiteral("s.png"))).value(0).size(), QSize(256, 256));
    } else {
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, QStringLiteral("corvane-strip: Cannot write s.png: there is not enough memory to encode it\n"));
        QCOMPARE(testsupport::readFile(dir.filePath(QStringLiteral("s.png"))), QByteArray("old sheet"));
    }
    QCOMPARE(testsupport::entries(dir.path()), before);
}

QTEST_GUILESS_MAIN(TestLimits)
#include "tst_limits.moc"
