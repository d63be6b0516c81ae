#include "strip/sheetjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "strip/bands.h"

namespace strip {

QList<JsonFrame> jsonFrames(const SheetJob &job, const FrameNaming &naming, int stillDuration)
{
    QList<JsonFrame> frames;
    for (int i = 0; i < job.frames.size(); ++i) {
        const int delay = job.sources[job.frames[i].source].picture.delays().value(job.frames[i].frame);
        frames.append({naming.names.value(i), job.sheet.cellRect(i), job.sheet.cell, delay > 0 ? delay : stillDuration});
    }
    return frames;
}

namespace {

QJsonObject size(qint64 w, qint64 h)
{
    return {{QStringLiteral("w"), w}, {QStringLiteral("h"), h}};
}

QJsonObject rect(const QRect &r)
{
    return {{QStringLiteral("x"), r.x()}, {QStringLiteral("y"), r.y()}, {QStringLiteral("w"), r.width()},
            {QStringLiteral("h"), r.height()}};
}

QByteArray compact(const QJsonValue &value)
{
    // A lone string is written as a one-element list, then unwrapped.
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

} // namespace

QByteArray sheetJson(const Sheet &sheet, const QList<JsonFrame> &frames, const QList<FrameRun> &runs,
                     const QString &imageName, const QString &pixelFormat, JsonLayout layout)
{
    // Written by hand around Qt's values: a JSON object from Qt sorts its keys, and frames and
    // animations are wanted in sheet order, as engines list them.
    QByteArray out = "{\n  \"frames\": ";
    out += layout == JsonLayout::Hash ? "{" : "[";
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const JsonFrame &f = frames[i];
        QJsonObject entry{
            {QStringLiteral("frame"), rect(f.rect)},
            {QStringLiteral("rotated"), false},
            {QStringLiteral("trimmed"), false},
            {QStringLiteral("spriteSourceSize"), rect(QRect(QPoint(0, 0), f.rect.size()))},
            {QStringLiteral("sourceSize"), size(f.sourceSize.width(), f.sourceSize.height())},
            {QStringLiteral("duration"), f.duration},
        };
        out += i ? ",\n    " : "\n    ";
        if (layout == JsonLayout::Hash) {
            out += compact(f.name) + ": ";
        } else {
            entry.insert(QStringLiteral("filename"), f.name);
        }
        out += QJsonDocument(entry).toJson(QJsonDocument::Compact);
    }
    out += layout == JsonLayout::Hash ? "\n  },\n" : "\n  ],\n";

    out += "  \"animations\": {";
    QJsonArray tags;
    for (qsizetype r = 0; r < runs.size(); ++r) {
        const FrameRun &run = runs[r];
        // PixiJS keys a list's frames by their place in it, not by "filename"; an object's by name.
        QJsonArray names;
        for (int i = run.from; i <= run.to; ++i)
            names.append(layout == JsonLayout::Hash ? frames[i].name : QString::number(i));
        out += (r ? ",\n    " : "\n    ") + compact(run.name) + ": " + QJsonDocument(names).toJson(QJsonDocument::Compact);
        tags.append(QJsonObject{{QStringLiteral("name"), run.name}, {QStringLiteral("from"), run.from},
                                {QStringLiteral("to"), run.to}, {QStringLiteral("direction"), QStringLiteral("forward")}});
    }
    out += runs.isEmpty() ? "},\n" : "\n  },\n";

    const QJsonObject meta{
        {QStringLiteral("app"), QStringLiteral("corvane-strip")},
        {QStringLiteral("version"), QStringLiteral(CORVANE_VERSION)},
        {QStringLiteral("image"), imageName},
        {QStringLiteral("format"), pixelFormat},
        {QStringLiteral("size"), size(sheet.width, sheet.height)},
        {QStringLiteral("scale"), QStringLiteral("1")},
        {QStringLiteral("frameTags"), tags},
        {QStringLiteral("columns"), sheet.columns},
        {QStringLiteral("rows"), sheet.rows},
        {QStringLiteral("cell"), size(sheet.cell.width(), sheet.cell.height())},
        {QStringLiteral("padding"), sheet.padding},
        {QStringLiteral("margin"), sheet.margin},
        {QStringLiteral("extrude"), sheet.extrude}, // each cell's edge pixels, repeated outward
    };
    out += "  \"meta\": " + QJsonDocument(meta).toJson(QJsonDocument::Compact) + "\n}\n";
    return out;
}

} // namespace strip
