#include "picture/nativepath.h"

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
        path += QString::fromUtf8(bytes.sliced(run, i - run));
        path += QChar(char16_t(kEscapeBase + uchar(bytes[i])));
        run = ++i;
    }
    path += QString::fromUtf8(bytes.sliced(run));
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

} // namespace picture
