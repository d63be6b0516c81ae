#pragma once

#include <QImage>
#include <QSize>

namespace browse {

// picture stretched or reduced to exactly size, its aspect ratio not kept. A side that grows is
// enlarged by repeating pixels, so that small pixel art stays a set of crisp blocks; a side that
// shrinks is reduced smoothly.
QImage previewImage(const QImage &picture, QSize size);

} // namespace browse
