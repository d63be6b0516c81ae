#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "browse/core/order.h"
#include "strip/framenames.h"

namespace strip {

// The picture files of a run's inputs, in the order given, a folder's in the order asked for,
// each with where it came from (for its frame's name).
struct InputFiles {
    QStringList paths;
    QList<SourceOrigin> origins; // one a path
    QStringList folders;         // the folders listed, in the order given
    QString refusal;             // not empty: a folder that cannot be read or holds no pictures
};

// A sheet written into its own frames' folder (sheetPath) is not a frame of the next run.
InputFiles listInputs(const QStringList &inputs, browse::Order order, const QString &sheetPath);

} // namespace strip
