#pragma once

#include <QImage>
#include <QSize>

namespace picture {

// A picture's size times num / den (both positive), each side rounded to the nearest whole pixel,
// halves up, and at least 1: a frame of a resized sheet never gets half pixels.
QSize scaledSize(QSize size, qint64 num, qint64 den);

// picture reduced to size, no side of it larger than the picture's, by area averaging in exact
// integers. Along each axis output pixel i of n covers source pixels [i * N / n, (i + 1) * N / n)
// of the N, the ones it cuts partly by the part they lie in; alpha is the covered pixels' mean,
// each colour their mean weighted by alpha as well, each rounded to nearest (halves up) once. A
// pixel that covers only fully transparent ones is (0, 0, 0, 0): their colour never bleeds into
// an edge. Format_ARGB32 (straight alpha), or Format_RGB32 for a picture without alpha; null
// when the memory cannot be had.
QImage areaReduced(const QImage &picture, QSize size);

} // namespace picture
