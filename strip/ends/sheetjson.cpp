#include "strip/ends/sheetjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHash>

#include "strip/bands.h"
#include "strip/ends/dataends.h"

namespace strip {

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

namespace {

QJsonObject frameEntry(const DataFrame &f, std::optional<QPointF> pivot)
{
    if (!pivot) // the anchor asked for holds for every frame; else its file's slice may give one
        pivot = f.pivot;
    QJsonObject entry{
        // A turned frame's w and h are its own, not those it covers on the sheet, as PixiJS and
        // Phaser read them.
        {QStringLiteral("frame"), rect(f.rotated ? QRect(f.rect.topLeft(), f.rect.size().transposed()) : f.rect)},
        {QStringLiteral("rotated"), f.rotated},
        {QStringLiteral("trimmed"), f.trimmed},
        {QStringLiteral("spriteSourceSize"), rect(f.sourceRect)},
        {QStringLiteral("sourceSize"), size(f.sourceSize.width(), f.sourceSize.height())},
        {QStringLiteral("duration"), f.duration},
    };
    if (pivot) {
        // PixiJS reads "anchor", Phaser "anchor" or "pivot", as TexturePacker writes them.
        const QJsonObject point{{QStringLiteral("x"), pivot->x()}, {QStringLiteral("y"), pivot->y()}};
        entry.insert(QStringLiteral("anchor"), point);
        entry.insert(QStringLiteral("pivot"), point);
    }
    return entry;
}

// As Aseprite's own data names them, which Phaser's createFromAseprite reads.
QString directionName(picture::SpriteTag::Direction direction)
{
    using Direction = picture::SpriteTag::Direction;
    switch (direction) {
    case Direction::Forward: break;
    case Direction::Reverse: return QStringLiteral("reverse");
    case Direction::PingPong: return QStringLiteral("pingpong");
    case Direction::PingPongReverse: return QStringLiteral("pingpong_reverse");
    }
    return QStringLiteral("forward");
}

QJsonArray slicesEntry(const QList<DataSlice> &slices)
{
    QJsonArray entries;
    for (const DataSlice &slice : slices) {
        QJsonArray keys;
        for (const DataSlice::Key &key : slice.keys) {
            QJsonObject entry{{QStringLiteral("frame"), key.frame}, {QStringLiteral("bounds"), rect(key.bounds)}};
            if (key.center)
                entry.insert(QStringLiteral("center"), rect(*key.center));
            if (key.pivot)
                entry.insert(QStringLiteral("pivot"), QJsonObject{{QStringLiteral("x"), key.pivot->x()}, {QStringLiteral("y"), key.pivot->y()}});
            keys.append(entry);
        }
        entries.append(QJsonObject{{QStringLiteral("name"), slice.name}, {QStringLiteral("keys"), keys}});
    }
    return entries;
}

} // namespace

QByteArray sheetJson(const SheetData &data, int page, JsonLayout layout, const QStringList &otherPages)
{
    const DataPage &thisPage = data.pages[page];
    const Sheet &sheet = thisPage.grid;
    // Written by hand around Qt's values: a JSON object from Qt sorts its keys, and frames and
    // animations are wanted in sheet order, as engines list them.
    QByteArray out = "{\n  \"frames\": ";
    out += layout == JsonLayout::Hash ? "{" : "[";
    QHash<int, int> placeOnPage; // a frame's place in this page's list
    for (qsizetype i = 0; i < data.frames.size(); ++i) {
        const DataFrame &f = data.frames[i];
        if (f.page != page)
            continue;
        QJsonObject entry = frameEntry(f, data.pivot);
        out += placeOnPage.isEmpty() ? "\n    " : ",\n    ";
        placeOnPage.insert(int(i), int(placeOnPage.size()));
        if (layout == JsonLayout::Hash) {
            out += compact(f.name) + ": ";
        } else {
            entry.insert(QStringLiteral("filename"), f.name);
        }
        out += QJsonDocument(entry).toJson(QJsonDocument::Compact);
    }
    out += layout == JsonLayout::Hash ? "\n  },\n" : "\n  ],\n";

    // PixiJS finds an animation's frames in the one sheet that lists it: an animation is listed
    // by the page that holds all its frames.
    out += "  \"animations\": {";
    bool first = true;
    for (const DataAnimation &animation : data.animations) {
        QJsonArray names;
        const QList<int> order = playOrder(animation);
        for (const int i : order) {
            if (!placeOnPage.contains(i))
                break;
            // PixiJS keys a list's frames by their place in it, not by "filename"; an object's by name.
            names.append(layout == JsonLayout::Hash ? data.frames[i].name : QString::number(placeOnPage[i]));
        }
        if (names.size() != order.size())
            continue;
        out += (first ? "\n    " : ",\n    ") + compact(animation.name) + ": " + QJsonDocument(names).toJson(QJsonDocument::Compact);
        first = false;
    }
    out += first ? "},\n" : "\n  },\n";

    // Tags, as Aseprite writes them, for the whole sheet in its first page's data.
    QJsonArray tags;
    for (const DataAnimation &animation : data.animations) {
        if (page != 0 || animation.frames.isEmpty())
            break;
        QJsonObject tag{{QStringLiteral("name"), animation.name}, {QStringLiteral("from"), animation.frames.first()},
                        {QStringLiteral("to"), animation.frames.last()}, {QStringLiteral("direction"), directionName(animation.direction)}};
        if (animation.plays > 0)
            tag.insert(QStringLiteral("repeat"), QString::number(animation.plays));
        tags.append(tag);
    }
    QJsonObject meta{
        {QStringLiteral("app"), QStringLiteral("corvane-strip")},
        {QStringLiteral("version"), QStringLiteral(CORVANE_VERSION)},
        {QStringLiteral("image"), thisPage.image},
        {QStringLiteral("format"), data.pixelFormat},
        {QStringLiteral("size"), size(thisPage.size.width(), thisPage.size.height())},
        {QStringLiteral("scale"), data.resolution},
        {QStringLiteral("frameTags"), tags},
        {QStringLiteral("padding"), sheet.padding},
        {QStringLiteral("margin"), sheet.margin},
        {QStringLiteral("extrude"), sheet.extrude}, // each cell's edge pixels, repeated outward
    };
    if (page == 0 && !data.slices.isEmpty())
        meta.insert(QStringLiteral("slices"), slicesEntry(data.slices));
    if (data.premultiplied) // PixiJS: load the page with alphaMode "premultiplied-alpha"
        meta.insert(QStringLiteral("premultipliedAlpha"), true);
    if (sheet.grid()) { // for engines that slice a sheet by its grid
        meta.insert(QStringLiteral("columns"), sheet.columns);
        meta.insert(QStringLiteral("rows"), sheet.rows);
        meta.insert(QStringLiteral("cell"), size(sheet.cell.width(), sheet.cell.height()));
    }
    if (!otherPages.isEmpty())
        meta.insert(QStringLiteral("related_multi_packs"), QJsonArray::fromStringList(otherPages));
    out += "  \"meta\": " + QJsonDocument(meta).toJson(QJsonDocument::Compact);

    // Phaser's multi-atlas: every page with its frames, in the first page's data.
    if (!otherPages.isEmpty()) {
        out += ",\n  \"textures\": [";
        for (qsizetype p = 0; p < data.pages.size(); ++p) {
            QJsonArray frames;
            for (const DataFrame &f : data.frames) {
                if (f.page != p)
                    continue;
                QJsonObject entry = frameEntry(f, data.pivot);
                entry.insert(QStringLiteral("filename"), f.name);
                frames.append(entry);
            }
            const QJsonObject texture{
                {QStringLiteral("image"), data.pages[p].image},
                {QStringLiteral("format"), data.pixelFormat},
                {QStringLiteral("size"), size(data.pages[p].size.width(), data.pages[p].size.height())},
                {QStringLiteral("scale"), data.resolution.toDouble()},
                {QStringLiteral("frames"), frames},
            };
            out += (p ? ",\n    " : "\n    ") + QJsonDocument(texture).toJson(QJsonDocument::Compact);
        }
        out += "\n  ]";
    }
    out += "\n}\n";
    return out;
}

namespace {

QByteArray jsonFile(const SheetData &data, int k, const QStringList &files, JsonLayout layout)
{
    // The first page's data lists the other pages' files.
    return sheetJson(data, k, layout, k == 0 ? files.mid(1) : QStringList());
}

} // namespace

extern const DataEnd jsonHashEnd{
    "json-hash", ".json", "(--json's)", DataEnd::Files::EachPageFirstBare,
    [](const SheetData &data, int k, const QStringList &files) { return jsonFile(data, k, files, JsonLayout::Hash); }};
extern const DataEnd jsonArrayEnd{
    "json-array", ".json", "", DataEnd::Files::EachPageFirstBare,
    [](const SheetData &data, int k, const QStringList &files) { return jsonFile(data, k, files, JsonLayout::Array); }};

} // namespace strip
