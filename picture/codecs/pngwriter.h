#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <memory>

#include "picture/base/savefile.h"

namespace picture {

// How hard a writer works for a smaller file: fast, a good size at little cost, the smallest it
// can make with a slower search, or smaller still at many times that cost (Zopfli, for a PNG).
enum class Compression { Fast, Default, Best, Max };

// A PNG's colour type and bit depth; the palette when it has one.
struct PngLayout {
    enum Type { Grey = 0, Rgb = 2, Palette = 3, GreyAlpha = 4, Rgba = 6 };
    Type type = Rgba;
    int depth = 8;
    QList<QRgb> palette; // qRgba values in index order, the translucent ones first

    bool operator==(const PngLayout &) const = default;
};

// The smallest layout that keeps every pixel of rows [0, rows) of an RGBA picture
// (Format_RGBA8888, straight alpha) exactly: a palette of 1, 2, 4 or 8 bits for at most 256
// colours, else grey when every pixel is grey, and no alpha channel when every pixel is opaque.
PngLayout smallestLayout(const QImage &rgba, int rows);

class PngEncoder;

// The most memory the writer holds at once for a PNG that wide: the rows that wait for a chunk
// and every core's chunks in their filtered, tried and deflated forms; at Compression::Max also
// Zopfli's working memory for each chunk that cores deflate at once.
qint64 pngWriterBytes(int width, Compression compression = Compression::Default);

// Encodes a PNG of width x height into a sink from 8-bit RGBA rows handed over from the top
// down in bands of any height. Rows are filtered and deflated in chunks of a fixed number of
// rows on every core; the chunks join into one zlib stream, each primed with the last 32 KB of
// the one before, so the bytes depend on the pixels and the options alone.
class PngWriter
{
public:
    PngWriter(SaveSink &sink, int width, int height, const PngLayout &layout = {},
              Compression compression = Compression::Default);
    ~PngWriter();
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    // Rows first .. end - 1 of band, Format_RGBA8888 with straight alpha, the band as wide as
    // the PNG; every pixel must fit the layout. False once the encoder or the sink has failed;
    // error() then says why the encoder failed, and is empty when the sink did.
    bool writeRows(const QImage &band, int first, int end);
    // Ends the file after its last row.
    bool finish();
    QString error() const;

private:
    std::unique_ptr<PngEncoder> m_encoder;
};

} // namespace picture
