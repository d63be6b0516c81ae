#pragma once

#include <QColor>
#include <QImage>

namespace picture {

// A band of rows of a sheet with straight (not premultiplied) alpha, the layout of an 8-bit
// RGBA PNG row, so that a picture's half-transparent pixels keep their exact colour.
class RgbaBand
{
public:
    // background: any colour, or a fully transparent one.
    explicit RgbaBand(const QColor &background) : m_background(background.rgba()) {}

    // Becomes width x rows, every pixel the background; false when the memory cannot be had.
    bool reset(int width, int rows);
    // Draws picture with its top-left corner at (x, y), source over what lies beneath; what
    // falls outside the band is cut off.
    void draw(const QImage &picture, int x, int y);
    const QImage &pixels() const { return m_pixels; } // Format_RGBA8888
    // Multiplies every pixel's colour by its alpha, rounded to nearest once, for engines that
    // blend premultiplied colours.
    void premultiply();

private:
    QImage m_pixels;
    QRgb m_background;
};

// What becomes of the colour of a picture's fully transparent pixels on a sheet with alpha.
enum class TransparentColour {
    Keep,   // as the file gives it
    Clean,  // 0, which compresses better
    Bleed,  // the colour of the nearest visible pixel, so that filtering leaves no dark fringes
};

// The picture with straight alpha (ARGB32) and its fully transparent pixels' colours so made;
// alpha is never changed. Opaque pictures come back as they are; null when the memory for
// the work cannot be had. Given a picture nothing else shares, it is changed in place.
QImage withTransparentColour(QImage picture, TransparentColour mode);

// Straight-alpha "over" of source s on destination d, rounded to nearest: the one blend of
// every composition. With a the source's alpha and b the destination's (0 to 255):
//   A = 255·a + b·(255 − a)                      (the result's alpha, times 255)
//   alpha = round(A / 255),  colour = round((255·a·s + b·(255 − a)·d) / A)   for each channel.
// a = 0 leaves the destination as it is; a = 255, or a clear destination, takes the source.
QRgb over(QRgb s, QRgb d);

// An animation's screen handed out as a frame: RGB32 when every pixel is opaque, else a copy in
// straight ARGB32; null when the memory cannot be had.
QImage frameOfScreen(const QImage &screen);

} // namespace picture
