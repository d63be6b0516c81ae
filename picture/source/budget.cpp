#include "picture/source/picture.h"

#include <algorithm>

#include <unistd.h>

namespace picture {

qint64 Budget::defaultCommandMemory()
{
    constexpr qint64 most = qint64(6) * 1024 * 1024 * 1024;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return most;
    return std::min(most, qint64(pages) * pageSize / 2);
}

QString mebibytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

qint64 decodedBytes(int width, int height)
{
    return width > 0 && height > 0 ? qint64(width) * height * 4 : 0;
}

} // namespace picture
