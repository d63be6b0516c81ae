#include "picture/codecs/bmprle.h"

#include <array>
#include <new>

namespace picture {

namespace {

// Writes palette indices into rows that count from the bottom of the picture, as the codes do,
// and ignores every index that falls outside it.
class Canvas
{
public:
    Canvas(QImage &image, const std::array<QRgb, 256> &palette, bool topDown)
        : m_image(image), m_palette(palette), m_topDown(topDown) {}

    bool done() const { return y >= m_image.height(); }
    void put(uchar index)
    {
        if (x < m_image.width() && !done()) {
            const int row = m_topDown ? y : m_image.height() - 1 - y;
            reinterpret_cast<QRgb *>(m_image.scanLine(row))[x] = m_palette[index];
        }
        ++x;
    }

    qint64 x = 0;
    qint64 y = 0;

private:
    QImage &m_image;
    const std::array<QRgb, 256> &m_palette;
    bool m_topDown;
};

} // namespace

QImage decodeRunLengthBmp(const QByteArray &data, const Header &h)
{
    QImage image(int(h.width), int(h.height), QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);

    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size = data.size();
    // Indices past the palette the file holds are black, as in a palette padded with zeros.
    std::array<QRgb, 256> palette;
    palette.fill(qRgb(0, 0, 0));
    for (int i = 0; i < h.rle.paletteColours && i < 256; ++i) {
        const qint64 at = h.rle.paletteStart + qint64(i) * h.rle.paletteEntry;
        if (at + 3 > size)
            break;
        palette[size_t(i)] = qRgb(bytes[at + 2], bytes[at + 1], bytes[at]);
    }

    const bool four = h.rle.bits == 4;
    Canvas canvas(image, palette, h.rle.topDown);
    qint64 pos = h.rle.pixelStart;
    while (!canvas.done() && pos >= 0 && pos + 2 <= size) {
        const uchar count = bytes[pos];
        const uchar code = bytes[pos + 1];
        pos += 2;
        if (count > 0) { // a run of one index, or of two alternating ones
            for (int i = 0; i < count; ++i)
                canvas.put(four ? ((i & 1) ? code & 0x0f : code >> 4) : code);
            continue;
        }
        switch (code) {
        case 0: // end of line
            canvas.x = 0;
            ++canvas.y;
            break;
        case 1: // end of picture: the rest stays transparent
            return image;
        case 2: // move right and up, leaving what is passed over transparent
            if (pos + 2 > size)
                return image;
            canvas.x += bytes[pos];
            canvas.y += bytes[pos + 1];
            pos += 2;
            break;
        default: { // literal indices, padded to a 16-bit boundary
            const qint64 length = four ? (code + 1) / 2 : code;
            if (pos + length > size)
                return image;
            for (int i = 0; i < code; ++i) {
                const uchar b = bytes[pos + (four ? i / 2 : i)];
                canvas.put(four ? ((i & 1) ? b & 0x0f : b >> 4) : b);
            }
            pos += (length + 1) & ~qint64(1);
        }
        }
    }
    return image;
}

QImage decodeIconBitmap32(const QByteArray &data, const Header &h)
{
    const int width = int(h.width);
    const int height = int(h.height);
    QImage image;
    try {
        image = QImage(width, height, QImage::Format_ARGB32);
    } catch (const std::bad_alloc &) {
        return {};
    }
    if (image.isNull())
        return {};
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint64 maskRow = (qint64(width) + 31) / 32 * 4;
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        const int stored = h.iconTopDown ? y : height - 1 - y;
        const uchar *in = bytes + h.iconPixels + qint64(stored) * width * 4;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x, in += 4) {
            out[x] = qRgba(in[2], in[1], in[0], in[3]);
            anyAlpha = anyAlpha || in[3] != 0;
        }
    }
    if (anyAlpha)
        return image;
    for (int y = 0; y < height; ++y) {
        const int stored = h.iconTopDown ? y : height - 1 - y;
        const uchar *mask = bytes + h.iconMask + stored * maskRow;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            if (!(mask[x / 8] & (0x80 >> (x % 8))))
                out[x] |= 0xff000000u;
    }
    return image;
}

} // namespace picture
