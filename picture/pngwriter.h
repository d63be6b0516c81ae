#pragma once

#include <QImage>
#include <QString>

#include "picture/savefile.h"

struct spng_ctx;

namespace picture {

// The largest side a PNG may declare.
constexpr qint64 kPngMaxSide = 0x7fffffff;

// Encodes an 8-bit RGBA PNG of width x height into a sink, rows handed over from the top down
// in bands of any height; only the compressor's own state is kept between bands.
class PngWriter
{
public:
    PngWriter(SaveSink &sink, int width, int height);
    ~PngWriter();
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    // Rows first .. end - 1 of band, Format_RGBA8888 with straight alpha, the band as wide as
    // the PNG. False once the encoder or the sink has failed; error() then says why.
    bool writeRows(const QImage &band, int first, int end);
    // Ends the file after its last row.
    bool finish();
    QString error() const { return m_error; }

private:
    bool check(int status);

    spng_ctx *m_ctx = nullptr;
    SaveSink &m_sink;
    QString m_error;
};

} // namespace picture
