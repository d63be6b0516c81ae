#include "picture/codecs/pngchunks.h"

#include <cstring>

namespace picture {

bool PngChunk::is(const char *kind) const { return std::memcmp(type, kind, 4) == 0; }

QString PngChunk::name() const
{
    QString shown;
    for (const char c : type)
        shown += c >= 0x20 && c < 0x7f ? QLatin1Char(c) : QLatin1Char('?');
    return shown;
}

bool PngChunks::next(PngChunk *chunk)
{
    if (m_pos > m_end - 8 || !m_b.has(m_pos, 8)) {
        m_stop = Stop::NoHeader;
        return false;
    }
    chunk->pos = m_pos;
    chunk->length = m_b.be32(m_pos);
    for (int i = 0; i < 4; ++i)
        chunk->type[i] = char(m_b.u8(m_pos + 4 + i));
    if (chunk->length > 0x7fffffff || chunk->end() > m_end || !m_b.has(m_pos, 12 + chunk->length)) {
        m_stop = Stop::Cut;
        return false;
    }
    m_stop = Stop::None;
    m_pos = chunk->end();
    return true;
}

} // namespace picture
