#include "picture/codecs/bitmapfile.h"


#include <limits>
#include <vector>

namespace picture {

namespace {

constexpr qint64 headerBytes = 14 + 40;

qint64 rowBytes(int width)
{
    return (qint64(width) * 3 + 3) & ~qint64(3);
}

void put16(uchar *at, quint16 v)
{
    at[0] = uchar(v);
    at[1] = uchar(v >> 8);
}

void put32(uchar *at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uchar(v >> (8 * i));
}

} // namespace

qint64 bitmapFileSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return -1;
    const qint64 size = headerBytes + rowBytes(width) * height;
    return size > qint64(std::numeric_limits<quint32>::max()) ? -1 : size;
}

QByteArray bitmapHeader(int width, int height)
{
    const qint64 fileSize = bitmapFileSize(width, height);
    uchar header[headerBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, quint32(fileSize));
    put32(header + 10, quint32(headerBytes));      // offset of the pixels
    put32(header + 14, 40);                        // BITMAPINFOHEADER
    put32(header + 18, quint32(width));
    put32(header + 22, quint32(height));           // positive: bottom-up rows
    put16(header + 26, 1);                         // planes
    put16(header + 28, 24);                        // bits per pixel
    put32(header + 30, 0);                         // BI_RGB
    put32(header + 34, quint32(fileSize - headerBytes));
    put32(header + 38, 2835);                      // 72 dots per inch
    put32(header + 42, 2835);
    return QByteArray(reinterpret_cast<const char *>(header), headerBytes);
}

bool writeBitmapRows(SaveSink &sink, const QImage &pixels, int firstRow, int endRow)
{
    // The rows already have the file's layout (BGR); they go to the file from where they lie,
    // bottom-up, each followed by zeros up to four bytes where the width needs them: the
    // image's own padding bytes are not guaranteed to be zero.
    static constexpr char zeros[4] = {};
    const size_t pixelBytes = size_t(pixels.width()) * 3;
    const qint64 padding = rowBytes(pixels.width()) - qint64(pixelBytes);
    // A few megabytes a call: much larger writes made the system stall the writer now and then
    // while it caught up with the dirty pages (w2's write took 550 ms instead of 220 at times).
    constexpr int rowsPerCall = 64;
    std::vector<SaveSink::Part> parts;
    parts.reserve(size_t(rowsPerCall) * 2);
    for (int y = endRow - 1; y >= firstRow;) {
        parts.clear();
        for (int r = 0; r < rowsPerCall && y >= firstRow; ++r, --y) {
            parts.push_back({reinterpret_cast<const char *>(pixels.constScanLine(y)), qint64(pixelBytes)});
            if (padding)
                parts.push_back({zeros, padding});
        }
        if (!sink.write(std::span<const SaveSink::Part>(parts)))
            return false;
    }
    return true;
}

} // namespace picture
