#include "strip/split.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstring>

#include "picture/pngwriter.h"
#include "picture/savefile.h"

namespace strip {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("strip", text);
}

// A whole number in the JSON, or nothing: engines read rectangles as integers.
bool integer(const QJsonValue &v, int *out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d != double(qint64(d)) || d < -2147483647.0 || d > 2147483647.0)
        return false;
    *out = int(d);
    return true;
}

} // namespace

SplitPlan framesFromJson(const QByteArray &json, const QString &dataName)
{
    SplitPlan plan;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        plan.error = tr("Cannot read %1: it is not JSON (%2 at byte %3).").arg(dataName, parseError.errorString()).arg(parseError.offset);
        return plan;
    }
    const QJsonValue frames = doc.object().value(QStringLiteral("frames"));
    QList<std::pair<QString, QJsonObject>> entries;
    if (frames.isObject()) {
        // Qt's object sorts its keys; each frame goes to its own file, so the order is of no account.
        const QJsonObject object = frames.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            entries.append({it.key(), it.value().toObject()});
    } else if (frames.isArray()) {
        for (const QJsonValue &v : frames.toArray())
            entries.append({v.toObject().value(QStringLiteral("filename")).toString(), v.toObject()});
    } else {
        plan.error = tr("Cannot read %1: it has no \"frames\" object or list.").arg(dataName);
        return plan;
    }
    for (const auto &[name, entry] : entries) {
        const QJsonObject r = entry.value(QStringLiteral("frame")).toObject();
        int x = 0, y = 0, w = 0, h = 0;
        if (!integer(r.value(QStringLiteral("x")), &x) || !integer(r.value(QStringLiteral("y")), &y)
            || !integer(r.value(QStringLiteral("w")), &w) || !integer(r.value(QStringLiteral("h")), &h)) {
            plan.error = tr("Cannot read %1: frame '%2' has no whole-number rectangle (x, y, w, h).").arg(dataName, name);
            return plan;
        }
        if (entry.value(QStringLiteral("rotated")).toBool()) {
            plan.error = tr("Cannot read %1: frame '%2' is rotated, which corvane-strip does not cut.").arg(dataName, name);
            return plan;
        }
        SplitFrame frame{name, QRect(x, y, w, h), {}, {}};
        if (entry.value(QStringLiteral("trimmed")).toBool()) {
            const QJsonObject part = entry.value(QStringLiteral("spriteSourceSize")).toObject();
            const QJsonObject whole = entry.value(QStringLiteral("sourceSize")).toObject();
            int px = 0, py = 0, pw = 0, ph = 0, ww = 0, wh = 0;
            if (!integer(part.value(QStringLiteral("x")), &px) || !integer(part.value(QStringLiteral("y")), &py)
                || !integer(part.value(QStringLiteral("w")), &pw) || !integer(part.value(QStringLiteral("h")), &ph)
                || !integer(whole.value(QStringLiteral("w")), &ww) || !integer(whole.value(QStringLiteral("h")), &wh)
                || pw != w || ph != h || ww > (1 << 20) || wh > (1 << 20)
                || !QRect(0, 0, ww, wh).contains(QRect(px, py, pw, ph))) {
                plan.error = tr("Cannot read %1: trimmed frame '%2' does not sit inside its source size "
                                "(spriteSourceSize within sourceSize, as large as its frame).").arg(dataName, name);
                return plan;
            }
            frame.whole = QSize(ww, wh);
            frame.at = QPoint(px, py);
        }
        plan.frames.append(frame);
    }
    return plan;
}

SplitPlan framesFromGrid(QSize sheet, QSize cell)
{
    SplitPlan plan;
    const int columns = sheet.width() / cell.width();
    const int rows = sheet.height() / cell.height();
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            plan.frames.append({QString::number(r * columns + c), QRect(QPoint(c * cell.width(), r * cell.height()), cell), {}, {}});
    if (plan.frames.isEmpty())
        plan.error = tr("Cannot split: the sheet of %1 x %2 pixels holds no whole cell of %3 x %4.")
                         .arg(sheet.width()).arg(sheet.height()).arg(cell.width()).arg(cell.height());
    return plan;
}

void placeFrames(SplitPlan &plan, QSize sheet, const QString &folder)
{
    if (!plan.error.isEmpty())
        return;
    const QRect whole(QPoint(0, 0), sheet);
    const QString root = QDir::cleanPath(QDir(folder).absolutePath());
    QSet<QString> files, parents;
    plan.files.clear();
    for (const SplitFrame &f : std::as_const(plan.frames)) {
        if (f.rect.isEmpty() || !whole.contains(f.rect)) {
            plan.error = tr("Cannot split: frame '%1' (%2 x %3 at %4, %5) lies outside the sheet of %6 x %7 pixels.")
                             .arg(f.name).arg(f.rect.width()).arg(f.rect.height()).arg(f.rect.x()).arg(f.rect.y())
                             .arg(sheet.width()).arg(sheet.height());
            return;
        }
        const QStringList parts = f.name.split(u'/');
        if (f.name.isEmpty() || f.name.startsWith(u'/') || parts.contains(QStringLiteral("..")) || f.name.contains(QChar(0))) {
            plan.error = tr("Cannot split: the frame name '%1' is empty, absolute or holds '..'; it would not stay in %2.")
                             .arg(f.name, folder);
            return;
        }
        const QString name = f.name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? f.name : f.name + QStringLiteral(".png");
        const QString path = QDir::cleanPath(root + u'/' + name);
        if (!path.startsWith(root + u'/')) {
            plan.error = tr("Cannot split: the frame name '%1' would leave %2.").arg(f.name, folder);
            return;
        }
        const QString &key = path;
        if (files.contains(key) || parents.contains(key)) {
            plan.error = tr("Cannot split: two frames would be written to the same file, or one inside the other: '%1'.").arg(f.name);
            return;
        }
        files.insert(key);
        for (qsizetype at = key.indexOf(u'/', root.size() + 1); at >= 0; at = key.indexOf(u'/', at + 1)) {
            if (files.contains(key.left(at))) {
                plan.error = tr("Cannot split: two frames would be written to the same file, or one inside the other: '%1'.").arg(f.name);
                return;
            }
            parents.insert(key.left(at));
        }
        plan.files.append(QDir(folder).filePath(QDir::cleanPath(name)));
    }
}

QString blockedOnDisk(const SplitPlan &plan)
{
    for (const QString &file : plan.files) {
        if (QFileInfo(file).isDir())
            return tr("Cannot write %1: a folder of that name is in the way.").arg(file);
        for (QFileInfo up(QFileInfo(file).path()); !up.exists() || !up.isDir(); up.setFile(up.path())) {
            if (up.exists())
                return tr("Cannot write %1: %2 is a file, not a folder.").arg(file, up.filePath());
            if (up.path() == up.filePath())
                break;
        }
    }
    return {};
}

bool writeFrames(const SplitPlan &plan, const QImage &sheet, QString *error)
{
    // What is already on disk in the way, before the first file is written.
    if (const QString blocked = blockedOnDisk(plan); !blocked.isEmpty()) {
        *error = blocked;
        return false;
    }
    // Every frame is staged, then all are published together: a full disk or a stopped run
    // leaves none of them, nor a folder made for them.
    picture::StagedSave save;
    for (qsizetype i = 0; i < plan.frames.size(); ++i) {
        const QString &file = plan.files[i];
        const SplitFrame &cut = plan.frames[i];
        QImage frame = sheet.copy(cut.rect).convertToFormat(QImage::Format_RGBA8888);
        if (!cut.whole.isEmpty() && !frame.isNull()) {
            // Given back whole: the trimmed-away part is transparent, as it was.
            QImage whole(cut.whole, QImage::Format_RGBA8888);
            if (!whole.isNull()) {
                whole.fill(0);
                for (int y = 0; y < frame.height(); ++y)
                    std::memcpy(whole.scanLine(cut.at.y() + y) + qsizetype(cut.at.x()) * 4, frame.constScanLine(y),
                                size_t(frame.width()) * 4);
            }
            frame = whole;
        }
        if (frame.isNull()) {
            *error = tr("Cannot write %1: there is not enough memory.").arg(file);
            return false;
        }
        QString encoderError;
        const picture::SaveResult staged = save.stage(file, [&](picture::SaveSink &sink) {
            picture::PngWriter writer(sink, frame.width(), frame.height());
            const bool ok = writer.writeRows(frame, 0, frame.height()) && writer.finish();
            encoderError = writer.error();
            return ok;
        }, picture::StagedSave::Folders::Make);
        if (!staged.ok) {
            *error = encoderError.isEmpty() ? staged.message : tr("Cannot write %1: %2").arg(file, encoderError);
            return false;
        }
    }
    const picture::SaveResult committed = save.commit();
    if (!committed.ok)
        *error = committed.message;
    return committed.ok;
}

} // namespace strip
