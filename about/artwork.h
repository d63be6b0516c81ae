#pragma once

#include <QImage>

// The about box's two pictures, drawn by the program itself rather than shipped as files.
namespace artwork {

// The 50 x 50, 24-bit emblem on black: a badge holding a small sheet of animation frames.
QImage emblem();

// The 81 x 81, 24-bit logo: a film strip on blue with the program's name and version.
QImage logo();

} // namespace artwork
