#include "picture/surface.h"

#include <QVariant>

#include <algorithm>
#include <cstring>
#include <new>

namespace picture {

namespace {

// A QImage of that size in the surface's layout, or a null image when it cannot be had.
QImage allocate(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    try {
        return QImage(width, height, QImage::Format_BGR888); // null when Qt refuses the size
    } catch (const std::bad_alloc &) {
        return {};
    }
}

// (v + 127) / 255 without a division: exact for every v in 0 .. 255 * 255.
inline uint divide255(uint v)
{
    v += 128;
    return (v + (v >> 8)) >> 8;
}

} // namespace

Surface::Surface(int width, int height, const QColor &background, QObject *parent)
    : QObject(parent), m_background(background)
{
    resize(width, height);
}

bool Surface::setWidth(int width)
{
    return resize(width, m_height);
}

bool Surface::setHeight(int height)
{
    return resize(m_width, height);
}

bool Surface::resize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == m_width && height == m_height)
        return true;
    QImage resized;
    if (width > 0 && height > 0) {
        resized = allocate(width, height);
        if (resized.isNull())
            return false;
        resized.fill(m_background);
        const int keepRows = std::min(height, m_pixels.height());
        const qsizetype keepBytes = qsizetype(std::min(width, m_pixels.width())) * 3;
        for (int y = 0; y < keepRows; ++y)
            std::memcpy(resized.scanLine(y), m_pixels.constScanLine(y), size_t(keepBytes));
    }
    m_pixels = std::move(resized);
    m_width = width;
    m_height = height;
    return true;
}

void Surface::takeOver(const Surface &empty)
{
    if (empty.width() != m_width || empty.height() != m_height) {
        QImage taken = allocate(empty.width(), empty.height());
        if (!taken.isNull() || empty.width() == 0 || empty.height() == 0) {
            m_pixels = std::move(taken);
            m_width = empty.width();
            m_height = empty.height();
        }
    }
    clear();
}

void Surface::clear()
{
    if (!m_pixels.isNull())
        m_pixels.fill(m_background);
}

void Surface::draw(const QImage &picture, int x, int y)
{
    if (picture.isNull() || m_pixels.isNull())
        return;

    // The part of the picture that lands on the surface; 64-bit so that far positions cannot wrap.
    const qint64 left = std::max<qint64>(x, 0);
    const qint64 top = std::max<qint64>(y, 0);
    const qint64 right = std::min<qint64>(qint64(x) + picture.width(), m_width);
    const qint64 bottom = std::min<qint64>(qint64(y) + picture.height(), m_height);
    if (left >= right || top >= bottom)
        return;
    const int srcX = int(left - x);
    const int srcY = int(top - y);
    const int columns = int(right - left);
    const int rows = int(bottom - top);

    const QImage::Format format = picture.format();
    if (format != QImage::Format_BGR888 && format != QImage::Format_RGB888
        && format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) {
        // Convert only the part that shows, so a far-clipped large picture costs little.
        const QImage part = picture.copy(srcX, srcY, columns, rows);
        draw(part.convertToFormat(part.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32),
             int(left), int(top));
        return;
    }

    for (int row = 0; row < rows; ++row) {
        uchar *dst = m_pixels.scanLine(int(top) + row) + left * 3;
        const uchar *line = picture.constScanLine(srcY + row);
        switch (format) {
        case QImage::Format_BGR888:
            std::memcpy(dst, line + qsizetype(srcX) * 3, size_t(columns) * 3);
            break;
        case QImage::Format_RGB888: {
            const uchar *src = line + qsizetype(srcX) * 3;
            for (int i = 0; i < columns; ++i, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
            break;
        }
        case QImage::Format_RGB32: {
            const QRgb *src = reinterpret_cast<const QRgb *>(line) + srcX;
            for (int i = 0; i < columns; ++i, dst += 3) {
                const QRgb p = src[i];
                dst[0] = uchar(p);
                dst[1] = uchar(p >> 8);
                dst[2] = uchar(p >> 16);
            }
            break;
        }
        default: { // ARGB32_Premultiplied: source-over
            const QRgb *src = reinterpret_cast<const QRgb *>(line) + srcX;
            for (int i = 0; i < columns; ++i, dst += 3) {
                const QRgb p = src[i];
                const uint a = p >> 24;
                if (a == 255) {
                    dst[0] = uchar(p);
                    dst[1] = uchar(p >> 8);
                    dst[2] = uchar(p >> 16);
                } else if (a != 0 || (p & 0xffffff) != 0) {
                    const uint keep = 255 - a;
                    // Clamped because a picture that is not truly premultiplied could overflow.
                    dst[0] = uchar(std::min(255u, (p & 0xff) + divide255(dst[0] * keep)));
                    dst[1] = uchar(std::min(255u, ((p >> 8) & 0xff) + divide255(dst[1] * keep)));
                    dst[2] = uchar(std::min(255u, ((p >> 16) & 0xff) + divide255(dst[2] * keep)));
                }
            }
            break;
        }
        }
    }
}

PictureHolder::PictureHolder(int index, QObject *parent) : QObject(parent), m_index(index)
{
    setObjectName(QStringLiteral("theFrame"));
    setProperty("index", index);
}

} // namespace picture
