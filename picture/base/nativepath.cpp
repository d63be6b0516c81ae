#include "picture/base/nativepath.h"

#include <QStringDecoder>

namespace picture {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // kept bytes 0x80..0xFF become U+DC80..U+DCFF

// A kept byte: a low surrogate in the kept range that does not end a surrogate pair.
bool isEscapedByte(QStringView path, qsizetype i)
{
    const char16_t c = path[i].unicode();
    return c >= 0xDC80 && c <= 0xDCFF && !(i > 0 && QChar::isHighSurrogate(path[i - 1].unicode()));
}

// The length of the valid UTF-8 sequence at s[i], or 0: no overlong forms, no surrogates,
// nothing above U+10FFFF.
int validSequence(QByteArrayView s, qsizetype i)
{
    const auto at = [&](qsizetype k) { return k < s.size() ? uchar(s[k]) : uchar(0); };
    const uchar b0 = at(i);
    const auto cont = [&](qsizetype k) { return (at(k) & 0xC0) == 0x80; };
    if (b0 < 0x80)
        return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return cont(i + 1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const uchar b1 = at(i + 1);
        if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 > 0x9F))
            return 0;
        return cont(i + 1) && cont(i + 2) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const uchar b1 = at(i + 1);
        if ((b0 == 0xF0 && b1 < 0x90) || (b0 == 0xF4 && b1 > 0x8F))
            return 0;
        return cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
    }
    return 0;
}

// Valid UTF-8 as text. QString::fromUtf8() drops a byte-order mark at the start, which in a
// file name is a character of the name.
QString decodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decode(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decode(bytes);
}

// \x41 or \u202E.
QString escaped(char16_t kind, char32_t code, int digits)
{
    return u'\\' + QString(QChar(kind)) + QString::number(code, 16).toUpper().rightJustified(digits, u'0');
}

} // namespace

QString fromNativePath(QByteArrayView bytes)
{
    QString path;
    path.reserve(bytes.size());
    qsizetype run = 0; // start of the valid run not yet decoded
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int n = validSequence(bytes, i);
        if (n > 0) {
            i += n;
            continue;
        }
        path += decodeUtf8(bytes.sliced(run, i - run));
        path += QChar(char16_t(kEscapeBase + uchar(bytes[i])));
        run = ++i;
    }
    path += decodeUtf8(bytes.sliced(run));
    return path;
}

QByteArray toNativePath(const QString &path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype run = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isEscapedByte(path, i))
            continue;
        bytes += QStringView(path).sliced(run, i - run).toUtf8();
        bytes += char(path[i].unicode() - kEscapeBase);
        run = i + 1;
    }
    bytes += QStringView(path).sliced(run).toUtf8();
    return bytes;
}

QString displayPath(const QString &path)
{
    QString shown = path;
    for (qsizetype i = 0; i < path.size(); ++i)
        if (isEscapedByte(path, i))
            shown[i] = QChar::ReplacementCharacter;
    return shown;
}

QString shownName(const QString &name)
{
    // Kept at each end of a long name; a surrogate pair is never cut.
    constexpr qsizetype kept = 48;
    if (name.size() > 2 * kept + 5) {
        qsizetype head = kept, tail = name.size() - kept;
        if (QChar::isHighSurrogate(name[head - 1].unicode()))
            --head;
        if (QChar::isLowSurrogate(name[tail].unicode()) && QChar::isHighSurrogate(name[tail - 1].unicode()))
            ++tail;
        return shownName(name.left(head)) + QStringLiteral(" ... ") + shownName(name.mid(tail));
    }
    QString shown;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (isEscapedByte(name, i)) {
            shown += escaped(u'x', c - kEscapeBase, 2);
            continue;
        }
        char32_t code = c;
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode()))
            code = QChar::surrogateToUcs4(c, name[++i].unicode());
        const QChar::Category category = QChar::category(code);
        if (code == '\n')
            shown += QStringLiteral("\\n");
        else if (code == '\r')
            shown += QStringLiteral("\\r");
        else if (code == '\t')
            shown += QStringLiteral("\\t");
        else if (code < 0x20 || code == 0x7f)
            shown += escaped(u'x', code, 2);
        else if (category == QChar::Other_Control || category == QChar::Other_Format || category == QChar::Other_Surrogate
                 || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            shown += escaped(u'u', code, 4);
        else
            shown += QString::fromUcs4(&code, 1);
    }
    return shown;
}

QString plainPath(const QString &path)
{
    return path.startsWith(u':') ? QStringLiteral("./") + path : path;
}

QString pathIn(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return plainPath(name);
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

} // namespace picture
