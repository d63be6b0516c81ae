#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <cstring>

#include "strip/frames.h"
#include "strip/publish/sheetfile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

QString corpusDir()
{
    const QString dir = QStringLiteral(CORVANE_CORPUS_DIR);
    return QDir(dir).exists() ? QDir(dir).canonicalPath() : QString();
}

QImage readWithPillow(const QString &path, QString *error, QString *format)
{
    QProcess p;
    // Debian's interpreter: it is the one that has Pillow (python3-pil).
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_READBACK_SCRIPT), path});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QString::fromUtf8(p.readAllStandardError()).trimmed();
        return {};
    }
    const QByteArray out = p.readAllStandardOutput();
    const qsizetype nl = out.indexOf('\n');
    const QList<QByteArray> head = out.left(nl).split(' ');
    if (nl < 0 || head.size() < 2)
        return {};
    const int w = head[0].toInt();
    const int h = head[1].toInt();
    if (format && head.size() > 2)
        *format = QString::fromLatin1(head[2]);
    if (out.size() - nl - 1 != qsizetype(w) * h * 3)
        return {};
    QImage img(w, h, QImage::Format_RGB32);
    const auto *src = reinterpret_cast<const uchar *>(out.constData() + nl + 1);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x, src += 3)
            row[x] = qRgb(src[0], src[1], src[2]);
    }
    return img;
}

QList<QImage> pillowFrames(const QString &path)
{
    // Every PNG read back is checked by libpng's own checker too.
    if (path.endsWith(QLatin1String(".png"))) {
        if (const QString complaint = pngcheckComplaint(path); !complaint.isEmpty()) {
            qWarning("pngcheck: %s", qPrintable(complaint));
            return {};
        }
    }
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CORVANE_RGBA_SCRIPT), path});
    p.waitForFinished(60000);
    QByteArray out = p.readAllStandardOutput();
    QList<QImage> frames;
    auto line = [&out] {
        const qsizetype nl = out.indexOf('\n');
        const QByteArray l = out.left(nl);
        out.remove(0, nl + 1);
        return l;
    };
    const int count = p.exitCode() == 0 ? line().toInt() : 0;
    for (int i = 0; i < count; ++i) {
        const QList<QByteArray> size = line().split(' ');
        QImage frame(size[0].toInt(), size[1].toInt(), QImage::Format_RGBA8888);
        for (int y = 0; y < frame.height(); ++y)
            memcpy(frame.scanLine(y), out.constData() + qsizetype(y) * frame.width() * 4, size_t(frame.width()) * 4);
        out.remove(0, qsizetype(frame.width()) * frame.height() * 4);
        frames.append(frame);
    }
    return frames;
}

QString pngcheckComplaint(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pngcheck"));
    if (tool.isEmpty())
        return {};
    QProcess p;
    p.start(tool, {QStringLiteral("-q"), path});
    p.waitForFinished(60000);
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

QImage solid(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

QImage pattern(int w, int h, int seed)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb((x * 7 + seed * 31) & 0xff, (y * 5 + seed * 17) & 0xff, (x ^ y ^ seed) & 0xff));
    return img;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

QImage sample(int w, int h, int seed, Alpha alpha)
{
    QImage image = pattern(w, h, seed).convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uchar *p = image.scanLine(y) + x * 4;
            p[3] = alpha == Alpha::Opaque ? 255 : alpha == Alpha::Binary ? ((x + y) % 3 ? 255 : 0) : uchar(x * 16 + y * 5 + 1);
        }
    return image;
}

QString compareRgba(const QImage &gotImage, const QImage &wantImage)
{
    if (gotImage.size() != wantImage.size())
        return QStringLiteral("size %1x%2, want %3x%4").arg(gotImage.width()).arg(gotImage.height()).arg(wantImage.width()).arg(wantImage.height());
    const QImage got = gotImage.convertToFormat(QImage::Format_RGBA8888), want = wantImage.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            const uchar *a = got.constScanLine(y) + x * 4;
            const uchar *b = want.constScanLine(y) + x * 4;
            if (std::memcmp(a, b, 4) != 0 && !(a[3] == 0 && b[3] == 0))
                return QStringLiteral("(%1,%2): %3,%4,%5,%6 want %7,%8,%9,%10").arg(x).arg(y)
                    .arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]).arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
        }
    return {};
}

QImage wholeFrame(const QImage &sheet, const QRect &rect, QSize whole, QPoint at)
{
    const QRectF r(rect);
    return wholeFrame(sheet, {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()}, whole, at);
}

QImage wholeFrame(const QImage &sheet, const QList<QPointF> &corners, QSize whole, QPoint at)
{
    QImage out(whole, QImage::Format_RGBA8888);
    out.fill(Qt::transparent);
    const QImage page = sheet.convertToFormat(QImage::Format_RGBA8888);
    const QPointF across = corners[1] - corners[0], down = corners[3] - corners[0];
    const int w = qRound(std::hypot(across.x(), across.y())), h = qRound(std::hypot(down.x(), down.y()));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QPointF p = corners[0] + across * ((x + 0.5) / w) + down * ((y + 0.5) / h);
            const QPoint from(int(std::floor(p.x())), int(std::floor(p.y())));
            if (page.rect().contains(from) && QRect(QPoint(0, 0), whole).contains(at + QPoint(x, y)))
                std::memcpy(out.scanLine(at.y() + y) + (at.x() + x) * 4, page.constScanLine(from.y()) + from.x() * 4, 4);
        }
    return out;
}

QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

QString stripProgram()
{
    return QStringLiteral(CORVANE_STRIP);
}

Run runStrip(const QStringList &args, const QString &dir, const QStringList &prefix,
             const std::function<void(QProcess &)> &setUp)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    if (setUp)
        setUp(p);
    if (prefix.isEmpty())
        p.start(stripProgram(), args);
    else
        p.start(prefix.first(), prefix.mid(1) + QStringList{stripProgram()} + args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QString inChild(const std::function<QString()> &work)
{
    int fds[2];
    if (pipe(fds) != 0)
        return QStringLiteral("SKIP: no pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const QByteArray report = work().toUtf8();
        qsizetype at = 0;
        while (at < report.size()) {
            const ssize_t n = ::write(fds[1], report.constData() + at, size_t(report.size() - at));
            if (n <= 0)
                break;
            at += n;
        }
        _exit(0);
    }
    close(fds[1]);
    QByteArray report;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return QStringLiteral("the child died of signal %1").arg(WTERMSIG(status));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("the child ended abnormally (exit status %1): %2")
            .arg(WEXITSTATUS(status))
            .arg(QString::fromUtf8(report));
    return QString::fromUtf8(report);
}

bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

QString errorName(picture::LoadError e)
{
    using picture::LoadError;
    switch (e) {
    case LoadError::None: return QStringLiteral("None");
    case LoadError::Missing: return QStringLiteral("Missing");
    case LoadError::Unreadable: return QStringLiteral("Unreadable");
    case LoadError::NotAPicture: return QStringLiteral("NotAPicture");
    case LoadError::Damaged: return QStringLiteral("Damaged");
    case LoadError::TooLarge: return QStringLiteral("TooLarge");
    }
    return QStringLiteral("?");
}

QString reportOf(const picture::SaveResult &r)
{
    return r.ok ? QStringLiteral("OK") : r.message;
}

QStringList entries(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QString firstDifference(const QImage &a, const QImage &b, int tolerance)
{
    if (a.size() != b.size())
        return QStringLiteral("size %1x%2 vs %3x%4").arg(a.width()).arg(a.height()).arg(b.width()).arg(b.height());
    const QImage ca = a.convertToFormat(QImage::Format_RGB32);
    const QImage cb = b.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < ca.height(); ++y) {
        const auto *ra = reinterpret_cast<const QRgb *>(ca.constScanLine(y));
        const auto *rb = reinterpret_cast<const QRgb *>(cb.constScanLine(y));
        for (int x = 0; x < ca.width(); ++x) {
            if (std::abs(qRed(ra[x]) - qRed(rb[x])) > tolerance || std::abs(qGreen(ra[x]) - qGreen(rb[x])) > tolerance
                || std::abs(qBlue(ra[x]) - qBlue(rb[x])) > tolerance)
                return QStringLiteral("pixel (%1, %2): #%3 vs #%4")
                    .arg(x).arg(y)
                    .arg(ra[x] & 0xffffff, 6, 16, QLatin1Char('0'))
                    .arg(rb[x] & 0xffffff, 6, 16, QLatin1Char('0'));
        }
    }
    return {};
}

strip::SheetJob stripOf(const QImage &picture, const QString &folder)
{
    const QString path = folder + QStringLiteral("/picture.bmp");
    if (!picture.save(path, "BMP")) {
        QTest::qFail("cannot save the picture", __FILE__, __LINE__);
        return {};
    }
    const strip::GatherResult gathered = strip::loadPictures({path});
    if (!gathered.ok()) {
        QTest::qFail(qPrintable(gathered.failure.message), __FILE__, __LINE__);
        return {};
    }
    const strip::StripPlan plan = strip::planStrip(gathered.pictures, 1, 1);
    if (!plan.ok)
        QTest::qFail(qPrintable(plan.message), __FILE__, __LINE__);
    return plan.job;
}

QString writeStrip(const strip::SheetJob &job, const QString &path, const QColor &background)
{
    const strip::SheetWritten written = strip::writeSheet(job, path, strip::SheetFormat::Bmp, background);
    return written.ok ? QStringLiteral("OK") : written.message;
}

QJsonObject engineReading(const QString &engines, const QString &json, QString *error)
{
    QProcess node;
    node.start(QStringLiteral("node"), {engines + QStringLiteral("/read-sheet.cjs"), json});
    if (!node.waitForFinished(60000) || node.exitStatus() != QProcess::NormalExit || node.exitCode() != 0) {
        *error = QString::fromUtf8(node.readAllStandardError()) + node.errorString();
        return {};
    }
    return QJsonDocument::fromJson(node.readAllStandardOutput()).object();
}

} // namespace testsupport
