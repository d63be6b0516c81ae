#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace strip {

// One frame to cut out of a sheet.
struct SplitFrame {
    QString name;
    QRect rect;
    // A trimmed frame's whole size, and where rect's pixels sit in it; empty when not trimmed.
    QSize whole;
    QPoint at;
    bool rotated = false; // rect holds it turned a quarter clockwise: it is turned back
};

struct SplitPlan {
    QImage sheet;        // the sheet the frames are cut from
    QString warning;     // for the user, unless quiet: what the cut leaves out
    QList<SplitFrame> frames;
    QString folder;      // where the frames go
    QStringList names;   // each frame's file, relative to the folder
    QStringList files;   // the same, with the folder, for messages
    QString error;       // not empty: refused, and nothing may be written
};

// The frames a sheet's JSON names, in either layout (an object keyed by name, or a list with
// "filename"); a trimmed frame with its whole size and place in it, so that it is given back
// whole, a rotated one turned back; dataName is how messages call the file.
SplitPlan framesFromJson(const QByteArray &json, const QString &dataName);

// The same, read from the file at path for a sheet of the given size: refused, naming the file,
// when it is not a regular file, when it is larger than the data of such a sheet could be or
// than memory can parse, or when memory runs out while it is read.
SplitPlan framesFromJsonFile(const QString &path, QSize sheet, qint64 memory);

// The whole cells of cell's size, row by row from the top-left corner, named by their number.
SplitPlan framesFromGrid(QSize sheet, QSize cell);

// Checks plan against the sheet and gives every frame its file under folder: a PNG named after
// the frame (".png" added unless the name ends in it), the name's bytes as the JSON gives them
// (a name that was not UTF-8 comes back as the bytes it had). Refuses a rectangle outside the
// sheet, a name that is empty, absolute, holds "..", or would leave folder, and two frames
// whose files would be the same or one inside the other.
void placeFrames(SplitPlan &plan, QSize sheet, const QString &folder);

// Why the plan's files cannot be written for what is on disk already (a folder where a frame
// goes, a file where a folder must be made, a symbolic link on the way, which is never
// written through); empty when nothing is in the way.
QString blockedOnDisk(const SplitPlan &plan);

// The whole split planned before anything is written: the sheet at sheetPath read, its frames
// from the JSON at dataPath or, without one, cells of cell's size, each given its file under
// folder and checked against what is on disk.
SplitPlan planSplit(const QString &sheetPath, const QString &dataPath, QSize cell, const QString &folder);

// What a dry run of the split prints: the frame count, then each file with its rectangle.
QString splitReport(const SplitPlan &plan);

// Writes each frame of the plan, cut from sheet, as an RGBA PNG: all of them replaced together,
// or none. Folders the names hold are made, and taken away again when the frames are not
// written. False with *error naming the file and the cause.
bool writeFrames(const SplitPlan &plan, const QImage &sheet, QString *error);

} // namespace strip
