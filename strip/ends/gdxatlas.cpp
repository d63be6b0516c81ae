#include "strip/ends/dataends.h"
#include "strip/sheetdata.h"

#include <QHash>
#include <QSet>

#include "picture/base/nativepath.h"

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
        if (data.premultiplied)
            out += "pma: true\n"; // spine-core and libGDX then blend with premultiplied alpha
        for (int i = 0; i < data.frames.size(); ++i) {
            const DataFrame &f = data.frames[i];
            if (f.page != p)
                continue;
            out += atlasName(animationOf[i] >= 0 ? data.animations[animationOf[i]].name : f.name) + '\n';
            // A turned region's bounds are its own size, not what it covers of the page.
            const QSize own = f.rotated ? f.rect.size().transposed() : f.rect.size();
            out += "  bounds: " + numbers({f.rect.x(), f.rect.y(), own.width(), own.height()}) + '\n';
            if (f.rotated)
                out += "  rotate: true\n";
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

namespace {

// libGDX finds an animation's frames as the regions of its name: a frame alone of that name
// would be found with them, and names that atlasName() makes alike are one region.
QString regionsRefusal(const SheetData &data)
{
    QSet<QString> animations;
    QHash<int, QString> inAnimation;
    QStringList regions; // the animations' names, then the frames alone
    for (const DataAnimation &a : data.animations) {
        if (a.frames.size() < 2)
            continue;
        animations.insert(a.name);
        regions.append(a.name);
        for (const int i : a.frames) {
            // A region has one name: a frame in two tags of an editor's file would leave one short.
            if (const auto other = inAnimation.constFind(i); other != inAnimation.constEnd())
                return QStringLiteral("Cannot name the frames: the frame %1 is in the animations %2 and %3, and a "
                                      "libGDX region is found by one name; give the tags frames of their own.")
                    .arg(picture::shownName(data.frames[i].name), picture::shownName(*other), picture::shownName(a.name));
            inAnimation.insert(i, a.name);
        }
    }
    for (int i = 0; i < data.frames.size(); ++i) {
        if (inAnimation.contains(i))
            continue;
        if (animations.contains(data.frames[i].name))
            return QStringLiteral("Cannot name the frames: the frame %1 and the animation %1 would both be libGDX "
                                  "regions named '%1'; rename one of them.").arg(picture::shownName(data.frames[i].name));
        regions.append(data.frames[i].name);
    }
    return namesClash(regions, [](const QString &n) { return QString::fromUtf8(atlasName(n)); },
                      QStringLiteral("the libGDX region"));
}

} // namespace

extern const DataEnd libgdxEnd{
    "libgdx", ".atlas", "(.atlas)", DataEnd::Files::One,
    [](const SheetData &data, int, const QStringList &) { return gdxAtlas(data); },
    nullptr, nullptr, regionsRefusal, "the libGDX atlas", false, false, nullptr, nullptr, true};

} // namespace strip
