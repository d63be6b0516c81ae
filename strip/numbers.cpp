#include "strip/numbers.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <limits>

namespace strip {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The characters left once blanks, tabs and line feeds are gone, as long as they are plain
// ASCII; anything else (a letter of another script, a fullwidth digit) ends the number anyway.
QByteArray significantCharacters(const QString &text)
{
    QByteArray kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if (c.unicode() > 0x7f) {
            kept.append('\x01'); // fits nothing, so the reading stops here
            break;
        }
        kept.append(char(c.unicode()));
    }
    return kept;
}

// The power of ten of a number's first significant digit, for a well-formed number with
// at least one digit; far out values saturate instead of wrapping.
long long decimalMagnitude(const QByteArray &number)
{
    const qsizetype ePos = std::max(number.indexOf('e'), number.indexOf('E'));
    const QByteArray mantissa = ePos < 0 ? number : number.left(ePos);
    long long exponent = 0;
    if (ePos >= 0) {
        qsizetype i = ePos + 1;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '-' || number[i] == '+'))
            ++i;
        for (; i < number.size() && exponent < 1'000'000'000; ++i)
            exponent = exponent * 10 + (number[i] - '0');
        if (negative)
            exponent = -exponent;
    }
    const qsizetype point = mantissa.indexOf('.');
    const qsizetype units = point < 0 ? mantissa.size() : point; // index just past the ones digit
    for (qsizetype i = 0; i < mantissa.size(); ++i) {
        if (isDigit(mantissa[i]) && mantissa[i] != '0')
            return exponent + (i < units ? units - 1 - i : units - i);
    }
    return std::numeric_limits<long long>::min(); // all zeros
}

} // namespace

double readNumber(const QString &text)
{
    const QByteArray s = significantCharacters(text);
    const qsizetype n = s.size();
    qsizetype i = 0;
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(s[i]))
        ++i, ++digits;
    // A point may stand with digits on one side only: ".5" reads 0.5 and "5." reads 5.
    if (i < n && s[i] == '.') {
        qsizetype j = i + 1;
        qsizetype fraction = 0;
        while (j < n && isDigit(s[j]))
            ++j, ++fraction;
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0)
        return 0;
    // An exponent counts only with its digits: "1e" and "1e+" read 1.
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        qsizetype j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-'))
            ++j;
        const qsizetype start = j;
        while (j < n && isDigit(s[j]))
            ++j;
        if (j > start)
            i = j;
    }
    QByteArray number = s.left(i);
    if (number.endsWith('.') || number.contains(".e") || number.contains(".E"))
        number.replace(".", ""); // "5." and "5.e3": the bare point adds nothing
    // QByteArray reads with the C locale whatever the user's. It refuses values out of range,
    // which then read as an infinity (so that the frame rules refuse them) or as 0.
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (ok)
        return value;
    const double sign = number.startsWith('-') ? -1.0 : 1.0;
    return decimalMagnitude(number) > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
}

QString numberForm(double value)
{
    if (!std::isfinite(value))
        return QString::number(value); // "inf", "nan": never reached by the rules
    const QString sign = value < 0 ? QStringLiteral("-") : QStringLiteral(" ");
    const double magnitude = std::fabs(value);
    if (magnitude == std::floor(magnitude) && magnitude < 1e15)
        return sign + QString::number(qint64(magnitude));

    // The fewest significant digits (at most 15) that give back the value rounded to 15.
    const double target = QString::number(magnitude, 'e', 14).toDouble();
    QString digits;
    int exponent = 0;
    for (int precision = 1; precision <= 15; ++precision) {
        const QString e = QString::number(magnitude, 'e', precision - 1);
        if (precision == 15 || e.toDouble() == target) {
            const qsizetype mark = e.indexOf(u'e');
            digits = e.left(mark).remove(u'.');
            exponent = e.mid(mark + 1).toInt();
            break;
        }
    }
    while (digits.size() > 1 && digits.endsWith(u'0'))
        digits.chop(1);
    if (exponent >= 15 || exponent < -15)
        return sign + QString::number(magnitude, 'g', int(digits.size()));

    // Plain decimal notation, point included, for everything in ordinary range.
    QString text;
    if (exponent < 0) {
        text = QStringLiteral("0.") + QString(-exponent - 1, u'0') + digits;
    } else if (digits.size() > exponent + 1) {
        text = digits.left(exponent + 1) + u'.' + digits.mid(exponent + 1);
    } else {
        text = digits + QString(exponent + 1 - digits.size(), u'0');
    }
    return sign + text;
}

} // namespace strip
