#include "strip/ends/dataends.h"
#include "strip/sheetdata.h"

#include <QStringList>

namespace strip {

QString cssClass(const QString &frameName)
{
    // Letters, digits, '_' and '-' of ASCII stay as they are, case and all; every other
    // character (a whole code point, however many UTF-16 units it takes) becomes one '-'. The
    // prefix makes the result a valid identifier even when the name starts with a digit or '-'.
    QString out = QStringLiteral("frame-");
    for (const char32_t c : frameName.toUcs4()) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        out += kept ? QChar(char16_t(c)) : QLatin1Char('-');
    }
    return out;
}

namespace {

// A URL in CSS, quoted; quotes, backslashes and line ends are escaped as CSS reads them.
QByteArray cssUrl(const QString &image)
{
    QByteArray out = "url(\"";
    for (const char c : image.toUtf8()) {
        if (c == '"' || c == '\\' || c == '\n' || c == '\r' || c == '\f')
            out += '\\' + QByteArray::number(uchar(c), 16) + ' ';
        else
            out += c;
    }
    return out + "\")";
}

QByteArray px(int n)
{
    return n ? QByteArray::number(n) + "px" : QByteArray("0");
}

} // namespace

QByteArray cssSprites(const SheetData &data)
{
    QByteArray out;
    for (int p = 0; p < data.pages.size(); ++p) {
        // One rule a page names its image once for all of its frames' classes. The content box
        // is the frame's pixels on the sheet; a trimmed frame's padding puts back its
        // transparent border, so the element keeps the frame's whole size.
        QByteArrayList selectors;
        for (const DataFrame &f : data.frames) {
            if (f.page == p)
                selectors += '.' + cssClass(f.name).toUtf8();
        }
        if (selectors.isEmpty())
            continue;
        out += selectors.join(",\n") + " {\n";
        out += "  background-image: " + cssUrl(data.pages[p].image) + ";\n";
        out += "  background-repeat: no-repeat;\n";
        out += "  background-origin: content-box;\n";
        out += "  background-clip: content-box;\n";
        out += "  box-sizing: content-box;\n";
        out += "}\n";
    }
    for (const DataFrame &f : data.frames) {
        out += '.' + cssClass(f.name).toUtf8() + " { background-position: " + px(-f.rect.x()) + ' ' + px(-f.rect.y())
            + "; width: " + px(f.rect.width()) + "; height: " + px(f.rect.height()) + ";";
        if (f.trimmed) {
            const QRect &s = f.sourceRect;
            out += " padding: " + px(s.y()) + ' ' + px(f.sourceSize.width() - s.x() - s.width()) + ' '
                + px(f.sourceSize.height() - s.y() - s.height()) + ' ' + px(s.x()) + ";";
        }
        out += " }\n";
    }
    return out;
}

extern const DataEnd cssEnd{
    .id = "css", .suffix = ".css", .help = "", .files = DataEnd::Files::One,
    .write = [](const SheetData &data, int, const QStringList &) { return cssSprites(data); },
    .heldName = cssClass, .heldWhat = "the CSS class",
    .noRotation = "a CSS background shows its part of the sheet as it lies, with no way to turn it back",
    .straightAlphaOnly = "a browser draws a PNG's colours as straight alpha, so every edge would darken"};

} // namespace strip
