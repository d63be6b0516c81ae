#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>

namespace picture {

// A persistent drawing surface with a background colour. Its pixels are kept as BGR rows
// padded to four bytes, the layout of a 24-bit bitmap, so writing it needs no conversion.
class Surface : public QObject
{
    Q_OBJECT
public:
    Surface(int width, int height, const QColor &background, QObject *parent = nullptr);

    int width() const { return m_width; }
    int height() const { return m_height; }
    QColor background() const { return m_background; }
    const QImage &pixels() const { return m_pixels; }

    // Each resize keeps what fits and gives every new pixel the background colour.
    // Returns false, leaving the surface as it was, when the memory cannot be had.
    bool setWidth(int width);
    bool setHeight(int height);

    void clear();

    // Copies picture at its natural size with its top-left corner at (x, y), composed
    // source-over what lies beneath (RGB32, BGR888 and RGB888 copied; ARGB32 with straight alpha
    // blended exactly); what falls outside the surface is cut off.
    void draw(const QImage &picture, int x, int y);

private:
    bool resize(int width, int height);
    // draw() into the rows firstRow .. endRow - 1 of pixels that start at base.
    void drawRows(const QImage &picture, int x, int y, int firstRow, int endRow, uchar *base) const;

    QImage m_pixels; // Format_BGR888; null while either side is 0
    QColor m_background;
    // Kept apart from m_pixels: a surface 0 pixels wide must still remember its height.
    int m_width = 0;
    int m_height = 0;
};

// One member of the hidden frame holders: it takes the exact size of the picture put into it.
class PictureHolder : public QObject
{
    Q_OBJECT
public:
    PictureHolder(int index, QObject *parent = nullptr);

    int index() const { return m_index; }
    int width() const { return m_picture.isNull() ? 10 : m_picture.width(); }
    int height() const { return m_picture.isNull() ? 10 : m_picture.height(); }
    const QImage &picture() const { return m_picture; }
    void setPicture(QImage picture) { m_picture = std::move(picture); }

private:
    int m_index;
    QImage m_picture;
};

} // namespace picture
