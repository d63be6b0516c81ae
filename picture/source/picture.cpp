#include "picture/source/picture.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "picture/source/animation.h"
#include "picture/codecs/apng.h"
#include "picture/codecs/aseprite.h"
#include "picture/codecs/bmprle.h"
#include "picture/codecs/gif.h"
#include "picture/source/headers.h"
#include "picture/codecs/jpegdecoder.h"
#include "picture/base/nativepath.h"
#include "picture/source/qtglue.h"
#include "picture/source/refusals.h"
#include "picture/base/regularfile.h"
#include "picture/codecs/webp.h"

#include <fcntl.h>
#include <zlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace picture {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("picture", text); }

} // namespace

Format sniffFormat(const QByteArray &head)
{
    if (head.startsWith("BM"))
        return Format::Bmp;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Format::Gif;
    if (head.startsWith(QByteArrayView("\x00\x00\x01\x00", 4)))
        return Format::Ico;
    if (head.startsWith("\xff\xd8\xff"))
        return Format::Jpeg;
    return Format::Unknown;
}

Format sniffFormat(const QByteArray &head, const Budget &budget)
{
    const Format format = sniffFormat(head);
    if (format == Format::Unknown && budget.acceptPng && head.startsWith("\x89PNG\r\n\x1a\n"))
        return Format::Png;
    if (format == Format::Unknown && budget.acceptPng && isWebp(head))
        return Format::Webp;
    if (format == Format::Unknown && budget.acceptPng && isAseprite(head))
        return Format::Aseprite;
    return format;
}

namespace {

// Enough of any file to hold its header: an uncompressed bitmap is read on from its file.
constexpr qint64 kHeadBytes = 256 * 1024;
// Uncompressed bitmaps from this size on are read row by row from their file rather than held
// whole in memory beside their decoded pixels, which would double the peak for large ones.
constexpr qint64 kStreamFrom = 4 * 1024 * 1024;

struct OpenedFile {
    Loaded failure;                 // set when the file cannot be opened
    std::unique_ptr<QFile> file;
    qint64 size = 0;
};

// Opens path by the very bytes of its name (see base/nativepath.h) as a regular file.
OpenedFile openPicture(const QString &path, const QString &name, const Budget &budget)
{
    OpenedFile opened;
    RegularFile regular = openRegularFile(path);
    switch (regular.refused) {
    case RegularFile::Refused::No:
        break;
    case RegularFile::Refused::Missing:
        opened.failure = missing(name);
        return opened;
    case RegularFile::Refused::Unreadable:
        opened.failure = unreadable(name, regular.error);
        return opened;
    case RegularFile::Refused::Folder:
    case RegularFile::Refused::NotRegular:
        opened.failure = failure(LoadError::Unreadable, tr("Cannot load %1: %2.").arg(name, regular.cause()));
        return opened;
    }
    // No picture in the budget needs more bytes than an uncompressed 32-bit bitmap of it.
    if (regular.size > decodedBytes(1, 1) * budget.maxPixels + 1024 * 1024) {
        opened.failure = failure(LoadError::TooLarge, tr("Cannot load %1: the file is too large (%2 bytes).")
                                                          .arg(name).arg(regular.size));
        return opened;
    }
    opened.size = regular.size;
    opened.file = std::move(regular.file);
    return opened;
}

// The fraction of a JPEG's size that still covers view on both sides: 1, 2, 4 or 8.
int shrinkFor(const Header &h, QSize view)
{
    int shrink = 1;
    if (view.isEmpty())
        return shrink;
    for (int d : {2, 4, 8})
        if ((h.width + d - 1) / d >= view.width() && (h.height + d - 1) / d >= view.height())
            shrink = d;
    return shrink;
}

// Decodes the first picture of data, whose header h has passed every check; of an Aseprite
// file, with only the layer of that index when it is not -1.
Loaded decodeData(const QByteArray &data, const Header &h, const QString &name, const Budget &budget, Holding holding,
                  QSize view, int layer)
{
    if (h.aseprite) {
        QImage image;
        QString cause;
        if (!AsepritePlayer(data, h.aseprite, layer).next(&image, &cause))
            return refusedAsDamaged(name, cause, h.format);
        return finished(std::move(image), h, name, holding);
    }
    if (h.format == Format::Jpeg) {
        const int shrink = shrinkFor(h, view);
        JpegResult jpeg = decodeJpeg(data, decodedBytes(1, 1) * budget.maxPixels, holding, shrink);
        if (jpeg.error == LoadError::TooLarge)
            return failure(LoadError::TooLarge, tr("Cannot load %1: the picture is too large: %2.").arg(name, jpeg.cause), h.format);
        if (jpeg.error != LoadError::None)
            return refusedAsDamaged(name, jpeg.cause, h.format);
        Loaded result;
        result.format = h.format;
        result.image = std::move(jpeg.image);
        Header shrunk = h;
        shrunk.width = (h.width + shrink - 1) / shrink;
        shrunk.height = (h.height + shrink - 1) / shrink;
        return checkedSize(std::move(result), shrunk, name);
    }
    if (h.rle.bits || h.iconPixels >= 0) {
        QImage image = h.rle.bits ? decodeRunLengthBmp(data, h) : decodeIconBitmap32(data, h);
        if (image.isNull())
            return refusedAsDamaged(name, outOfMemory(), h.format);
        return finished(std::move(image), h, name, holding);
    }
    if (h.format == Format::Gif) {
        QImage image;
        QString cause;
        if (!GifPlayer(data).next(&image, &cause))
            return refusedAsDamaged(name, cause, h.format);
        return finished(std::move(image), h, name, holding);
    }
    // A WebP, and an APNG whose first frame is not its default image: libwebp, or the first
    // frame as the animation draws it.
    if ((h.format == Format::Png && !h.defaultImageIsFrame) || h.format == Format::Webp) {
        QImage image;
        QString cause;
        if (h.format == Format::Png)
            ApngPlayer(data).next(&image, &cause);
        else if (h.animated)
            WebpPlayer(data).next(&image, &cause);
        else
            image = decodeWebp(data, h, &cause);
        if (image.isNull())
            return refusedAsDamaged(name, cause, h.format);
        return finished(std::move(image), h, name, holding);
    }
    QString cause;
    QImage image = decodeWithQt(h.format == Format::Ico ? withTrustedIconSize(data, h) : data, h, &cause);
    if (image.isNull())
        return refusedAsDamaged(name, cause, h.format);
    return finished(std::move(image), h, name, holding);
}

} // namespace

namespace {

// Files from this size on are not held in memory between their header's checks and their
// decoding: they stay open and are read again, and must then be the very bytes checked. A sheet
// of a hundred photographs would otherwise hold all their files at once.
constexpr qint64 kReadAgainFrom = 64 * 1024;

// The files that sources keep open, those read again and the bitmaps read row by row alike,
// stay far below the system's limit on open files: beyond them, a source keeps none and opens
// its file again by its name when it is decoded, checking that it holds the bytes checked.
std::atomic<int> keptOpen{0};

// Asked each time: the limit can be lowered while the program runs.
int mostKeptOpen()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 256;
    return int(std::min<rlim_t>(256, limit.rlim_cur / 4));
}

// A place among the files kept open; false, taking none, when they are all taken.
bool takeOpenPlace()
{
    if (keptOpen.fetch_add(1) < mostKeptOpen())
        return true;
    --keptOpen;
    return false;
}

quint32 checksumOf(const QByteArray &bytes)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

} // namespace

// Shared by a source's copies; what the file holds goes for all of them at once when the last
// use of it lets go.
struct Source::Data {
    Header header;
    qint64 fileSize = 0;
    mutable QString path;                   // to open the file again when none is kept open
    mutable std::mutex lock;                // the bytes and the file's position are shared
    mutable QByteArray bytes;               // the whole file, or only its head when rows are read from file
    mutable std::unique_ptr<QFile> file;    // kept open: a plain bitmap too large to hold beside its
                                            // pixels, or a file to read again
    mutable bool holdsPlace = false;        // file holds a place among the files kept open
    mutable bool readAgain = false;         // the bytes went after the checks: read them again
    mutable bool rowsFromFile = false;      // a plain bitmap whose rows are read from its file
    mutable qint64 checkedBytes = 0;        // how much of the file the checksum covers, from its start
    mutable quint32 checksum = 0;           // of the bytes checked, when the file is opened or read again
    mutable bool released = false;

    ~Data() { letGo(); }
    void letGo() const
    {
        if (holdsPlace)
            --keptOpen;
        holdsPlace = false;
        bytes = QByteArray();
        file.reset();
    }
    // Keeps opened as the file, when a place among the files kept open is free.
    void keep(std::unique_ptr<QFile> opened) const
    {
        if (takeOpenPlace()) {
            file = std::move(opened);
            holdsPlace = true;
        }
    }
};

Source Source::refused(const QString &name, const Budget &budget, Loaded refusal)
{
    Source source;
    source.m_name = name;
    source.m_budget = budget;
    source.m_refusal = std::move(refusal);
    return source;
}

Source Source::fromData(const QByteArray &data, const QString &name, const Budget &budget, bool allFrames)
{
    Source source = refused(name, budget, {});
    auto held = std::make_shared<Data>();
    held->bytes = data;
    held->fileSize = data.size();
    const Format format = sniffFormat(data, budget);
    if (format == Format::Unknown) {
        source.m_refusal = notAPicture(name, budget.acceptPng);
        return source;
    }
    held->header = readHeader(data, format);
    const Header &h = held->header;
    source.m_refusal = refusalFor(h, name, budget);
    source.m_refusal.format = format;
    if (!source.m_refusal.ok())
        return source;
    source.m_size = QSize(int(h.width), int(h.height));
    const bool animation = format == Format::Gif || format == Format::Aseprite || h.animated;
    if (allFrames && animation) {
        source.m_allFrames = true;
        source.m_frames = countFrames(data, h, name, budget, &source.m_refusal, &source.m_delays, &source.m_plays);
        source.m_framesInFile = source.m_frames;
        if (!source.m_refusal.ok())
            return source;
    } else if (animation) {
        // Only the first is decoded: the others are counted, not checked.
        const AnimationFrames frames = format == Format::Gif ? readGifFrames(data, false)
                                     : format == Format::Png ? readApngFrames(data)
                                     : h.aseprite            ? asepriteFrames(*h.aseprite) : readWebpFrames(data);
        source.m_delays = frames.delays.mid(0, 1);
        source.m_framesInFile = std::max(1, frames.count);
    }
    source.m_data = std::move(held);
    return source;
}

Source Source::open(const QString &path, const QString &name, const Budget &budget, bool allFrames)
{
    OpenedFile opened = openPicture(path, name, budget);
    if (!opened.file)
        return refused(name, budget, opened.failure);
    QFile &file = *opened.file;
    // No more than the file holds: a read keeps all the room it asked for, and a sheet of
    // thousands of small pictures would hold a quarter of a megabyte for each.
    QByteArray data = file.read(opened.size > 0 ? std::min(kHeadBytes, opened.size) : kHeadBytes);
    if (file.error() == QFileDevice::NoError && opened.size >= kStreamFrom && sniffFormat(data) == Format::Bmp
        && isPlainBmp(data)) {
        Source source = refused(name, budget, {});
        auto held = std::make_shared<Data>();
        held->header = readHeader(data, Format::Bmp, opened.size);
        source.m_refusal = refusalFor(held->header, name, budget);
        source.m_refusal.format = Format::Bmp;
        source.m_size = QSize(int(held->header.width), int(held->header.height));
        if (!source.m_refusal.ok())
            return source;
        held->path = path;
        held->rowsFromFile = true;
        held->checkedBytes = data.size();
        held->checksum = checksumOf(data);
        held->bytes = std::move(data);
        held->keep(std::move(opened.file));
        held->fileSize = opened.size;
        source.m_data = std::move(held);
        return source;
    }
    if (file.error() == QFileDevice::NoError && !file.atEnd())
        data += file.readAll();
    data.squeeze();
    if (file.error() != QFileDevice::NoError)
        return refused(name, budget, unreadable(name, file.errorString()));
    Source source = fromData(data, name, budget, allFrames);
    // A still picture's larger files are read again when decoded, from the file kept open or
    // opened again.
    if (source.ok() && source.m_data && !source.m_allFrames && data.size() >= kReadAgainFrom) {
        const Data &held = *source.m_data;
        held.path = path;
        held.checkedBytes = data.size();
        held.checksum = checksumOf(data);
        held.readAgain = true;
        held.keep(std::move(opened.file));
        held.bytes = QByteArray();
    }
    return source;
}

qint64 Source::chargedBytes() const
{
    if (!m_data)
        return 0;
    const Header &h = m_data->header;
    const qint64 picture = decodedBytes(int(std::max(h.width, h.otherWidth)), int(std::max(h.height, h.otherHeight)));
    // An Aseprite frame is composed on a canvas of its own while one cel and the tilesets are
    // held inflated.
    const qint64 composing = h.aseprite ? picture + h.aseprite->workBytes() : 0;
    return picture * m_frames + composing;
}

qint64 Source::heldBytes() const
{
    if (!m_data)
        return 0;
    const std::lock_guard lock(m_data->lock);
    return m_data->bytes.size();
}

Loaded Source::decode(Holding holding, QSize view) const
{
    if (!m_refusal.ok())
        return m_refusal;
    if (!m_data)
        return unreadable(m_name, EBADF);
    const Data &d = *m_data;
    std::unique_lock lock(d.lock);
    if (d.released)
        return unreadable(m_name, EBADF);
    if (!d.readAgain && !d.rowsFromFile) {
        const QByteArray bytes = d.bytes;
        lock.unlock();
        return decodeData(bytes, d.header, m_name, m_budget, holding, view, m_layer);
    }
    // The file kept open since its header was checked, or opened again by its name: it must
    // still hold the bytes checked.
    std::unique_ptr<QFile> reopened;
    QFile *file = d.file.get();
    if (!file) {
        OpenedFile opened = openPicture(d.path, m_name, m_budget);
        if (!opened.file)
            return opened.failure;
        reopened = std::move(opened.file);
        file = reopened.get();
    }
    if (!file->seek(0))
        return unreadable(m_name, EIO);
    const QByteArray checked = file->read(d.checkedBytes);
    if (file->size() != d.fileSize || checked.size() != d.checkedBytes || checksumOf(checked) != d.checksum)
        return refusedAsDamaged(m_name, tr("it changed after it was first read"), d.header.format);
    if (d.readAgain) {
        lock.unlock();
        reopened.reset();
        return decodeData(checked, d.header, m_name, m_budget, holding, view, m_layer);
    }
    // An uncompressed bitmap decoded by Qt's reader from the file itself.
    if (!file->seek(0))
        return unreadable(m_name, EIO);
    QString error;
    QImage image = readWithQt(file, d.header, &error);
    if (image.isNull())
        return refusedAsDamaged(m_name, tr("the decoder refused it: %1").arg(error), Format::Bmp);
    // Qt stops at a short read and leaves the rows it did not reach as they were: only a file
    // that has shrunk since its header was read can cause one.
    if (file->size() < d.fileSize)
        return refusedAsDamaged(m_name, endsEarly(), Format::Bmp);
    reopened.reset();
    lock.unlock();
    return finished(std::move(image), d.header, m_name, holding);
}

Animation Source::decodeFrames() const
{
    Animation result;
    if (!ok()) { // refused before any frame was counted
        result.refusal = m_refusal;
        return result;
    }
    FrameStream stream(*this);
    for (int f = 0; f < m_frames; ++f) {
        QImage frame;
        if (!stream.next(&frame, &result.refusal)) {
            result.frames.clear();
            return result;
        }
        result.frames.append(std::move(frame));
    }
    return result;
}

const Header *Source::header() const
{
    return m_data ? &m_data->header : nullptr;
}

std::shared_ptr<const SpriteFacts> Source::sprite() const
{
    if (!m_data || !m_data->header.aseprite)
        return nullptr;
    const std::shared_ptr<const AseDocument> &doc = m_data->header.aseprite;
    return std::shared_ptr<const SpriteFacts>(doc, &doc->facts);
}

Source Source::onlyLayer(int layerIndex) const
{
    Source copy = *this;
    copy.m_layer = layerIndex;
    const AseDocument *doc = m_data ? m_data->header.aseprite.get() : nullptr;
    if (ok() && (!doc || layerIndex < 0 || layerIndex >= doc->layers.size() || !doc->layers[layerIndex].shown))
        copy.m_refusal = failure(LoadError::NotAPicture, tr("Cannot load %1: it has no shown layer %2.").arg(m_name).arg(layerIndex),
                                 format());
    return copy;
}

QByteArray Source::bytes() const
{
    if (!m_data)
        return {};
    const std::lock_guard lock(m_data->lock);
    return m_data->bytes;
}

void Source::release() const
{
    if (!m_data)
        return;
    const std::lock_guard lock(m_data->lock);
    m_data->letGo();
    m_data->released = true;
}

Loaded load(const QString &path, const Budget &budget, Holding holding)
{
    return Source::open(path, displayPath(QFileInfo(path).absoluteFilePath()), budget).decode(holding);
}

Loaded loadFromData(const QByteArray &data, const QString &name, const Budget &budget, Holding holding)
{
    return Source::fromData(data, name, budget).decode(holding);
}

Loaded loadForView(const QString &path, QSize view)
{
    return Source::open(path, displayPath(QFileInfo(path).absoluteFilePath()), Budget()).decode(Holding::Alone, view);
}

} // namespace picture
