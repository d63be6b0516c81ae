#include "picture/source/qtglue.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QtEndian>

#include <cstring>

#include "picture/base/bytes.h"
#include "picture/pixels/largepages.h"
#include "picture/source/refusals.h"

namespace picture {

namespace {

QByteArray qtFormatName(Format format)
{
    switch (format) {
    case Format::Bmp: return QByteArrayLiteral("bmp");
    case Format::Gif: return QByteArrayLiteral("gif");
    case Format::Ico: return QByteArrayLiteral("ico");
    case Format::Jpeg: return QByteArrayLiteral("jpeg");
    case Format::Png: return QByteArrayLiteral("png");
    case Format::Webp: break; // libwebp decodes it (see codecs/webp.h)
    case Format::Aseprite: break; // composed by its own reader
    case Format::Unknown: break;
    }
    return {};
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

// Pictures from this size on stay in the memory they were decoded in when held with others:
// a copy into large pages would double the peak for a moment.
constexpr qint64 kCopyUpTo = 64 * 1024 * 1024;

} // namespace

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

// Decodes BMP, ICO and PNG with Qt's reader, the format forced: Debian also installs TIFF, WebP
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

namespace {

// A bitmap with the 52- or 56-byte info header (the 40-byte one with its RGB, or RGB and alpha,
// masks inside), which Qt does not read, given the 108-byte header that holds the same masks.
// The 52-byte header has no alpha mask: its pictures are opaque. The header passed its checks.
QByteArray withV4Header(const QByteArray &bytes)
{
    const Bytes b(bytes);
    const quint32 infoSize = b.le32(14);
    if (b.u8(0) != 'B' || (infoSize != 52 && infoSize != 56) || !b.has(14, infoSize))
        return bytes;
    constexpr int v4 = 108;
    QByteArray info(v4, '\0');
    std::memcpy(info.data(), bytes.constData() + 14, 52);
    uchar *p = reinterpret_cast<uchar *>(info.data());
    qToLittleEndian<quint32>(v4, p);
    qToLittleEndian<quint32>(infoSize == 56 ? b.le32(66) : 0, p + 52);
    qToLittleEndian<quint32>(0x57696e20, p + 56); // "Win ": the system's colour space
    QByteArray out = bytes.left(14) + info + bytes.mid(14 + infoSize);
    const quint32 offset = b.le32(10);
    qToLittleEndian<quint32>(offset + (v4 - infoSize), reinterpret_cast<uchar *>(out.data()) + 10);
    qToLittleEndian<quint32>(quint32(out.size()), reinterpret_cast<uchar *>(out.data()) + 2);
    return out;
}

} // namespace

QImage decodeWithQt(QByteArray bytes, const Header &h, QString *cause)
{
    if (h.format == Format::Bmp)
        bytes = withV4Header(bytes);
    if (h.pngKeyChunk >= 0)
        bytes.remove(h.pngKeyChunk, 12 + (h.pngKeyGrey >= 0 ? 2 : 6));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    QImage image = readWithQt(&buffer, h, &error);
    if (image.isNull()) {
        *cause = QCoreApplication::translate("picture", "the decoder refused it: %1").arg(error);
        return {};
    }
    if (!applyPngKey(image, h)) {
        *cause = outOfMemory();
        return {};
    }
    return image;
}

// A PNG with a colour key, decoded without its tRNS chunk (see Header::pngKey16): the key
// decides the alpha, on the file's own samples, and the key's colour stays. False when the
// memory cannot be had.
bool applyPngKey(QImage &image, const Header &h)
{
    if (h.pngKeyChunk < 0)
        return true;
    const bool wide = h.pngKeyGrey < 0 || h.pngKeyDepth == 16;
    image.convertTo(wide ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
    if (image.format() != (wide ? QImage::Format_RGBA64 : QImage::Format_ARGB32) || !image.bits())
        return false;
    // Qt widens a grey sample of fewer bits by repeating them: exact in eight bits.
    const int grey8 = h.pngKeyGrey < 0 || wide ? -1 : h.pngKeyGrey * 255 / ((1 << h.pngKeyDepth) - 1);
    for (int y = 0; y < image.height(); ++y) {
        if (!wide) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = (row[x] & 0xffffffu) | (qRed(row[x]) == grey8 ? 0u : 0xff000000u);
            continue;
        }
        auto *row = reinterpret_cast<QRgba64 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const bool key = h.pngKeyGrey >= 0
                ? row[x].red() == h.pngKeyGrey
                : row[x].red() == h.pngKey16[0] && row[x].green() == h.pngKey16[1] && row[x].blue() == h.pngKey16[2];
            row[x].setAlpha(key ? 0 : 0xffff);
        }
    }
    return true;
}

// A decoder reports a size other than the header's only when the data is not what it claims.
Loaded checkedSize(Loaded result, const Header &h, const QString &name)
{
    if (result.image.width() != h.width || result.image.height() != h.height) {
        return refusedAsDamaged(name, otherSizeThanDeclared(QSize(int(h.width), int(h.height)), result.image.size()),
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
        return refusedAsDamaged(name, outOfMemory(), h.format);
    if (h.format == Format::Bmp)
        widenChannels(result.image, h.bmpChannelBits);
    // The decoder's own memory is then free for the next one.
    if (holding == Holding::WithOthers && result.image.sizeInBytes() <= kCopyUpTo)
        result.image = inLargePages(result.image);
    return checkedSize(std::move(result), h, name);
}

} // namespace picture
