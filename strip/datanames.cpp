// How each data format holds a name: what it cannot hold is made safe the same way every time,
// and names that would become one are refused before anything is written.
#include "strip/sheetdata.h"

#include <QHash>
#include <QSet>

#include "picture/nativepath.h"

namespace strip {

namespace {

bool xmlCharacter(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// The first two different names whose held forms are alike, or nothing.
struct Clash {
    QString first, second, held;
    explicit operator bool() const { return !held.isEmpty(); }
};

template <typename Held>
Clash firstClash(const QStringList &names, Held held)
{
    QHash<QString, QString> seen; // held form -> the first name of it
    for (const QString &name : names) {
        const QString form = held(name);
        if (const auto other = seen.constFind(form); other != seen.cend() && *other != name)
            return {*other, name, form};
        seen.insert(form, name);
    }
    return {};
}

QString clashSentence(const Clash &clash, const QString &what)
{
    return QStringLiteral("Cannot name the frames: %1 and %2 would both be %3 '%4'; rename one of them.")
        .arg(picture::shownName(clash.first), picture::shownName(clash.second), what, picture::shownName(clash.held));
}

} // namespace

QString textName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    const QString shown = picture::displayPath(name);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown[i];
        if (c.isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate()) {
            out += c;
            out += shown[++i];
        } else {
            out += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    return out;
}

QString xmlName(const QString &name)
{
    QString out;
    for (const char32_t c : textName(name).toUcs4())
        out += xmlCharacter(c) ? QString::fromUcs4(&c, 1) : QString(QChar(QChar::ReplacementCharacter));
    return out;
}

QByteArray atlasName(const QString &name)
{
    // An atlas is read line by line, each line trimmed, and a line with a colon is a field: a
    // name that would read as a field, a blank line or as two lines is written with those
    // characters as %XX (the percent sign too, so that every name stays its own).
    const QByteArray utf8 = textName(name).toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const uchar c = uchar(utf8[i]);
        const bool edge = (i == 0 || i == utf8.size() - 1) && c == ' ';
        if (c < 0x20 || c == 0x7f || c == ':' || c == '%' || edge)
            out += '%' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
        else
            out += char(c);
    }
    return out;
}

QString safeNamesClash(const SheetData &data, const QStringList &formats)
{
    QStringList frames;
    for (const DataFrame &f : data.frames)
        frames.append(f.name);
    if (formats.contains(QStringLiteral("css"))) {
        if (const Clash clash = firstClash(frames, cssClass))
            return clashSentence(clash, QStringLiteral("the CSS class"));
    }
    if (formats.contains(QStringLiteral("tiled"))) {
        if (const Clash clash = firstClash(frames, xmlName))
            return clashSentence(clash, QStringLiteral("the Tiled tile name"));
    }
    if (formats.contains(QStringLiteral("sparrow"))) {
        if (const Clash clash = firstClash(frames, xmlName))
            return clashSentence(clash, QStringLiteral("the Starling texture"));
    }
    if (formats.contains(QStringLiteral("cocos2d"))) {
        if (const Clash clash = firstClash(frames, xmlName))
            return clashSentence(clash, QStringLiteral("the cocos2d sprite frame"));
    }
    if (formats.contains(QStringLiteral("libgdx"))) {
        // libGDX finds an animation's frames as the regions of its name: a frame alone of that
        // name would be found with them.
        QSet<QString> animations;
        QSet<int> inAnimation;
        QStringList regions; // the animations' names, then the frames alone
        for (const DataAnimation &a : data.animations) {
            if (a.frames.size() < 2)
                continue;
            animations.insert(a.name);
            regions.append(a.name);
            for (const int i : a.frames)
                inAnimation.insert(i);
        }
        for (int i = 0; i < data.frames.size(); ++i) {
            if (inAnimation.contains(i))
                continue;
            if (animations.contains(data.frames[i].name))
                return QStringLiteral("Cannot name the frames: the frame %1 and the animation %1 would both be libGDX "
                                      "regions named '%1'; rename one of them.").arg(picture::shownName(data.frames[i].name));
            regions.append(data.frames[i].name);
        }
        if (const Clash clash = firstClash(regions, [](const QString &n) { return QString::fromUtf8(atlasName(n)); }))
            return clashSentence(clash, QStringLiteral("the libGDX region"));
    }
    if (formats.contains(QStringLiteral("godot"))) {
        QStringList animations;
        for (const DataAnimation &a : data.animations)
            animations.append(a.name);
        if (const Clash clash = firstClash(animations, textName))
            return clashSentence(clash, QStringLiteral("the Godot animation"));
    }
    return {};
}

QString imageNameRefusal(const QString &sheetPath, const QStringList &formats)
{
    const QString image = sheetPath.mid(sheetPath.lastIndexOf(u'/') + 1);
    const auto refuse = [&](const QString &format, const QString &what) {
        return QStringLiteral("Cannot write %1: %2 names the sheet's image by its file name, which cannot hold %3; "
                              "give the sheet another name.").arg(picture::shownName(sheetPath), format, what);
    };
    bool control = false, lineBreak = false;
    for (const char32_t c : image.toUcs4()) {
        lineBreak = lineBreak || c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
        control = control || c < 0x20 || (c >= 0x7f && c <= 0x9f) || !xmlCharacter(c);
    }
    const QString breaks = QStringLiteral("a line break");
    const QString controls = QStringLiteral("a control character");
    if (formats.contains(QStringLiteral("txt"))) {
        if (lineBreak || control || image.contains(u','))
            return refuse(QStringLiteral("the one-line text file"),
                          lineBreak ? breaks : control ? controls : QStringLiteral("a comma, which parts its fields"));
    }
    if (formats.contains(QStringLiteral("libgdx"))) {
        if (lineBreak || control || image.contains(u':') || image.startsWith(u' ') || image.endsWith(u' '))
            return refuse(QStringLiteral("the libGDX atlas"),
                          lineBreak  ? breaks
                          : control ? controls
                          : image.contains(u':') ? QStringLiteral("a colon, which makes its line read as a field")
                                                 : QStringLiteral("a blank at its start or end, which its reader trims"));
    }
    if (formats.contains(QStringLiteral("tiled")) && control)
        return refuse(QStringLiteral("Tiled's XML"), lineBreak ? breaks : controls);
    if (formats.contains(QStringLiteral("sparrow")) && control)
        return refuse(QStringLiteral("Starling's XML"), lineBreak ? breaks : controls);
    if (formats.contains(QStringLiteral("cocos2d")) && control)
        return refuse(QStringLiteral("cocos2d's plist"), lineBreak ? breaks : controls);
    return {};
}

} // namespace strip
