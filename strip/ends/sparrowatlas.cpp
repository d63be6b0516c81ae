#include "strip/ends/dataends.h"
#include "strip/sheetdata.h"

#include <QXmlStreamWriter>

namespace strip {

QByteArray sparrowAtlas(const SheetData &data, int page)
{
    // Starling's TextureAtlas takes one image and its XML: every frame of this page is a
    // SubTexture, those of one cell (--dedupe) each with the same rectangle.
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("TextureAtlas"));
    xml.writeAttribute(QStringLiteral("imagePath"), xmlName(data.pages.at(page).image));
    for (const DataFrame &f : data.frames) {
        if (f.page != page)
            continue;
        xml.writeEmptyElement(QStringLiteral("SubTexture"));
        xml.writeAttribute(QStringLiteral("name"), xmlName(f.name));
        xml.writeAttribute(QStringLiteral("x"), QString::number(f.rect.x()));
        xml.writeAttribute(QStringLiteral("y"), QString::number(f.rect.y()));
        xml.writeAttribute(QStringLiteral("width"), QString::number(f.rect.width()));
        xml.writeAttribute(QStringLiteral("height"), QString::number(f.rect.height()));
        if (f.trimmed) {
            // The whole frame as seen from the trimmed rectangle's corner: its offset negated.
            xml.writeAttribute(QStringLiteral("frameX"), QString::number(-f.sourceRect.x()));
            xml.writeAttribute(QStringLiteral("frameY"), QString::number(-f.sourceRect.y()));
            xml.writeAttribute(QStringLiteral("frameWidth"), QString::number(f.sourceSize.width()));
            xml.writeAttribute(QStringLiteral("frameHeight"), QString::number(f.sourceSize.height()));
        }
        if (f.rotated)
            xml.writeAttribute(QStringLiteral("rotated"), QStringLiteral("true"));
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

extern const DataEnd sparrowEnd{
    "sparrow", ".xml", "(Starling .xml)", DataEnd::Files::EachPage,
    [](const SheetData &data, int k, const QStringList &) { return sparrowAtlas(data, k); },
    xmlName, "the Starling texture", nullptr, "Starling's XML"};

} // namespace strip
