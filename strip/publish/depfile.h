#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace strip {

// A Make and Ninja dependency file: every output depends on every input (each file read and
// each folder listed, whose time changes when a file is added or taken away), and each input
// has a rule of its own with nothing to make, so that a build goes on after it is removed.
// Names are escaped as both tools read them.
QByteArray dependencyFile(const QStringList &outputs, const QStringList &inputs);

// Why a path cannot be named in a dependency file (a line break), or empty.
QString dependencyRefusal(const QString &depfile, const QStringList &paths);

} // namespace strip
