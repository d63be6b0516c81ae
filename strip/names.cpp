#include "strip/names.h"

#include <QStringEncoder>

#include "strip/numbers.h"

namespace strip {

namespace {

// Where the file-name part of a path starts: folder names are never searched.
qsizetype fileNameStart(const QString &path)
{
    return path.lastIndexOf(u'/') + 1;
}

// Case-insensitive search rather than an upper-cased copy: upper-casing may change the length
// of a name (a German sharp s becomes two letters), which would shift every position after it.
QString cutDoubledExtension(const QString &text, qsizetype from)
{
    const qsizetype at = text.indexOf(QLatin1String(".BMP.BMP"), from, Qt::CaseInsensitive);
    return at < 0 ? text : text.left(at + 4);
}

} // namespace

QString bitmapPath(const QString &chosenPath)
{
    return cutDoubledExtension(chosenPath, fileNameStart(chosenPath));
}

QString imageName(const QString &chosenTitle)
{
    return cutDoubledExtension(chosenTitle, 0);
}

QString textPath(const QString &bitmapPath)
{
    const qsizetype at = bitmapPath.indexOf(QLatin1String(".BMP"), fileNameStart(bitmapPath), Qt::CaseInsensitive);
    return (at < 0 ? bitmapPath : bitmapPath.left(at)) + QLatin1String(".TXT");
}

QString besideSheet(const QString &sheetPath, const QString &suffix)
{
    const qsizetype dot = sheetPath.lastIndexOf(u'.');
    return (dot > fileNameStart(sheetPath) ? sheetPath.left(dot) : sheetPath) + suffix;
}

QString sheetTextPath(const QString &sheetPath)
{
    if (sheetPath.indexOf(QLatin1String(".BMP"), fileNameStart(sheetPath), Qt::CaseInsensitive) >= 0)
        return textPath(sheetPath);
    return besideSheet(sheetPath, QStringLiteral(".TXT"));
}

QByteArray companionLine(const QString &imageName, double horizontal, int frameTotal)
{
    const QString line = imageName + u',' + numberForm(horizontal) + u',' + numberForm(frameTotal)
        + QLatin1String("\r\n");
    QStringEncoder encode(QStringConverter::System);
    return encode(line);
}

} // namespace strip
