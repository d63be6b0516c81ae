#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

#include <span>

#include "picture/picture.h"
#include "picture/savefile.h"
#include "strip/grid.h"

namespace picture {
class PictureHolder;
class Surface;
}

namespace strip {

// The hidden frame holders a window keeps: theFrame(0 To 101).
constexpr int kFrameHolders = 102;

// What one run of the write command may hold in memory by default: half the machine's memory
// and at most 6 GiB, so that a machine without room for more hears why rather than having the
// system end the program.
qint64 defaultCommandMemory();

// What one run of the write command may hold in memory: its pictures and its strip together.
struct CommandBudget {
    picture::Budget picture;
    qint64 maxTotalBytes = defaultCommandMemory();
};

struct GatherResult {
    int loaded = 0;              // holders 0 .. loaded-1 hold the pictures
    picture::Loaded failure;     // the first file, in list order, that could not be loaded
    bool ok() const { return failure.ok(); }
};

// Loads paths[k] into holders[k] in list order; stops at the first picture that cannot be
// loaded or that takes the command past its memory budget. The budget is charged with the sizes
// the headers declare before anything is decoded.
GatherResult loadPictures(const QStringList &paths, std::span<picture::PictureHolder *const> holders,
                          const CommandBudget &budget = {});

struct ComposeResult {
    bool ok = true;
    QString message; // why the strip cannot be made (too large), with its size
    Grid grid;
};

// Cell size from holder 0, the strip cleared from clearimage and sized (height, then width),
// then each picture drawn at its cell, later ones over earlier ones.
ComposeResult compose(std::span<picture::PictureHolder *const> holders, int frameTotal, double horizontal,
                      picture::Surface &strip, const picture::Surface &clearimage,
                      qint16 &bmpWidth, qint16 &bmpHeight, const CommandBudget &budget = {});

} // namespace strip
