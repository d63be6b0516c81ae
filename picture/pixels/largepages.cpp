#include "picture/pixels/largepages.h"

#include <QColorSpace>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#if defined(Q_OS_UNIX)
#include <sys/mman.h>
#endif

namespace picture {

namespace {

constexpr size_t largePageBytes = kLargePageBytes;

#if defined(Q_OS_UNIX)
struct Mapping {
    void *base;
    size_t length;
};

void unmap(void *info)
{
    auto *mapping = static_cast<Mapping *>(info);
    munmap(mapping->base, mapping->length);
    delete mapping;
}

// length bytes of zeroed memory starting on a large-page boundary, the system asked to back it
// with large pages; nullptr when it cannot be had. The length is rounded up to whole large
// pages, which is all the system backs with them.
Mapping *mapLargePages(size_t length)
{
    const size_t pageMask = largePageBytes - 1;
    if (length > SIZE_MAX - 2 * largePageBytes)
        return nullptr;
    length = (length + pageMask) & ~pageMask;
    const size_t reserved = length + largePageBytes;
    void *p = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    // Only the aligned part is kept: large pages cover aligned 2 MB blocks only.
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t start = (at + largePageBytes - 1) & ~uintptr_t(largePageBytes - 1);
    const size_t head = start - at;
    if (head)
        munmap(p, head);
    if (const size_t tail = reserved - head - length)
        munmap(reinterpret_cast<void *>(start + length), tail);
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void *>(start), length, MADV_HUGEPAGE); // a hint: without it, small pages
#endif
    auto *mapping = new (std::nothrow) Mapping{reinterpret_cast<void *>(start), length};
    if (!mapping)
        munmap(reinterpret_cast<void *>(start), length);
    return mapping;
}

// Pictures are copied one after another into shared blocks of large pages: a strip's worth of
// pictures of any size then costs one fault per 2 MB. A block goes back to the system when its
// last picture is gone; the large pages that lie wholly inside a picture as soon as it is.
constexpr size_t blockBytes = size_t(64) << 20;

struct Block {
    Mapping *mapping;
    size_t used;
    std::atomic<int> users; // its pictures, and the store while the store is filling it
};

struct Piece {
    Block *block;
    uchar *data;
    size_t length;
};

void release(Block *block)
{
    if (block->users.fetch_sub(1) == 1) {
        unmap(block->mapping);
        delete block;
    }
}

void releasePiece(void *info)
{
    auto *piece = static_cast<Piece *>(info);
    // Only whole large pages inside the picture: its neighbours may share the pages at its
    // ends, and splitting a large page would cost more than keeping it until its block goes.
    const uintptr_t at = reinterpret_cast<uintptr_t>(piece->data);
    const uintptr_t begin = (at + largePageBytes - 1) & ~uintptr_t(largePageBytes - 1);
    const uintptr_t end = (at + piece->length) & ~uintptr_t(largePageBytes - 1);
    if (begin < end)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
    release(piece->block);
    delete piece;
}

std::mutex storeLock;
Block *filling = nullptr; // guarded by storeLock

// Room for length bytes in the block being filled, in a new one when it has none left, or in
// a block of its own for a picture that would fill most of one; nullptr when it cannot be had.
Piece *takePiece(size_t length)
{
    length = (length + 63) & ~size_t(63);
    const bool alone = length > blockBytes / 4;
    std::lock_guard<std::mutex> lock(storeLock);
    Block *block = alone ? nullptr : filling;
    if (!block || block->mapping->length - block->used < length) {
        Mapping *mapping = mapLargePages(std::max(length, alone ? size_t(0) : blockBytes));
        if (!mapping)
            return nullptr;
        block = new (std::nothrow) Block{mapping, 0, {alone ? 0 : 1}};
        if (!block) {
            unmap(mapping);
            return nullptr;
        }
        if (!alone) {
            if (filling)
                release(filling);
            filling = block;
        }
    }
    auto *piece = new (std::nothrow) Piece{block, static_cast<uchar *>(block->mapping->base) + block->used, length};
    if (!piece) {
        if (alone) { // no picture holds it yet: its count is still 0
            unmap(block->mapping);
            delete block;
        }
        return nullptr;
    }
    block->used += length;
    block->users.fetch_add(1);
    return piece;
}
#endif

} // namespace

QImage largePageImage(int width, int height, qsizetype bytesPerLine, QImage::Format format)
{
#if defined(Q_OS_UNIX)
    if (width <= 0 || height <= 0 || bytesPerLine <= 0 || bytesPerLine > PTRDIFF_MAX / height)
        return {};
    Mapping *mapping = mapLargePages(size_t(bytesPerLine) * size_t(height));
    if (!mapping)
        return {};
    QImage image(static_cast<uchar *>(mapping->base), width, height, bytesPerLine, format, unmap, mapping);
    if (image.isNull()) // Qt refused the size: the memory was never handed over
        unmap(mapping);
    return image;
#else
    Q_UNUSED(width) Q_UNUSED(height) Q_UNUSED(bytesPerLine) Q_UNUSED(format)
    return {};
#endif
}


QImage inLargePages(const QImage &picture)
{
#if defined(Q_OS_UNIX)
    if (picture.isNull())
        return picture;
    try {
        const size_t bytes = size_t(picture.sizeInBytes());
        Piece *piece = takePiece(bytes);
        if (!piece)
            return picture;
        std::memcpy(piece->data, picture.constBits(), bytes);
        QImage copy(piece->data, picture.width(), picture.height(), picture.bytesPerLine(), picture.format(),
                    releasePiece, piece);
        if (copy.isNull()) { // Qt refused it: the memory was never handed over
            releasePiece(piece);
            return picture;
        }
        copy.setColorTable(picture.colorTable());
        copy.setDotsPerMeterX(picture.dotsPerMeterX());
        copy.setDotsPerMeterY(picture.dotsPerMeterY());
        copy.setOffset(picture.offset());
        copy.setDevicePixelRatio(picture.devicePixelRatio());
        copy.setColorSpace(picture.colorSpace());
        for (const QString &key : picture.textKeys())
            copy.setText(key, picture.text(key));
        return copy;
    } catch (const std::bad_alloc &) { // the picture as it is serves as well
        return picture;
    }
#else
    return picture;
#endif
}

QImage blankInLargePages(int width, int height, QImage::Format format)
{
#if defined(Q_OS_UNIX)
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (width <= 0 || height <= 0 || depth <= 0 || format == QImage::Format_Invalid)
        return {};
    const qint64 bytesPerLine = ((qint64(width) * depth + 31) >> 5) << 2;
    if (bytesPerLine > PTRDIFF_MAX / height)
        return {};
    Piece *piece = takePiece(size_t(bytesPerLine) * size_t(height)); // new memory: all zero
    if (!piece)
        return {};
    QImage image(piece->data, width, height, qsizetype(bytesPerLine), format, releasePiece, piece);
    if (image.isNull()) // Qt refused it: the memory was never handed over
        releasePiece(piece);
    return image;
#else
    Q_UNUSED(width) Q_UNUSED(height) Q_UNUSED(format)
    return {};
#endif
}

} // namespace picture
