#pragma once

#include <QImage>

#include <cstddef>

namespace picture {

// Memory asked from the system in large pages: a fault then fills 2 MB where it would otherwise
// fill 4 KB, and on some machines faults are most of a strip's cost.
inline constexpr size_t kLargePageBytes = size_t(2) << 20;

// An image of its own over large-page memory, every byte 0; null when such memory cannot be had.
QImage largePageImage(int width, int height, qsizetype bytesPerLine, QImage::Format format);

// The same picture (pixels, colour table, resolution, colour space, text) in memory that the
// system may back with large pages, shared with the pictures copied before it: holding a
// strip's worth of pictures then costs a small part of the page faults, and the memory the
// picture was decoded in is free for the next one. Without such memory, it comes back as it is.
QImage inLargePages(const QImage &picture);

// A picture of that size and format, every byte 0, in the same memory, for a decoder to fill in
// place; null when such memory cannot be had.
QImage blankInLargePages(int width, int height, QImage::Format format);

} // namespace picture
