// corvane-strip against what a hostile or careless world hands it: names from data files and
// folders that try to lead out of the output folder, names Qt would misread, names no format can
// hold as they are, and data files that never end. Names are made as bytes, links and a second
// folder in a temporary tree.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/testsupport.h"

using testsupport::entries;
using testsupport::readFile;
using testsupport::Run;
using testsupport::runStrip;
using testsupport::sample;
using testsupport::writeFile;

namespace {

// A file named by raw bytes in dir (QTemporaryDir cannot spell what is not UTF-8).
void writeBytesName(const QString &dir, const QByteArray &name, const QByteArray &content)
{
    const QByteArray path = QFile::encodeName(dir) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);
}

QByteArray pngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// What a Python script prints, run by Debian's interpreter (which has Pillow); a null string
// when there is none.
QString python(const QString &script, const QStringList &args, const QString &dir)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        return {};
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void splitStaysInItsFolder_data();
    void splitStaysInItsFolder();
    void pathsQtWouldMisread_data();
    void pathsQtWouldMisread();
    void everyFormatHoldsEveryName();
    void splitDataRefused_data();
    void splitDataRefused();
};

// Frames named by a JSON, cut into out/ beside a folder "elsewhere" that must stay untouched:
// a link on the way or where a frame goes is refused and nothing is written; names that merely
// look odd are written where they say, inside out/.
void TestHostile::splitStaysInItsFolder_data()
{
    QTest::addColumn<QString>("frame");   // the JSON's name for the one frame, as JSON text
    QTest::addColumn<QString>("written"); // where it lands under out/; empty: refused
    QTest::addColumn<QString>("message"); // part of the refusal
    QTest::newRow("a linked folder on the way") << "sub/evil" << QString() << "out/sub is a symbolic link, and nothing is written through a link.";
    QTest::newRow("a link where the frame goes") << "v" << QString() << "out/v.png is a symbolic link";
    QTest::newRow("a dangling link where it goes") << "gone" << QString() << "out/gone.png is a symbolic link";
    QTest::newRow("a link deeper down") << "real/up/evil" << QString() << "out/real/up is a symbolic link";
    QTest::newRow("a leading colon") << ":evil" << ":evil.png" << QString();
    QTest::newRow("a leading colon on a folder") << ":d/evil" << ":d/evil.png" << QString();
    // QString::fromUtf8() drops a leading byte-order mark, so it is put in by hand.
    const QString bom(QChar(0xfeff));
    QTest::newRow("a byte-order mark first") << "\\ufeffbom" << bom + QStringLiteral("bom.png") << QString();
    QTest::newRow("the longest name a file may have") << QString(251, u'n') << QString(251, u'n') + QStringLiteral(".png") << QString();
    QTest::newRow("a NUL") << "a\\u0000b" << QString() << "the frame name 'a\\x00b' is empty, absolute, or holds '..' or a NUL";
    // Shown by its ends, not as a message of megabytes.
    QTest::newRow("five megabytes of name") << QString(5'000'000, u'x') + QStringLiteral("/../up") << QString()
                                            << QString(48, u'x') + QStringLiteral(" ... ") + QString(42, u'x') + QStringLiteral("/../up'");
}

void TestHostile::splitStaysInItsFolder()
{
    QFETCH(QString, frame);
    QFETCH(QString, written);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(sample(8, 6, 1).save(dir.filePath(QStringLiteral("s.png"))));
    writeFile(dir.filePath(QStringLiteral("s.json")),
              "{\"frames\": {\"" + frame.toUtf8() + "\": {\"frame\": {\"x\": 0, \"y\": 0, \"w\": 4, \"h\": 6}}}}");
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("elsewhere")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("out/real")));
    writeFile(dir.filePath(QStringLiteral("elsewhere/victim.png")), "the user's file");
    for (const auto &[link, target] : {std::pair{"out/sub", "../elsewhere"}, {"out/v.png", "../elsewhere/victim.png"},
                                       {"out/gone.png", "../elsewhere/gone.png"}, {"out/real/up", "../../elsewhere"}})
        QCOMPARE(::symlink(target, QFile::encodeName(dir.filePath(QLatin1String(link))).constData()), 0);
    const QStringList before = entries(dir.path()), outBefore = entries(dir.filePath(QStringLiteral("out")));
    for (const bool dryRun : {true, false}) {
        QStringList args{QStringLiteral("--split"), QStringLiteral("s.png"), QStringLiteral("--data"), QStringLiteral("s.json"),
                         QStringLiteral("-o"), QStringLiteral("out")};
        if (dryRun)
            args.append(QStringLiteral("--dry-run"));
        const Run run = runStrip(args, dir.path());
        QCOMPARE(run.status, written.isEmpty() ? 1 : 0);
        QVERIFY2(run.err.contains(message) && run.err.size() < 600, qPrintable(run.err.left(600)));
    }
    QCOMPARE(entries(dir.filePath(QStringLiteral("elsewhere"))), QStringList{QStringLiteral("victim.png")});
    QCOMPARE(readFile(dir.filePath(QStringLiteral("elsewhere/victim.png"))), QByteArray("the user's file"));
    QCOMPARE(entries(dir.path()), before);
    if (written.isEmpty()) {
        QCOMPARE(entries(dir.filePath(QStringLiteral("out"))), outBefore);
        return;
    }
    QCOMPARE(testsupport::pillowFrames(dir.filePath(QStringLiteral("out/") + written)).value(0).size(), QSize(4, 6));
}

// Input and output names that Qt's file classes would read as one of its resources (a leading
// ':') or lose a character of (a leading byte-order mark), given on the command line (found in a
// folder: tst_listing).
void TestHostile::pathsQtWouldMisread_data()
{
    QTest::addColumn<QString>("file");   // the picture, made before the run
    QTest::addColumn<QString>("input");  // as given
    QTest::addColumn<QString>("output"); // as given
    QTest::newRow("a colon, given") << ":lead.png" << ":lead.png" << "s.png";
    QTest::newRow("a colon on the folder") << ":in/a.png" << ":in" << "s.png";
    const QString bom(QChar(0xfeff)); // which QString::fromUtf8() would drop
    QTest::newRow("a byte-order mark, given") << bom + QStringLiteral("x.png") << bom + QStringLiteral("x.png") << "s.png";
    QTest::newRow("a colon on the output") << "a.png" << "a.png" << ":s.png";
    QTest::newRow("a byte-order mark on the output") << "a.png" << "a.png" << bom + QStringLiteral("s.png");
}

void TestHostile::pathsQtWouldMisread()
{
    QFETCH(QString, file);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QTemporaryDir dir;
    if (file.contains(u'/'))
        QCOMPARE(::mkdir((QFile::encodeName(dir.path()) + '/' + file.section(u'/', 0, 0).toUtf8()).constData(), 0755), 0);
    writeBytesName(dir.path(), file.toUtf8(), pngOf(sample(5, 3, 2)));
    const Run run = runStrip({input, QStringLiteral("--json"), QStringLiteral("-o"), output}, dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QByteArray sheet = QFile::encodeName(dir.path()) + '/' + output.toUtf8();
    struct stat info;
    QVERIFY2(::stat(sheet.constData(), &info) == 0, sheet.constData());
    QCOMPARE(testsupport::pillowFrames(QFile::decodeName(sheet)).value(0).size(), QSize(5, 3));
}

// One folder of names that break formats that do not make them safe: bytes that are not
// UTF-8, control characters, markup, quotes, line breaks. Every data file is read back by a
// reader that is not ours (Python's XML, plist and JSON parsers, the atlas read line by line as
// libGDX reads it), and the split gives every file back under the very bytes of its name.
void TestHostile::everyFormatHoldsEveryName()
{
    const QList<QByteArray> names{"bad\xff\xfe.png", "ctl\x01x.png", "ctlx.png", "y\xff.png", "y?.png", "<&\">'.png",
                                  "line\nbreak.png", "cr\rhere.png", "tab\there.png", "\xef\xbb\xbf" "bom.png", "rtl\xe2\x80\xae.png"};
    QTemporaryDir dir;
    auto removeLater = qScopeGuard([&] { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); });
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("art")));
    for (int i = 0; i < names.size(); ++i)
        writeBytesName(dir.filePath(QStringLiteral("art")), names[i], pngOf(sample(4, 4, i + 1)));
    const Run run = runStrip({QStringLiteral("art"), QStringLiteral("-c"), QStringLiteral("4"), QStringLiteral("--format"),
                              QStringLiteral("json-hash,tiled,libgdx,godot,sparrow,cocos2d"), QStringLiteral("-o"), QStringLiteral("s.png")},
                             dir.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const Run split = runStrip({QStringLiteral("--split"), QStringLiteral("s.png"), QStringLiteral("--data"), QStringLiteral("s.json"),
                                QStringLiteral("-o"), QStringLiteral("back")}, dir.path());
    QVERIFY2(split.status == 0, qPrintable(split.err));
    const QString report = python(QStringLiteral(R"(
import json, os, plistlib, sys, xml.etree.ElementTree as ET
names = sorted(os.listdir(b'art'))
frames = json.load(open('s.json', encoding='utf-8'))['frames']
assert sorted(os.fsencode(n) for n in frames) == sorted(b'art/' + n for n in names), 'json'
tiles = [p.get('value') for p in ET.parse('s.tsx').getroot().iter('property')]
assert len(set(tiles)) == len(names), 'tsx %r' % tiles
textures = [t.get('name') for t in ET.parse('s.xml').getroot().iter('SubTexture')]
assert len(set(textures)) == len(names) and 'art/cr\rhere.png' in textures, 'xml %r' % textures
sprites = list(plistlib.load(open('s.plist', 'rb'))['frames'])
assert len(set(sprites)) == len(names) and 'art/cr\rhere.png' in sprites, 'plist %r' % sprites
lines = open('s.atlas', encoding='utf-8', errors='replace').read().split('\n')
assert lines[0] == 's.png' and sum(1 for l in lines if l.strip().startswith('bounds:')) == len(names), 'atlas'
assert sorted(os.listdir(b'back/art')) == names, 'split %r' % os.listdir(b'back/art')
print('ok')
)"), {}, dir.path());
    if (report.isNull())
        QSKIP("Debian's python3 is not installed");
    QCOMPARE(report, QStringLiteral("ok"));
}

// A --data file that is not a sheet's JSON: refused, naming it, before it is read whole.
void TestHostile::splitDataRefused_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("limit"); // the run's address-space limit; empty: none
    QTest::addColumn<QString>("message");
    QTest::newRow("a device that never ends") << "/dev/zero" << QString() << "Cannot read /dev/zero: it is not a regular file.";
    QTest::newRow("a pipe") << "fifo" << QString() << "Cannot read fifo: it is not a regular file.";
    QTest::newRow("a folder") << "elsewhere" << QString() << "Cannot read elsewhere: it is a folder, not a file.";
    QTest::newRow("a sparse gigabyte") << "huge.json" << QString()
        << "Cannot read huge.json: at 1073741824 bytes it is larger than the data of a sheet of 8 x 6 pixels can be";
    QTest::newRow("more than memory can parse") << "many.json" << "--as=200000000"
                                                << "Cannot read many.json: there is not enough memory to read it.";
}

void TestHostile::splitDataRefused()
{
    QFETCH(QString, data);
    QFETCH(QString, limit);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(sample(8, 6, 1).save(dir.filePath(QStringLiteral("s.png"))));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("elsewhere")));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0644), 0);
    QFile huge(dir.filePath(QStringLiteral("huge.json")));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 30));
    huge.close();
    QStringList prefix;
    if (!limit.isEmpty()) {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer reserves far more address space than the limit allows");
#endif
        const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
        if (prlimit.isEmpty())
            QSKIP("prlimit (util-linux) is not installed");
        prefix = QStringList{prlimit, limit, QStringLiteral("--")};
        // 240,000 frames in 14 MB: a size a sheet's data may have, more than the limit parses.
        QByteArray json = "{\"frames\": {";
        for (int i = 0; i < 240000; ++i)
            json += (i ? ", \"f" : "\"f") + QByteArray::number(i) + "\": {\"frame\": {\"x\": 0, \"y\": 0, \"w\": 1, \"h\": 1}}";
        writeFile(dir.filePath(QStringLiteral("many.json")), json + "}}");
    }
    const QStringList before = entries(dir.path());
    const Run run = runStrip({QStringLiteral("--split"), QStringLiteral("s.png"), QStringLiteral("--data"), data, QStringLiteral("-o"),
                              QStringLiteral("out")}, dir.path(), prefix);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("corvane-strip: ") + message), qPrintable(run.err));
    QCOMPARE(entries(dir.path()), before);
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
