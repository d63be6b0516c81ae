#include "strip/split/split.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTransform>

#include <algorithm>
#include <cstring>
#include <new>

#include "picture/base/nativepath.h"
#include "picture/source/picture.h"
#include "picture/codecs/pngwriter.h"
#include "picture/base/regularfile.h"
#include "picture/base/savefile.h"

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
            plan.error = tr("Cannot read %1: frame '%2' has no whole-number rectangle (x, y, w, h).").arg(dataName, picture::shownName(name));
            return plan;
        }
        // A rotated frame's w and h are its own; on the sheet it covers h across and w down.
        const bool rotated = entry.value(QStringLiteral("rotated")).toBool();
        SplitFrame frame{name, rotated ? QRect(x, y, h, w) : QRect(x, y, w, h), {}, {}, rotated};
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
                                "(spriteSourceSize within sourceSize, as large as its frame).").arg(dataName, picture::shownName(name));
                return plan;
            }
            frame.whole = QSize(ww, wh);
            frame.at = QPoint(px, py);
        }
        plan.frames.append(frame);
    }
    return plan;
}

SplitPlan framesFromJsonFile(const QString &path, QSize sheet, qint64 memory)
{
    SplitPlan plan;
    const QString name = picture::displayPath(path);
    const picture::RegularFile data = picture::openRegularFile(path);
    if (data.refused != picture::RegularFile::Refused::No) {
        plan.error = tr("Cannot read %1: %2.").arg(name, data.cause());
        return plan;
    }
    // Every frame has a pixel of its own or shares one, and its entry takes a few hundred
    // bytes: far more is not the data of this sheet. Parsing takes several times the text.
    const qint64 largest = std::min<qint64>((qint64(16) << 20) + qint64(sheet.width()) * sheet.height() * 256, memory / 8);
    if (data.size > largest) {
        plan.error = tr("Cannot read %1: at %2 bytes it is larger than the data of a sheet of %3 x %4 pixels can be "
                        "(at most %5 bytes).").arg(name).arg(data.size).arg(sheet.width()).arg(sheet.height()).arg(largest);
        return plan;
    }
    try {
        const QByteArray json = data.file->readAll();
        if (json.size() != data.size || data.file->error() != QFileDevice::NoError) {
            plan.error = tr("Cannot read %1: %2.").arg(name, data.file->errorString());
            return plan;
        }
        return framesFromJson(json, name);
    } catch (const std::bad_alloc &) {
        plan = {};
        plan.error = tr("Cannot read %1: there is not enough memory to read it.").arg(name);
        return plan;
    }
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
    // Files are told apart by the bytes they get on disk: names that differ only in what those
    // bytes cannot hold would be one file.
    QSet<QByteArray> files, parents;
    plan.folder = folder;
    plan.names.clear();
    plan.files.clear();
    for (const SplitFrame &f : std::as_const(plan.frames)) {
        if (f.rect.isEmpty() || !whole.contains(f.rect)) {
            plan.error = tr("Cannot split: frame '%1' (%2 x %3 at %4, %5) lies outside the sheet of %6 x %7 pixels.")
                             .arg(picture::shownName(f.name)).arg(f.rect.width()).arg(f.rect.height()).arg(f.rect.x()).arg(f.rect.y())
                             .arg(sheet.width()).arg(sheet.height());
            return;
        }
        const QStringList parts = f.name.split(u'/');
        if (f.name.isEmpty() || f.name.startsWith(u'/') || parts.contains(QStringLiteral("..")) || f.name.contains(QChar(0))) {
            plan.error = tr("Cannot split: the frame name '%1' is empty, absolute, or holds '..' or a NUL character; it would not stay in %2.")
                             .arg(picture::shownName(f.name), picture::displayPath(folder));
            return;
        }
        const QString named = f.name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? f.name : f.name + QStringLiteral(".png");
        const QString name = QDir::cleanPath(named);
        if (name == QLatin1String(".") || name.startsWith(QLatin1String("../"))) {
            plan.error = tr("Cannot split: the frame name '%1' would leave %2.").arg(picture::shownName(f.name), picture::displayPath(folder));
            return;
        }
        const QByteArray key = picture::toNativePath(name);
        const auto clash = [&] {
            plan.error = tr("Cannot split: two frames would be written to the same file, or one inside the other: '%1'.")
                             .arg(picture::shownName(f.name));
        };
        if (files.contains(key) || parents.contains(key))
            return clash();
        files.insert(key);
        for (qsizetype at = key.indexOf('/'); at >= 0; at = key.indexOf('/', at + 1)) {
            if (files.contains(key.left(at)))
                return clash();
            parents.insert(key.left(at));
        }
        plan.names.append(name);
        plan.files.append(picture::pathIn(folder, name));
    }
}

QString blockedOnDisk(const SplitPlan &plan)
{
    for (const QString &name : plan.names)
        if (const QString why = picture::cannotSaveInside(plan.folder, name); !why.isEmpty())
            return why;
    return {};
}

SplitPlan planSplit(const QString &sheetPath, const QString &dataPath, QSize cell, const QString &folder)
{
    picture::Budget budget;
    budget.acceptPng = true;
    picture::Loaded sheet = picture::Source::open(sheetPath, picture::displayPath(sheetPath), budget).decode();
    SplitPlan plan;
    if (!sheet.ok()) {
        plan.error = sheet.message;
        return plan;
    }
    const QSize size = sheet.image.size();
    if (!dataPath.isEmpty()) {
        plan = framesFromJsonFile(dataPath, size, budget.maxTotalBytes);
    } else {
        plan = framesFromGrid(size, cell);
        if (plan.error.isEmpty() && (size.width() % cell.width() || size.height() % cell.height()))
            plan.warning = tr("warning: %1 is %2 x %3 pixels, not a whole number of %4 x %5 cells; "
                              "the pixels to the right and below the last whole cells are left out.")
                               .arg(sheetPath).arg(size.width()).arg(size.height()).arg(cell.width()).arg(cell.height());
    }
    placeFrames(plan, size, folder);
    if (plan.error.isEmpty())
        plan.error = blockedOnDisk(plan);
    plan.sheet = std::move(sheet.image);
    return plan;
}

QString splitReport(const SplitPlan &plan)
{
    QString out = tr("frames: %1\nwould write:\n").arg(plan.frames.size());
    for (qsizetype i = 0; i < plan.frames.size(); ++i) {
        const QRect &r = plan.frames[i].rect;
        out += QStringLiteral("  %1: %2 x %3 at %4, %5\n").arg(plan.files[i]).arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
    }
    return out;
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
        if (cut.rotated && !frame.isNull())
            frame = frame.transformed(QTransform().rotate(270));
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
        const picture::SaveResult staged = save.stageInside(plan.folder, plan.names[i], [&](picture::SaveSink &sink) {
            picture::PngWriter writer(sink, frame.width(), frame.height());
            const bool ok = writer.writeRows(frame, 0, frame.height()) && writer.finish();
            encoderError = writer.error();
            return ok;
        });
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
