#include "picture/picture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "picture/headers.h"
#include "picture/jpegdecoder.h"
#include "picture/surface.h"

namespace picture {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("picture", text); }

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
    return failure(LoadError::Damaged, tr("Cannot load %1: the file is damaged or incomplete (%2).").arg(name, cause), format);
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
QImage readWithQt(const QByteArray &data, const Header &h, QString *error)
{
    QByteArray bytes = h.format == Format::Ico ? withTrustedIconSize(data, h) : data;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, qtFormatName(h.format));
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

// Opaque pictures become RGB32; those with any transparent pixel ARGB32_Premultiplied, the
// format that painting composes fastest. PNG pictures keep straight alpha (ARGB32) instead, so
// that a PNG written from them gives back the colours of half-transparent pixels exactly.
QImage normalised(QImage image, QImage::Format withAlpha = QImage::Format_ARGB32_Premultiplied)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    image.convertTo(withAlpha);
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

Loaded load(const QString &path, const Budget &budget, Holding holding)
{
    const QFileInfo info(path);
    const QString name = info.absoluteFilePath();
    if (!info.exists())
        return failure(LoadError::Missing, tr("Cannot load %1: the file does not exist.").arg(name));
    if (info.isDir())
        return failure(LoadError::Unreadable, tr("Cannot load %1: it is a folder, not a file.").arg(name));
    if (!info.isFile()) // a pipe or a device would block or never end
        return failure(LoadError::Unreadable, tr("Cannot load %1: it is not a regular file.").arg(name));
    // No picture in the budget needs more bytes than an uncompressed 32-bit bitmap of it.
    if (info.size() > decodedBytes(1, 1) * budget.maxPixels + 1024 * 1024)
        return failure(LoadError::TooLarge, tr("Cannot load %1: the file is too large (%2 bytes).").arg(name).arg(info.size()));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists()) // deleted since we looked
            return failure(LoadError::Missing, tr("Cannot load %1: the file does not exist.").arg(name));
        return failure(LoadError::Unreadable, tr("Cannot load %1: the file cannot be read (%2).").arg(name, file.errorString()));
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure(LoadError::Unreadable, tr("Cannot load %1: the file cannot be read (%2).").arg(name, file.errorString()));
    return loadFromData(data, name, budget, holding);
}

Loaded loadFromData(const QByteArray &data, const QString &name, const Budget &budget, Holding holding)
{
    const Format format = sniffFormat(data, budget);
    if (format == Format::Unknown)
        return notAPicture(name, budget.acceptPng);

    const Header h = readHeader(data, format);
    if (h.error != LoadError::None)
        return fromHeaderError(name, h);
    if (Loaded tooLarge = checkBudget(name, h, budget); tooLarge.error != LoadError::None)
        return tooLarge;
    if (!h.incomplete.isEmpty())
        return damaged(name, h.incomplete, format);

    Loaded result;
    result.format = format;
    if (format == Format::Jpeg) {
        JpegResult jpeg = decodeJpeg(data, decodedBytes(1, 1) * budget.maxPixels, holding);
        if (jpeg.error == LoadError::TooLarge)
            return failure(LoadError::TooLarge, tr("Cannot load %1: the picture is too large: %2.").arg(name, jpeg.cause), format);
        if (jpeg.error != LoadError::None)
            return damaged(name, jpeg.cause, format);
        result.image = std::move(jpeg.image);
    } else {
        QString error;
        QImage image = readWithQt(data, h, &error);
        if (image.isNull())
            return damaged(name, tr("the decoder refused it: %1").arg(error), format);
        result.image = normalised(std::move(image), format == Format::Png ? QImage::Format_ARGB32
                                                                          : QImage::Format_ARGB32_Premultiplied);
        if (format == Format::Bmp)
            widenChannels(result.image, h.bmpChannelBits);
        if (holding == Holding::WithOthers) // the decoder's own memory is then free for the next one
            result.image = inLargePages(result.image);
    }

    if (result.image.width() != h.width || result.image.height() != h.height) {
        return damaged(name,
                       tr("it declares %1 x %2 pixels but holds %3 x %4")
                           .arg(h.width).arg(h.height).arg(result.image.width()).arg(result.image.height()),
                       format);
    }
    return result;
}

Inspected inspect(const QByteArray &data, const QString &name, const Budget &budget)
{
    Inspected result;
    const Format format = sniffFormat(data, budget);
    if (format == Format::Unknown) {
        result.refusal = notAPicture(name, budget.acceptPng);
        return result;
    }
    const Header h = readHeader(data, format);
    if (h.error != LoadError::None)
        result.refusal = fromHeaderError(name, h);
    else if (Loaded tooLarge = checkBudget(name, h, budget); !tooLarge.ok())
        result.refusal = std::move(tooLarge);
    else if (!h.incomplete.isEmpty())
        result.refusal = damaged(name, h.incomplete, format);
    result.refusal.format = format;
    result.width = int(h.width);
    result.height = int(h.height);
    return result;
}

} // namespace picture
