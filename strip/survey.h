#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

#include "strip/bands.h"

namespace strip {

// What one frame shows, learnt before the sheet is laid out: frames of the same pixels then
// share a cell, and cells shrink to what any frame shows.
struct FrameLook {
    QByteArray digest; // of the frame's size and pixels as the sheet takes them, when asked for
    QRect visible;     // its pixels that are not fully transparent, in its own unscaled pixels
};

// Reads every frame of job once, each source's in order on every core, and looks at it; one
// look a frame of job.frames, with its digest when digests asks (hashing every pixel costs about
// a third of reading them). Empty, or why a picture cannot be read (naming it), as composing
// would refuse it.
QString surveyFrames(const SheetJob &job, QList<FrameLook> *looks, bool digests);

} // namespace strip
