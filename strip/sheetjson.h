#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

#include "strip/framenames.h"
#include "strip/sheet.h"

namespace strip {

// How the frames are listed: an object keyed by name, which PixiJS and Phaser both read, or a
// list of objects that carry their name as "filename".
enum class JsonLayout { Hash, Array };

// One frame as a game engine finds it on the sheet.
struct JsonFrame {
    QString name;       // unique in the sheet
    QRect rect;         // where it is on the sheet
    QSize sourceSize;   // the size the engine places it in
    int duration = 100; // milliseconds
};

struct SheetJob;

// Every frame of job as its cell, so that a picture smaller than the cell keeps its place in it
// from frame to frame, named as naming says. A GIF frame lasts as long as the file says; one that
// says nothing, or a still picture, lasts stillDuration milliseconds.
QList<JsonFrame> jsonFrames(const SheetJob &job, const FrameNaming &naming, int stillDuration);

// The sheet for game engines: its frames in sheet order; each run both as PixiJS's
// "animations" (name -> the frames' keys as PixiJS reads them: their names in an object, their
// places from 0 in a list) and as "meta.frameTags" (name, from, to, direction); the
// grid (columns, rows, cell, padding, margin) under "meta" for engines that slice by grid.
QByteArray sheetJson(const Sheet &sheet, const QList<JsonFrame> &frames, const QList<FrameRun> &runs,
                     const QString &imageName, const QString &pixelFormat, JsonLayout layout);

} // namespace strip
