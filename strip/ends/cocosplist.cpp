#include "strip/ends/dataends.h"
#include "strip/sheetdata.h"

#include <QHash>
#include <QXmlStreamWriter>

namespace strip {

namespace {

// A length given doubled, as the plist's reader parses it: whole, or a half.
QString half(int twice)
{
    return twice % 2 == 0 ? QString::number(twice / 2) : QString::number(twice / 2.0);
}

QString sizeText(QSize s)
{
    return QStringLiteral("{%1,%2}").arg(s.width()).arg(s.height());
}

// An element of text. A reader turns a carriage return in text into a line feed: one in a name
// is written as a character reference, which it keeps.
void textElement(QXmlStreamWriter &xml, const QString &element, const QString &text)
{
    xml.writeStartElement(element);
    const QStringList lines = text.split(u'\r');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            xml.writeEntityReference(QStringLiteral("#13"));
        xml.writeCharacters(lines[i]);
    }
    xml.writeEndElement();
}

void key(QXmlStreamWriter &xml, const QString &name)
{
    textElement(xml, QStringLiteral("key"), name);
}

void entry(QXmlStreamWriter &xml, const QString &name, const QString &value)
{
    key(xml, name);
    textElement(xml, QStringLiteral("string"), value);
}

void boolean(QXmlStreamWriter &xml, const QString &name, bool value)
{
    key(xml, name);
    xml.writeEmptyElement(value ? QStringLiteral("true") : QStringLiteral("false"));
}

} // namespace

QByteArray cocosPlist(const SheetData &data, int page)
{
    const DataPage &p = data.pages.at(page);
    // Frames of one cell (--dedupe) are one sprite frame: the first of them, with the others as
    // its aliases, which cocos2d's SpriteFrameCache finds by name too.
    QHash<int, int> owner;            // cell -> its first frame
    QHash<int, QStringList> aliases;  // first frame -> the other frames' names
    for (int i = 0; i < data.frames.size(); ++i) {
        const DataFrame &f = data.frames[i];
        if (f.page != page)
            continue;
        if (const auto first = owner.constFind(f.cell); first != owner.cend())
            aliases[*first].append(xmlName(f.name));
        else
            owner.insert(f.cell, i);
    }

    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(-1);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral(R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("dict"));
    key(xml, QStringLiteral("frames"));
    xml.writeStartElement(QStringLiteral("dict"));
    for (int i = 0; i < data.frames.size(); ++i) {
        const DataFrame &f = data.frames[i];
        if (f.page != page || owner.value(f.cell) != i)
            continue;
        key(xml, xmlName(f.name));
        xml.writeStartElement(QStringLiteral("dict"));
        key(xml, QStringLiteral("aliases"));
        if (const QStringList names = aliases.value(i); names.isEmpty()) {
            xml.writeEmptyElement(QStringLiteral("array"));
        } else {
            xml.writeStartElement(QStringLiteral("array"));
            for (const QString &name : names)
                textElement(xml, QStringLiteral("string"), name);
            xml.writeEndElement();
        }
        // cocos2d places the trimmed rectangle by its centre's offset from the whole frame's
        // centre, y up; sourceRect is in the frame's own orientation, rotated or not.
        const QRect &s = f.sourceRect;
        const QSize whole = f.sourceSize;
        entry(xml, QStringLiteral("spriteOffset"), QStringLiteral("{%1,%2}").arg(half(2 * s.x() + s.width() - whole.width()),
                                                                                    half(whole.height() - 2 * s.y() - s.height())));
        entry(xml, QStringLiteral("spriteSize"), sizeText(s.size()));
        entry(xml, QStringLiteral("spriteSourceSize"), sizeText(whole));
        entry(xml, QStringLiteral("textureRect"), QStringLiteral("{{%1,%2},%3}").arg(f.rect.x()).arg(f.rect.y()).arg(sizeText(s.size())));
        boolean(xml, QStringLiteral("textureRotated"), f.rotated);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    key(xml, QStringLiteral("metadata"));
    xml.writeStartElement(QStringLiteral("dict"));
    key(xml, QStringLiteral("format"));
    xml.writeTextElement(QStringLiteral("integer"), QStringLiteral("3"));
    entry(xml, QStringLiteral("pixelFormat"), data.pixelFormat.isEmpty() ? QStringLiteral("RGBA8888") : data.pixelFormat);
    boolean(xml, QStringLiteral("premultiplyAlpha"), data.premultiplied);
    entry(xml, QStringLiteral("realTextureFileName"), xmlName(p.image));
    entry(xml, QStringLiteral("size"), sizeText(p.size));
    entry(xml, QStringLiteral("textureFileName"), xmlName(p.image));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

extern const DataEnd cocos2dEnd{
    "cocos2d", ".plist", "(.plist)", DataEnd::Files::EachPage,
    [](const SheetData &data, int k, const QStringList &) { return cocosPlist(data, k); },
    xmlName, "the cocos2d sprite frame", nullptr, "cocos2d's plist"};

} // namespace strip
