#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

#include "strip/sheet.h"

namespace strip {

// One frame as a game engine finds it on the sheet.
struct JsonFrame {
    QString name;   // unique per frame: the file name, with "#n" for a GIF's frame n
    QRect rect;     // where it is on the sheet
};

// The sheet described in the JSON-array layout that Phaser and PixiJS load, with the grid
// (columns, rows, cell, padding, margin) under "meta" for engines that slice by grid.
QByteArray sheetJson(const Sheet &sheet, const QList<JsonFrame> &frames, const QString &imageName,
                     const QString &pixelFormat);

} // namespace strip
