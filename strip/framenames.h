#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "picture/source/sprite.h"

namespace strip {

struct SheetJob;

// How frames are named in a sheet's data: by the path within the input given (walk/1.png,
// spinner.gif#3), or by their number in the sheet ("0", "1", ...), which Phaser's helper for
// frame tags looks frames up by.
enum class NameScheme { Path, Index };

// Where one source of a sheet came from on the command line.
struct SourceOrigin {
    QString input;     // the argument as given: a file or a folder
    bool folder = false;
};

// A run of frames that plays as one animation: every frame of one input folder or of one
// animated GIF, or a run of still pictures given one by one.
struct FrameRun {
    QString name;
    int from = 0;  // frame numbers in the sheet, both ends included
    int to = 0;
    picture::SpriteTag::Direction direction = picture::SpriteTag::Direction::Forward;
    int plays = -1; // how many times it plays, 0 for ever; -1: as its file plays
};

struct FrameNaming {
    QStringList names;     // one a frame, in sheet order, all different
    QList<FrameRun> runs;  // in sheet order, names all different; every frame in one
    // The animations the data lists: the runs, but an editor's file with tags gives one a tag,
    // named file/tag; these may overlap and leave frames out.
    QList<FrameRun> animations;
    QString clash;         // not empty: why the names cannot be unique; nothing may be written
};

// Names job's frames. A folder's picture is named folder/file (the folder's own name), a file
// given by itself its file name; every frame of a GIF adds #n, counted from 0. Still pictures
// given one after another form one run named stillsName ("-2", "-3" added for later runs).
// A source showing one layer of an editor's file adds /layer to its file's name, and its run is
// named file/layer.
FrameNaming nameFrames(const SheetJob &job, const QList<SourceOrigin> &origins, NameScheme scheme,
                       const QString &stillsName);

} // namespace strip
