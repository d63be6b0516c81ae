#include "browse/core/order.h"

namespace browse {

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Compares the digit runs starting at a[i] and b[j] by value; moves i and j past them.
// *zeros gets which has more leading zeros, for the final tie.
int compareNumbers(const QString &a, qsizetype &i, const QString &b, qsizetype &j, int *zeros)
{
    auto skipZeros = [](const QString &s, qsizetype &k) {
        const qsizetype start = k;
        while (k + 1 < s.size() && s[k] == u'0' && isDigit(s[k + 1]))
            ++k;
        return k - start;
    };
    const qsizetype za = skipZeros(a, i);
    const qsizetype zb = skipZeros(b, j);
    qsizetype ea = i, eb = j;
    while (ea < a.size() && isDigit(a[ea]))
        ++ea;
    while (eb < b.size() && isDigit(b[eb]))
        ++eb;
    int c = ea - i != eb - j ? (ea - i < eb - j ? -1 : 1) : QStringView(a).mid(i, ea - i).compare(QStringView(b).mid(j, eb - j));
    if (c == 0 && *zeros == 0 && za != zb)
        *zeros = za < zb ? -1 : 1;
    i = ea;
    j = eb;
    return c;
}

} // namespace

bool nameLess(const QString &a, const QString &b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b; // names that differ only in case keep a fixed order
}

bool naturalLess(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    int zeros = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            if (const int c = compareNumbers(a, i, b, j, &zeros))
                return c < 0;
            continue;
        }
        const QString ca = a[i].toCaseFolded();
        const QString cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    if (zeros != 0)
        return zeros < 0;
    return a < b;
}

} // namespace browse
