#pragma once

#include <QString>

namespace strip {

// Reads the number that starts text once blanks, tabs and line feeds are dropped: sign,
// digits, point and digits, exponent with E or e; the point whatever the locale. Stops at the
// first character that does not fit; 0 when no number starts the text. Overflow gives +-inf.
double readNumber(const QString &text);

// One blank, then the value in decimal: digits alone when whole, otherwise the shortest form
// with a point and at most 15 significant digits.
QString numberForm(double value);

} // namespace strip
