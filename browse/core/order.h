#pragma once

#include <QString>

namespace browse {

// The orders a folder's names come in.
enum class Order {
    Name,    // the file list's
    Natural, // corvane-strip's default
};

// The file list's order: by name without regard to case, names equal but for case by character.
bool nameLess(const QString &a, const QString &b);

// Natural order: runs of digits compare by value (walk2 before walk10), letters ignore case.
// Names equal by that (walk2, walk02, Walk2) keep a fixed order: fewer leading zeros first,
// then by their exact characters.
bool naturalLess(const QString &a, const QString &b);

} // namespace browse
