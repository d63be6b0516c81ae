#include "strip/ends/dataends.h"
#include "strip/sheetdata.h"

#include <QFileInfo>
#include <QMap>
#include <QXmlStreamWriter>

namespace strip {

namespace {

// Tiled cuts a tileset's image itself and counts its columns and rows from the image's size,
// not from the file: tile ids must follow that count, which a wide margin or an image rounded
// up to a power of two makes larger than the sheet's own.
int tiledCount(qint64 side, int margin, int spacing, int tile)
{
    return tile > 0 ? int(std::max<qint64>(0, (side - margin + spacing) / (tile + spacing))) : 0;
}

struct TileEntry {
    QString name;                       // the first frame's name in the cell
    const DataAnimation *animation = nullptr;
};

QString alignment(const std::optional<QPointF> &pivot)
{
    if (!pivot)
        return {};
    if (*pivot == QPointF(0, 0))
        return QStringLiteral("topleft");
    if (*pivot == QPointF(0.5, 0.5))
        return QStringLiteral("center");
    if (*pivot == QPointF(0.5, 1))
        return QStringLiteral("bottom");
    return {};
}

} // namespace

QByteArray tiledTileset(const SheetData &data, int page)
{
    const DataPage &p = data.pages.at(page);
    const Sheet &g = p.grid;
    // Each cell carries its extruded edges: to Tiled they are part of the margin and spacing.
    const int margin = g.margin + g.extrude;
    const int spacing = g.padding + 2 * g.extrude;
    const int columns = tiledCount(p.size.width(), margin, spacing, g.cell.width());
    const int rows = tiledCount(p.size.height(), margin, spacing, g.cell.height());

    // A frame's tile is the grid place of its cell (a trimmed sheet's cells are trimmed too).
    const auto tileOf = [&](const DataFrame &f) {
        const QPoint corner = f.rect.topLeft();
        return (corner.y() - margin) / (g.cell.height() + spacing) * columns
            + (corner.x() - margin) / (g.cell.width() + spacing);
    };

    QMap<int, TileEntry> tiles;
    for (const DataFrame &f : data.frames) {
        if (f.page == page && !tiles.contains(tileOf(f)))
            tiles[tileOf(f)].name = f.name;
    }
    for (const DataAnimation &a : data.animations) {
        // A tile plays one animation; an animation whose first cell already plays one is left out.
        const bool here = std::all_of(a.frames.begin(), a.frames.end(), [&](int i) { return data.frames.at(i).page == page; });
        if (a.frames.size() < 2 || !here)
            continue;
        TileEntry &entry = tiles[tileOf(data.frames.at(a.frames.first()))];
        if (!entry.animation)
            entry.animation = &a;
    }

    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("tileset"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.8"));
    xml.writeAttribute(QStringLiteral("name"), xmlName(QFileInfo(p.image).completeBaseName()));
    xml.writeAttribute(QStringLiteral("tilewidth"), QString::number(g.cell.width()));
    xml.writeAttribute(QStringLiteral("tileheight"), QString::number(g.cell.height()));
    xml.writeAttribute(QStringLiteral("spacing"), QString::number(spacing));
    xml.writeAttribute(QStringLiteral("margin"), QString::number(margin));
    xml.writeAttribute(QStringLiteral("tilecount"), QString::number(columns * rows));
    xml.writeAttribute(QStringLiteral("columns"), QString::number(columns));
    if (const QString a = alignment(data.pivot); !a.isEmpty())
        xml.writeAttribute(QStringLiteral("objectalignment"), a);
    // Tiled draws a tile from its cell's bottom-left corner: a trimmed tile is moved back to
    // where its pixels sat in the whole frame.
    if (const auto f = std::find_if(data.frames.cbegin(), data.frames.cend(), [&](const DataFrame &f) { return f.page == page; });
        f != data.frames.cend() && f->trimmed) {
        xml.writeEmptyElement(QStringLiteral("tileoffset"));
        xml.writeAttribute(QStringLiteral("x"), QString::number(f->sourceRect.x()));
        xml.writeAttribute(QStringLiteral("y"), QString::number(f->sourceRect.bottom() + 1 - f->sourceSize.height()));
    }
    xml.writeEmptyElement(QStringLiteral("image"));
    xml.writeAttribute(QStringLiteral("source"), xmlName(p.image));
    xml.writeAttribute(QStringLiteral("width"), QString::number(p.size.width()));
    xml.writeAttribute(QStringLiteral("height"), QString::number(p.size.height()));
    for (auto t = tiles.cbegin(); t != tiles.cend(); ++t) {
        xml.writeStartElement(QStringLiteral("tile"));
        xml.writeAttribute(QStringLiteral("id"), QString::number(t.key()));
        xml.writeStartElement(QStringLiteral("properties"));
        xml.writeEmptyElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("name"));
        xml.writeAttribute(QStringLiteral("value"), xmlName(t->name));
        xml.writeEndElement();
        if (t->animation) {
            xml.writeStartElement(QStringLiteral("animation"));
            for (int i : t->animation->frames) {
                xml.writeEmptyElement(QStringLiteral("frame"));
                xml.writeAttribute(QStringLiteral("tileid"), QString::number(tileOf(data.frames.at(i))));
                xml.writeAttribute(QStringLiteral("duration"), QString::number(data.frames.at(i).duration));
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

extern const DataEnd tiledEnd{
    .id = "tiled", .suffix = ".tsx", .help = "(.tsx)", .files = DataEnd::Files::EachPage,
    .write = [](const SheetData &data, int k, const QStringList &) { return tiledTileset(data, k); },
    .heldName = xmlName, .heldWhat = "the Tiled tile name", .imageHolder = "Tiled's XML",
    .needsGrid = "Tiled's tilesets cut their image into tiles of one size in even rows",
    .straightAlphaOnly = "Tiled draws its tiles' colours as straight alpha, so every edge would darken"};

} // namespace strip
