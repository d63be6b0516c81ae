#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstring>

namespace picture {

// Bounds-checked little- and big-endian reads; callers check the size first, these only
// guard against a mistake in that check.
class Bytes
{
public:
    explicit Bytes(const QByteArray &data)
        : m_data(reinterpret_cast<const uchar *>(data.constData())), m_size(data.size()) {}

    qint64 size() const { return m_size; }
    bool has(qint64 pos, qint64 count) const { return pos >= 0 && count >= 0 && pos <= m_size - count; }
    uchar u8(qint64 pos) const { return has(pos, 1) ? m_data[pos] : 0; }
    quint16 le16(qint64 pos) const { return has(pos, 2) ? qFromLittleEndian<quint16>(m_data + pos) : 0; }
    quint32 le32(qint64 pos) const { return has(pos, 4) ? qFromLittleEndian<quint32>(m_data + pos) : 0; }
    qint32 les32(qint64 pos) const { return has(pos, 4) ? qFromLittleEndian<qint32>(m_data + pos) : 0; }
    quint16 be16(qint64 pos) const { return has(pos, 2) ? qFromBigEndian<quint16>(m_data + pos) : 0; }
    quint32 be32(qint64 pos) const { return has(pos, 4) ? qFromBigEndian<quint32>(m_data + pos) : 0; }
    bool startsWith(qint64 pos, const char *text, qint64 count) const
    {
        return has(pos, count) && std::memcmp(m_data + pos, text, size_t(count)) == 0;
    }

private:
    const uchar *m_data;
    qint64 m_size;
};

} // namespace picture
