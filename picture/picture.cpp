#include "picture/picture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "picture/animation.h"
#include "picture/bmprle.h"
#include "picture/gif.h"
#include "picture/headers.h"
#include "picture/jpegdecoder.h"
#include "picture/nativepath.h"
#include "picture/largepages.h"

#include <climits>
#include <cstring>
#include <memory>
#include <atomic>
#include <mutex>

#include <fcntl.h>
#include <zlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace picture {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("picture", text); }

QString outOfMemory() { return tr("there is not enough memory to decode it"); }

Loaded failure(LoadError error, const QString &message, Format format = Format::Unknown)
{
    Loaded result;
    result.error = error;
    result.message = message;
    result.format = format;
    return result;
}

Loaded damaged(const QString &name, const QString &cause, Format format)
{
    return refusedAsDamaged(name, cause, format);
}

Loaded notAPicture(const QString &name, bool png = false)
{
    if (png)
        return failure(LoadError::NotAPicture, tr("Cannot load %1: the file is not a BMP, GIF, ICO, JPEG or PNG picture.").arg(name));
    return failure(LoadError::NotAPicture, tr("Cannot load %1: the file is not a BMP, GIF, ICO or JPEG picture.").arg(name));
}

Loaded fromHeaderError(const QString &name, const Header &h)
{
    if (h.error == LoadError::NotAPicture)
        return failure(LoadError::NotAPicture, tr("Cannot load %1: the file is %2.").arg(name, h.cause), h.format);
    return damaged(name, h.cause, h.format);
}

// The largest area the decoder will size from the file, held against the budget.
Loaded checkBudget(const QString &name, const Header &h, const Budget &budget)
{
    for (const auto &[w, hgt] : {std::pair{h.width, h.height}, std::pair{h.otherWidth, h.otherHeight}}) {
        if (w > budget.maxSide || hgt > budget.maxSide || w * hgt > budget.maxPixels) {
            return failure(LoadError::TooLarge,
                           tr("Cannot load %1: the picture is too large: %2 x %3 pixels; the most is %4 pixels "
                              "a side and %5 pixels in all.")
                               .arg(name).arg(w).arg(hgt).arg(budget.maxSide).arg(budget.maxPixels),
                           h.format);
        }
    }
    return {};
}

// What load() refuses a picture for before decoding it: its header, its size against the
// budget, or data that ends before the picture does; ok() when none of these.
Loaded refusalFor(const Header &h, const QString &name, const Budget &budget)
{
    if (h.error != LoadError::None)
        return fromHeaderError(name, h);
    if (Loaded tooLarge = checkBudget(name, h, budget); !tooLarge.ok())
        return tooLarge;
    if (!h.incomplete.isEmpty())
        return damaged(name, h.incomplete, h.format);
    return {};
}

QByteArray qtFormatName(Format format)
{
    switch (format) {
    case Format::Bmp: return QByteArrayLiteral("bmp");
    case Format::Gif: return QByteArrayLiteral("gif");
    case Format::Ico: return QByteArrayLiteral("ico");
    case Format::Jpeg: return QByteArrayLiteral("jpeg");
    case Format::Png: return QByteArrayLiteral("png");
    case Format::Unknown: break;
    }
    return {};
}

// Qt's icon reader sizes the image from the directory entry, which can disagree with the image
// it points to; it then fails. Believe the image, as other readers do.
QByteArray withTrustedIconSize(const QByteArray &data, const Header &h)
{
    if ((h.width == h.otherWidth && h.height == h.otherHeight) || h.width > 256 || h.height > 256)
        return data;
    QByteArray fixed = data;
    fixed[6] = char(h.width == 256 ? 0 : h.width);
    fixed[7] = char(h.height == 256 ? 0 : h.height);
    return fixed;
}

// Decodes BMP, GIF and ICO with Qt's reader, the format forced: Debian also installs TIFF, WebP
// and other decoders that would otherwise be chosen by content.
QImage readWithQt(QIODevice *device, const Header &h, QString *error)
{
    QImageReader reader(device, qtFormatName(h.format));
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    // Qt's own limit (128 MB) would refuse large pictures our budget allows, and say so in the
    // words it uses for corrupt files; the budget has been checked already.
    const qint64 largest = std::max(decodedBytes(int(h.width), int(h.height)),
                                    decodedBytes(int(h.otherWidth), int(h.otherHeight)));
    reader.setAllocationLimit(int(std::min<qint64>(largest / (1024 * 1024) + 16, 1 << 30)));
    QImage image;
    if (!reader.read(&image)) {
        *error = reader.errorString();
        return {};
    }
    return image;
}

// Opaque pictures become RGB32; those with any transparent pixel ARGB32 with straight alpha,
// so that every pixel keeps the colour its file gives it, also where it is wholly transparent.
// A null image when the memory for the conversion cannot be had.
QImage normalised(QImage image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    image.convertTo(QImage::Format_ARGB32);
    if (image.format() != QImage::Format_ARGB32)
        return {};
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return image;
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

// Widens channels of fewer than 8 bits as Pillow and the bmpsuite references do (v * 255 / max),
// where Qt shifted them (v << (8 - bits)), leaving full intensity 7 short of white.
void widenChannels(QImage &image, const int (&bits)[3])
{
    if (image.format() != QImage::Format_RGB32 || (!bits[0] && !bits[1] && !bits[2]))
        return;
    uchar table[3][256];
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            if (!bits[c]) {
                table[c][v] = uchar(v);
                continue;
            }
            const int max = (1 << bits[c]) - 1;
            const int stored = v >> (8 - bits[c]);
            table[c][v] = uchar(stored * 255 / max);
        }
    }
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qRgb(table[0][qRed(row[x])], table[1][qGreen(row[x])], table[2][qBlue(row[x])]);
    }
}

// A 16-bit RGB PNG with a colour key, decoded without its tRNS chunk (see Header::pngKey16): the
// key decides the alpha, on the full 16-bit samples. False when the memory cannot be had.
bool applyPngKey16(QImage &image, const Header &h)
{
    if (h.pngKeyChunk < 0 || (image.format() != QImage::Format_RGBA64 && image.format() != QImage::Format_RGBX64))
        return true;
    image.convertTo(QImage::Format_RGBA64);
    if (image.format() != QImage::Format_RGBA64)
        return false;
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgba64 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const bool key = row[x].red() == h.pngKey16[0] && row[x].green() == h.pngKey16[1] && row[x].blue() == h.pngKey16[2];
            row[x].setAlpha(key ? 0 : 0xffff);
        }
    }
    return true;
}

// Pictures from this size on stay in the memory they were decoded in when held with others:
// a copy into large pages would double the peak for a moment.
constexpr qint64 kCopyUpTo = 64 * 1024 * 1024;

// A decoder reports a size other than the header's only when the data is not what it claims.
Loaded checkedSize(Loaded result, const Header &h, const QString &name)
{
    if (result.image.width() != h.width || result.image.height() != h.height) {
        return damaged(name,
                       tr("it declares %1 x %2 pixels but holds %3 x %4")
                           .arg(h.width).arg(h.height).arg(result.image.width()).arg(result.image.height()),
                       h.format);
    }
    return result;
}

// A picture from Qt's reader or the run-length decoder, in the formats the strip composes.
Loaded finished(QImage image, const Header &h, const QString &name, Holding holding)
{
    Loaded result;
    result.format = h.format;
    result.image = normalised(std::move(image));
    if (result.image.isNull())
        return damaged(name, outOfMemory(), h.format);
    if (h.format == Format::Bmp)
        widenChannels(result.image, h.bmpChannelBits);
    // The decoder's own memory is then free for the next one.
    if (holding == Holding::WithOthers && result.image.sizeInBytes() <= kCopyUpTo)
        result.image = inLargePages(result.image);
    return checkedSize(std::move(result), h, name);
}

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
    return format;
}

qint64 decodedBytes(int width, int height)
{
    return width > 0 && height > 0 ? qint64(width) * height * 4 : 0;
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

Loaded missing(const QString &name)
{
    return failure(LoadError::Missing, tr("Cannot load %1: the file does not exist.").arg(name));
}

Loaded unreadable(const QString &name, int error)
{
    return failure(LoadError::Unreadable,
                   tr("Cannot load %1: the file cannot be read (%2).").arg(name, QString::fromLocal8Bit(std::strerror(error))));
}

// Opens path by the very bytes of its name (see nativepath.h) as a regular file.
OpenedFile openPicture(const QString &path, const QString &name, const Budget &budget)
{
    OpenedFile opened;
    const QByteArray native = toNativePath(path);
    struct stat info;
    if (::stat(native.constData(), &info) != 0) {
        opened.failure = errno == ENOENT || errno == ENOTDIR ? missing(name) : unreadable(name, errno);
        return opened;
    }
    if (S_ISDIR(info.st_mode)) {
        opened.failure = failure(LoadError::Unreadable, tr("Cannot load %1: it is a folder, not a file.").arg(name));
        return opened;
    }
    if (!S_ISREG(info.st_mode)) { // a pipe or a device would block or never end
        opened.failure = failure(LoadError::Unreadable, tr("Cannot load %1: it is not a regular file.").arg(name));
        return opened;
    }
    // No picture in the budget needs more bytes than an uncompressed 32-bit bitmap of it.
    if (info.st_size > decodedBytes(1, 1) * budget.maxPixels + 1024 * 1024) {
        opened.failure = failure(LoadError::TooLarge, tr("Cannot load %1: the file is too large (%2 bytes).")
                                                          .arg(name).arg(qint64(info.st_size)));
        return opened;
    }
    // O_NONBLOCK: a pipe swapped in since the look above must not block the open.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        opened.failure = errno == ENOENT ? missing(name) : unreadable(name, errno);
        return opened;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        opened.failure = failure(LoadError::Unreadable, tr("Cannot load %1: it is not a regular file.").arg(name));
        return opened;
    }
    opened.size = info.st_size;
    opened.file = std::make_unique<QFile>();
    if (!opened.file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        opened.file.reset();
        opened.failure = unreadable(name, EIO);
    }
    return opened;
}

} // namespace

namespace {

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

// Decodes the first picture of data, whose header h has passed every check.
Loaded decodeData(const QByteArray &data, const Header &h, const QString &name, const Budget &budget, Holding holding,
                  QSize view)
{
    if (h.format == Format::Jpeg) {
        const int shrink = shrinkFor(h, view);
        JpegResult jpeg = decodeJpeg(data, decodedBytes(1, 1) * budget.maxPixels, holding, shrink);
        if (jpeg.error == LoadError::TooLarge)
            return failure(LoadError::TooLarge, tr("Cannot load %1: the picture is too large: %2.").arg(name, jpeg.cause), h.format);
        if (jpeg.error != LoadError::None)
            return damaged(name, jpeg.cause, h.format);
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
            return damaged(name, outOfMemory(), h.format);
        return finished(std::move(image), h, name, holding);
    }
    if (h.format == Format::Gif) {
        QImage image;
        QString cause;
        if (!GifPlayer(data).next(&image, &cause))
            return damaged(name, cause, h.format);
        return finished(std::move(image), h, name, holding);
    }
    QByteArray bytes = h.format == Format::Ico ? withTrustedIconSize(data, h) : data;
    if (h.pngKeyChunk >= 0)
        bytes.remove(h.pngKeyChunk, 12 + 6);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    QImage image = readWithQt(&buffer, h, &error);
    if (image.isNull())
        return damaged(name, tr("the decoder refused it: %1").arg(error), h.format);
    if (!applyPngKey16(image, h))
        return damaged(name, outOfMemory(), h.format);
    return finished(std::move(image), h, name, holding);
}

// The frame count of a GIF whose first frame passed the checks, every later frame checked to be
// whole and held to the budget; 0 with *refusal set when it is refused.
int countGifFrames(const QByteArray &data, const Header &first, const QString &name, const Budget &budget,
                   Loaded *refusal, QList<int> *delays)
{
    const GifFrames frames = readGifFrames(data);
    *delays = frames.delays;
    if (!frames.damage.isEmpty()) {
        *refusal = damaged(name, frames.damage, Format::Gif);
        return 0;
    }
    // Each frame is held to the budget as the first one is: a frame declared far larger than
    // the screen is a decompression bomb, whatever the decoder would clip it to.
    if (frames.largestWidth > budget.maxSide || frames.largestHeight > budget.maxSide
        || frames.largestWidth * frames.largestHeight > budget.maxPixels) {
        *refusal = failure(LoadError::TooLarge, tr("Cannot load %1: a frame is too large: %2 x %3 pixels.")
                                                    .arg(name).arg(frames.largestWidth).arg(frames.largestHeight),
                           Format::Gif);
        return 0;
    }
    // All frames may be held at once: together they get one picture's budget.
    if (first.width * first.height * frames.count > budget.maxPixels) {
        *refusal = failure(LoadError::TooLarge, tr("Cannot load %1: its %2 frames of %3 x %4 pixels are too large "
                                                   "together; the most is %5 pixels in all.")
                                                    .arg(name).arg(frames.count).arg(first.width).arg(first.height)
                                                    .arg(budget.maxPixels),
                           Format::Gif);
        return 0;
    }
    return frames.count;
}

} // namespace

Loaded refusedAsDamaged(const QString &name, const QString &cause, Format format)
{
    return failure(LoadError::Damaged, tr("Cannot load %1: the file is damaged or incomplete (%2).").arg(name, cause), format);
}

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
    if (allFrames && format == Format::Gif) {
        source.m_allFrames = true;
        source.m_frames = countGifFrames(data, h, name, budget, &source.m_refusal, &source.m_delays);
        source.m_framesInFile = source.m_frames;
        if (!source.m_refusal.ok())
            return source;
    } else if (format == Format::Gif) {
        const GifFrames frames = readGifFrames(data, false); // only the first is decoded
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
    QByteArray data = file.read(kHeadBytes);
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
    if (file.error() != QFileDevice::NoError)
        return refused(name, budget, failure(LoadError::Unreadable, tr("Cannot load %1: the file cannot be read (%2).")
                                                                        .arg(name, file.errorString())));
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
    return picture * m_frames;
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
        return failure(LoadError::Unreadable, tr("Cannot load %1: the file cannot be read (%2).")
                                                  .arg(m_name, QString::fromLocal8Bit(std::strerror(EBADF))));
    const Data &d = *m_data;
    std::unique_lock lock(d.lock);
    if (d.released)
        return unreadable(m_name, EBADF);
    if (!d.readAgain && !d.rowsFromFile) {
        const QByteArray bytes = d.bytes;
        lock.unlock();
        return decodeData(bytes, d.header, m_name, m_budget, holding, view);
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
        return damaged(m_name, tr("it changed after it was first read"), d.header.format);
    if (d.readAgain) {
        lock.unlock();
        reopened.reset();
        return decodeData(checked, d.header, m_name, m_budget, holding, view);
    }
    // An uncompressed bitmap decoded by Qt's reader from the file itself.
    if (!file->seek(0))
        return unreadable(m_name, EIO);
    QString error;
    QImage image = readWithQt(file, d.header, &error);
    if (image.isNull())
        return damaged(m_name, tr("the decoder refused it: %1").arg(error), Format::Bmp);
    // Qt stops at a short read and leaves the rows it did not reach as they were: only a file
    // that has shrunk since its header was read can cause one.
    if (file->size() < d.fileSize)
        return damaged(m_name, tr("its picture data ends early"), Format::Bmp);
    reopened.reset();
    lock.unlock();
    return finished(std::move(image), d.header, m_name, holding);
}

Animation Source::decodeFrames() const
{
    Animation result;
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
