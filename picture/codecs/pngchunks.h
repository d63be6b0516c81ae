#pragma once

#include <QString>

#include "picture/base/bytes.h"

namespace picture {

// One chunk of a PNG: its length field at pos, then its type, its data and its checksum.
struct PngChunk {
    qint64 pos = 0;
    qint64 length = 0;  // of its data, as declared
    char type[4] = {};

    qint64 data() const { return pos + 8; }
    qint64 crc() const { return pos + 8 + length; } // the checksum covers type and data
    qint64 end() const { return pos + 12 + length; }
    bool is(const char *kind) const;
    // The type for a message, each byte that would not show as '?'.
    QString name() const;
};

// The chunks of a PNG at [start, end) of b (start: its signature), one after another; every
// reader of PNG chunks goes through here. A chunk is handed out only when it lies whole (its
// checksum too) within the bounds and its length is one PNG allows (below 2^31).
class PngChunks
{
public:
    PngChunks(const Bytes &b, qint64 start, qint64 end) : m_b(b), m_pos(start + 8), m_end(end) {}

    enum class Stop {
        None,       // a chunk was handed out
        NoHeader,   // no room is left for the next chunk's length and type
        Cut,        // the next chunk (*chunk, its length and type) runs past the end
    };

    // The next chunk in *chunk; false with stop() set when there is none whole.
    bool next(PngChunk *chunk);
    Stop stop() const { return m_stop; }

private:
    const Bytes &m_b;
    qint64 m_pos;
    qint64 m_end;
    Stop m_stop = Stop::None;
};

} // namespace picture
