#include "strip/ends/sheetends.h"

#include <QStringList>

namespace strip {

// Each end is defined beside its writer.
extern const SheetEnd bmpEnd, pngEnd, webpEnd;

std::span<const SheetEnd> sheetEnds()
{
    static const SheetEnd ends[] = {bmpEnd, pngEnd, webpEnd};
    return ends;
}

const SheetEnd &sheetEnd(SheetFormat format)
{
    for (const SheetEnd &end : sheetEnds())
        if (end.format == format)
            return end;
    return sheetEnds().front();
}

const SheetEnd *sheetEndFor(const QString &suffix)
{
    for (const SheetEnd &end : sheetEnds())
        if (suffix.compare(QLatin1String(end.suffix), Qt::CaseInsensitive) == 0)
            return &end;
    return nullptr;
}

QString sheetSuffixes(bool help)
{
    QStringList suffixes;
    for (const SheetEnd &end : sheetEnds())
        suffixes.append(u'.' + QLatin1String(end.suffix) + (help && *end.help ? u' ' + QLatin1String(end.help) : QString()));
    const QString last = suffixes.takeLast();
    return suffixes.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace strip
