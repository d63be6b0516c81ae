#include "strip/sheetdata.h"

namespace strip {

namespace {

QByteArray numbers(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += (out.isEmpty() ? "" : ",") + QByteArray::number(v);
    return out;
}

} // namespace

QByteArray gdxAtlas(const SheetData &data)
{
    // The frames of an animation are regions of the animation's name, told apart by index, as
    // libGDX's findRegions() gathers them; a frame alone keeps its own name and no index.
    QList<int> animationOf(data.frames.size(), -1), place(data.frames.size(), -1);
    for (int a = 0; a < data.animations.size(); ++a) {
        const DataAnimation &animation = data.animations[a];
        for (int i = 0; animation.frames.size() > 1 && i < animation.frames.size(); ++i) {
            animationOf[animation.frames[i]] = a;
            place[animation.frames[i]] = i;
        }
    }

    QByteArray out;
    for (int p = 0; p < data.pages.size(); ++p) {
        const DataPage &page = data.pages[p];
        // Pages are separated by a blank line; the image name starts each.
        out += (p ? "\n" : "") + page.image.toUtf8() + '\n';
        out += "size: " + numbers({page.size.width(), page.size.height()}) + '\n';
        out += "format: " + (data.pixelFormat.isEmpty() ? QByteArray("RGBA8888") : data.pixelFormat.toUtf8()) + '\n';
        out += "filter: Nearest,Nearest\n";
        out += "repeat: none\n";
        for (int i = 0; i < data.frames.size(); ++i) {
            const DataFrame &f = data.frames[i];
            if (f.page != p)
                continue;
            out += atlasName(animationOf[i] >= 0 ? data.animations[animationOf[i]].name : f.name) + '\n';
            out += "  bounds: " + numbers({f.rect.x(), f.rect.y(), f.rect.width(), f.rect.height()}) + '\n';
            if (f.trimmed) {
                // libGDX measures the offset up from the frame's bottom edge.
                const int bottom = f.sourceSize.height() - f.sourceRect.y() - f.sourceRect.height();
                out += "  offsets: " + numbers({f.sourceRect.x(), bottom, f.sourceSize.width(), f.sourceSize.height()}) + '\n';
            }
            if (place[i] >= 0)
                out += "  index: " + QByteArray::number(place[i]) + '\n';
        }
    }
    return out;
}

} // namespace strip
