#include "picture/pixels/surface.h"

#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "picture/pixels/largepages.h"
#include "picture/base/threads.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace picture {

namespace {

// A surface takes large pages from a sixteenth of one on; below that, the rest of the page
// would be mostly waste.
constexpr qint64 largePageSurfaceBytes = qint64(kLargePageBytes / 16);

// A QImage of that size in the surface's layout, or a null image when it cannot be had.
QImage allocate(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    const qint64 bytesPerLine = (qint64(width) * 3 + 3) & ~qint64(3);
    if (bytesPerLine * height >= largePageSurfaceBytes) {
        if (QImage image = largePageImage(width, height, qsizetype(bytesPerLine), QImage::Format_BGR888); !image.isNull())
            return image;
    }
    try {
        return QImage(width, height, QImage::Format_BGR888); // null when Qt refuses the size
    } catch (const std::bad_alloc &) {
        return {};
    }
}

// Gives rows first .. end - 1 of image (BGR888) the colour: the first row is built once,
// every other row copied from it.
void fillRows(QImage &image, int first, int end, const QColor &colour)
{
    if (first >= end)
        return;
    const size_t bytes = size_t(image.width()) * 3;
    uchar *row = image.scanLine(first);
    const uchar b = uchar(colour.blue()), g = uchar(colour.green()), r = uchar(colour.red());
    if (b == g && g == r) {
        std::memset(row, b, bytes);
    } else {
        for (size_t i = 0; i < bytes; i += 3) {
            row[i] = b;
            row[i + 1] = g;
            row[i + 2] = r;
        }
    }
    for (int y = first + 1; y < end; ++y)
        std::memcpy(image.scanLine(y), row, bytes);
}

// A straight-alpha colour over what lies beneath, per channel: round((c a + d (255 - a)) / 255),
// halves up, in integers, so the same pixels always give the same bytes.
inline uchar blend(uint c, uint d, uint a)
{
    return uchar((c * a + d * (255 - a) + 127) / 255);
}

void rgbToBgrPlain(uchar *dst, const uchar *src, int columns)
{
    for (int i = 0; i < columns; ++i, src += 3, dst += 3) {
        const uchar r = src[0];
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = r;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per step with one byte shuffle. Each step reads and writes 16 bytes, one past its
// five pixels; that byte belongs to the next step, which rewrites it, so the last step must
// leave at least one more pixel to the plain loop.
__attribute__((target("ssse3"))) void rgbToBgrShuffle(uchar *dst, const uchar *src, int columns)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int i = 0;
    for (; i + 6 <= columns; i += 5, src += 15, dst += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm_shuffle_epi8(v, order));
    }
    rgbToBgrPlain(dst, src, columns - i);
}

// Asked once; the processor's features may be read before any constructor has run.
const bool haveShuffle = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}();
#endif

// RGB888 to BGR888 (the same swap both ways). Source and destination never overlap.
void rgbToBgr(uchar *dst, const uchar *src, int columns)
{
#if defined(__x86_64__) || defined(__i386__)
    if (haveShuffle)
        return rgbToBgrShuffle(dst, src, columns);
#endif
    rgbToBgrPlain(dst, src, columns);
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
        fillRows(resized, 0, height, m_background);
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

void Surface::clear()
{
    if (!m_pixels.isNull())
        fillRows(m_pixels, 0, m_height, m_background);
}

void Surface::draw(const QImage &picture, int x, int y)
{
    if (picture.isNull() || m_pixels.isNull())
        return;
    drawRows(picture, x, y, 0, m_height, m_pixels.bits());
}

void Surface::drawRows(const QImage &picture, int x, int y, int firstRow, int endRow, uchar *base) const
{
    // The part of the picture that lands on the surface; 64-bit so that far positions cannot wrap.
    const qint64 left = std::max<qint64>(x, 0);
    const qint64 top = std::max<qint64>({qint64(y), 0, qint64(firstRow)});
    const qint64 right = std::min<qint64>(qint64(x) + picture.width(), m_width);
    const qint64 bottom = std::min<qint64>({qint64(y) + picture.height(), qint64(m_height), qint64(endRow)});
    if (left >= right || top >= bottom)
        return;
    const int srcX = int(left - x);
    const int srcY = int(top - y);
    const int columns = int(right - left);
    const int rows = int(bottom - top);

    const QImage::Format format = picture.format();
    if (format != QImage::Format_BGR888 && format != QImage::Format_RGB888
        && format != QImage::Format_RGB32 && format != QImage::Format_ARGB32) {
        // Convert only the part that shows, so a far-clipped large picture costs little.
        const QImage part = picture.copy(srcX, srcY, columns, rows);
        drawRows(part.convertToFormat(part.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32),
                 int(left), int(top), firstRow, endRow, base);
        return;
    }

    const qsizetype stride = m_pixels.bytesPerLine();
    for (int row = 0; row < rows; ++row) {
        uchar *dst = base + (top + row) * stride + left * 3;
        const uchar *line = picture.constScanLine(srcY + row);
        switch (format) {
        case QImage::Format_BGR888:
            std::memcpy(dst, line + qsizetype(srcX) * 3, size_t(columns) * 3);
            break;
        case QImage::Format_RGB888:
            rgbToBgr(dst, line + qsizetype(srcX) * 3, columns);
            break;
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
        default: { // ARGB32, straight alpha: source over
            const QRgb *src = reinterpret_cast<const QRgb *>(line) + srcX;
            for (int i = 0; i < columns; ++i, dst += 3) {
                const QRgb p = src[i];
                const uint a = p >> 24;
                if (a == 255) {
                    dst[0] = uchar(p);
                    dst[1] = uchar(p >> 8);
                    dst[2] = uchar(p >> 16);
                } else if (a != 0) {
                    dst[0] = blend(p & 0xff, dst[0], a);
                    dst[1] = blend((p >> 8) & 0xff, dst[1], a);
                    dst[2] = blend((p >> 16) & 0xff, dst[2], a);
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
