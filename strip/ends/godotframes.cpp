#include "strip/ends/dataends.h"
#include "strip/sheetdata.h"

#include <QMap>

#include <numeric>

namespace strip {

namespace {

// A string as Godot's text resources read it back: quoted, with backslash escapes.
QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : textName(text).toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (uchar(c) < 0x20)
                out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

QByteArray rect2(int x, int y, int w, int h)
{
    return "Rect2(" + QByteArray::number(x) + ", " + QByteArray::number(y) + ", " + QByteArray::number(w) + ", "
        + QByteArray::number(h) + ")";
}

// Godot writes its numbers as floats; whole ones keep a ".0".
QByteArray real(qint64 whole)
{
    return QByteArray::number(whole) + ".0";
}

} // namespace

QByteArray godotFrames(const SheetData &data)
{
    // One AtlasTexture a cell, so that frames of the same pixels share one.
    QMap<int, int> firstOfCell;
    for (int i = 0; i < data.frames.size(); ++i) {
        if (!firstOfCell.contains(data.frames[i].cell))
            firstOfCell.insert(data.frames[i].cell, i);
    }
    const auto pageId = [](int p) { return "\"" + QByteArray::number(p + 1) + "_page\""; };
    const auto cellId = [](int c) { return "\"AtlasTexture_" + QByteArray::number(c) + "\""; };

    QByteArray out = "[gd_resource type=\"SpriteFrames\" load_steps="
        + QByteArray::number(data.pages.size() + firstOfCell.size() + 1) + " format=3]\n\n";
    for (int p = 0; p < data.pages.size(); ++p) {
        // A relative path is read from the resource's own folder: the image beside the .tres.
        out += "[ext_resource type=\"Texture2D\" path=" + quoted(data.pages[p].image) + " id=" + pageId(p) + "]\n";
    }
    for (auto c = firstOfCell.cbegin(); c != firstOfCell.cend(); ++c) {
        const DataFrame &f = data.frames[c.value()];
        out += "\n[sub_resource type=\"AtlasTexture\" id=" + cellId(c.key()) + "]\n";
        out += "atlas = ExtResource(" + pageId(f.page) + ")\n";
        out += "region = " + rect2(f.rect.x(), f.rect.y(), f.rect.width(), f.rect.height()) + '\n';
        if (f.trimmed) {
            out += "margin = " + rect2(f.sourceRect.x(), f.sourceRect.y(), f.sourceSize.width() - f.rect.width(),
                                       f.sourceSize.height() - f.rect.height()) + '\n';
        }
    }

    out += "\n[resource]\nanimations = [";
    for (int a = 0; a < data.animations.size(); ++a) {
        const DataAnimation &animation = data.animations[a];
        // Godot plays a frame for duration / speed seconds: with speed 1000 / g frames a second,
        // g dividing every duration and 1000, each frame lasts its milliseconds exactly.
        int g = 1000;
        for (int i : animation.frames)
            g = std::gcd(g, data.frames[i].duration);
        out += a ? ", {\n" : "{\n";
        out += "\"frames\": [";
        const QList<int> order = playOrder(animation); // Godot plays its list forward
        for (int k = 0; k < order.size(); ++k) {
            const DataFrame &f = data.frames[order[k]];
            out += k ? ", {\n" : "{\n";
            out += "\"duration\": " + real(f.duration / g) + ",\n";
            out += "\"texture\": SubResource(" + cellId(f.cell) + ")\n}";
        }
        out += "],\n";
        out += "\"loop\": " + QByteArray(animation.plays > 0 ? "false" : "true") + ",\n";
        out += "\"name\": &" + quoted(animation.name) + ",\n";
        out += "\"speed\": " + real(1000 / g) + "\n}";
    }
    out += "]\n";
    return out;
}

namespace {

// Godot keys animations by name: two that textName() makes alike would be one.
QString animationsRefusal(const SheetData &data)
{
    QStringList animations;
    for (const DataAnimation &a : data.animations)
        animations.append(a.name);
    return namesClash(animations, textName, QStringLiteral("the Godot animation"));
}

} // namespace

extern const DataEnd godotEnd{
    .id = "godot", .suffix = ".tres", .help = "(.tres)", .files = DataEnd::Files::One,
    .write = [](const SheetData &data, int, const QStringList &) { return godotFrames(data); },
    .namesRefusal = animationsRefusal,
    .noRotation = "Godot's AtlasTexture shows its region as it lies, with no way to turn it back"};

} // namespace strip
