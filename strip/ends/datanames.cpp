// How each data format holds a name: what it cannot hold is made safe the same way every time,
// and names that would become one are refused before anything is written.
#include "strip/sheetdata.h"

#include <QHash>
#include <QSet>

#include "picture/base/nativepath.h"
#include "strip/ends/dataends.h"

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

Clash firstClash(const QStringList &names, QString (*held)(const QString &))
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

QString namesClash(const QStringList &names, QString (*held)(const QString &), const QString &what)
{
    if (const Clash clash = firstClash(names, held))
        return clashSentence(clash, what);
    return {};
}

QString safeNamesClash(const SheetData &data, const QStringList &formats)
{
    QStringList frames;
    for (const DataFrame &f : data.frames)
        frames.append(f.name);
    for (const QString &id : formats) {
        const DataEnd *end = dataEnd(id);
        if (!end)
            continue;
        if (end->heldName) {
            if (const QString clash = namesClash(frames, end->heldName, QLatin1String(end->heldWhat)); !clash.isEmpty())
                return clash;
        }
        if (end->namesRefusal) {
            if (const QString refusal = end->namesRefusal(data); !refusal.isEmpty())
                return refusal;
        }
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
    for (const QString &id : formats) {
        const DataEnd *end = dataEnd(id);
        if (!end || !end->imageHolder)
            continue;
        const QString holder = QLatin1String(end->imageHolder);
        if (lineBreak || control)
            return refuse(holder, lineBreak ? breaks : controls);
        if (!end->imageTakesColon && image.contains(u':'))
            return refuse(holder, QStringLiteral("a colon, which makes its line read as a field"));
        if (!end->imageTakesEdgeBlanks && (image.startsWith(u' ') || image.endsWith(u' ')))
            return refuse(holder, QStringLiteral("a blank at its start or end, which its reader trims"));
    }
    return {};
}

} // namespace strip
