#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

#include "picture/source/animation.h"
#include "picture/source/picture.h"
#include "picture/pixels/rgbaband.h"
#include "strip/sheet.h"

namespace strip {

// One input file of a sheet: a picture, or an animated GIF that gives every frame.
struct SheetSource {
    QString path;
    bool allFrames = false;
    int frames = 1;
    QSize size;                // every frame's size on the sheet: the header's, times the sheet's scale
    QSize reducedFrom;         // when the sheet takes the frames reduced (to size): the header's
                               // size; empty when not
    picture::Source picture;   // the file, opened once; its header gave the facts above
    QString layer;             // the one layer of an editor's file it shows; empty: all of them
    QList<QImage> decoded;     // its frames when the caller decoded them ahead; otherwise they
                               // are decoded when the first band that shows them comes
};

// One cell's picture: frame `frame` of source `source`.
struct SheetFrame {
    int source = 0;
    int frame = 0;
};

// A sheet to compose: its inputs, its frames in cell order, its layout.
struct SheetJob {
    QList<SheetSource> sources;
    QList<SheetFrame> frames;
    Sheet sheet;
    picture::Budget budget;
    int bytesPerPixel = 3;   // of a band: 3 for a bitmap, 4 for RGBA
    picture::TransparentColour transparent = picture::TransparentColour::Keep;
    bool premultiplied = false; // the sheet's colours multiplied by their alpha once composed
    // Sources that a later job reads too (the next page of the sheet): their files stay open
    // after this job's last band. Empty: every file is let go.
    QList<bool> keptSources;
};

// For each source of job, the first source reading the same file: the layers of an editor's
// file are sources of their own sharing its bytes, which may go only after the last is drawn.
QList<int> fileOwners(const SheetJob &job);

// Frame `frame` of source into *image, read forward: from the frames decoded already, or from
// stream (made when first needed), which never goes back, so that an animation read in frame
// order is read once. False with *refusal naming the file and the cause when the file gives out.
bool frameOf(const SheetSource &source, int frame, std::unique_ptr<picture::FrameStream> &stream, QImage *image,
             QString *refusal);

// A frame as read checked against the size source's header declares (at a sheet's scale), then
// reduced to source.size when the sheet takes it reduced: the frame every later step sees. False
// with *error naming the file and the cause; a failure of memory is the file's refusal too.
bool takenFrame(const SheetSource &source, int scale, QImage *image, QString *error);

// Which end of the sheet is composed first: a bitmap stores its bottom row first.
enum class BandOrder { TopDown, BottomUp };

// Rows [top, end) of the sheet that are composed together.
struct Band {
    qint64 top = 0;
    qint64 end = 0;
};

// The bands of a sheet in the order they are composed: one row of cells at a time, each split
// so that no band takes more than a few megabytes.
QList<Band> planBands(const SheetJob &job, BandOrder order);

// The most memory composing the sheet holds at once: the band, the pictures decoded ahead, and
// every picture that this band or a later one still needs.
qint64 peakBytes(const SheetJob &job, BandOrder order);

// Draws pictures onto one band; the band is then handed on.
struct BandCanvas {
    std::function<bool(int width, int rows)> reset;                 // false: no memory for it
    std::function<void(const QImage &picture, int x, int y)> draw;  // y from the band's top
    std::function<bool(const Band &band)> handOn;                    // false: the output failed
};

// The canvas of an RGBA sheet: pictures drawn onto band, which handOn then gets with the band's
// rows, their colours premultiplied first when job asks.
BandCanvas rgbaCanvas(picture::RgbaBand &band, const SheetJob &job,
                      const std::function<bool(const Band &band, const QImage &rows)> &handOn);

// Composes the sheet band by band in that order: each picture decoded when the first band
// that shows it comes, dropped after the last (an animation's frames read in order, one screen
// carried from frame to frame); in each band, pictures in cell order, later ones over earlier
// ones, each cell's edges then repeated outward when the sheet extrudes them. Each source's file
// is let go after its last band: a job is composed once. False with *error naming the file and the cause when a picture cannot be
// read, or when the canvas or output fails (then *error is empty: the caller knows why).
bool composeInBands(const SheetJob &job, BandOrder order, const BandCanvas &canvas, QString *error,
                    const std::function<void(int done, int total)> &progress = {});

} // namespace strip
