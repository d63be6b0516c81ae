#include "picture/codecs/webpwriter.h"

#include <QCoreApplication>

#include <webp/encode.h>

namespace picture {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("picture", text); }

int writeToSink(const uint8_t *data, size_t size, const WebPPicture *picture)
{
    auto *sink = static_cast<SaveSink *>(picture->custom_ptr);
    return size == 0 || sink->write(reinterpret_cast<const char *>(data), qint64(size)) ? 1 : 0;
}

} // namespace

qint64 webpEncoderBytes(qint64 width, qint64 height)
{
    // libwebp 1.2.4's peak beside the picture, measured on the w6 sheet (11.5 megapixels,
    // bench/RESULTS.md): 16 bytes a pixel at level 3, 33 at level 9, which tries more at once.
    return width * height * 34 + (qint64(16) << 20);
}

bool writeLosslessWebp(SaveSink &sink, quint32 *argb, int width, int height, Compression compression, bool exact,
                       QString *error)
{
    WebPConfig config;
    if (!WebPConfigInit(&config)) {
        *error = tr("the WebP encoder does not match its header");
        return false;
    }
    // Effort, as `cwebp -z` levels: on sprite sheets (w6) level 0 makes a file twice the PNG's,
    // and levels 4 to 8 make larger files than level 3 in more time; only level 9 (method 6 at
    // quality 100, which tries every entropy mode and repeats of whole rectangles) is much smaller.
    const int level = compression == Compression::Fast ? 1 : compression == Compression::Default ? 3 : 9;
    if (!WebPConfigLosslessPreset(&config, level)) {
        *error = tr("the WebP encoder does not match its header");
        return false;
    }
    config.lossless = 1;
    config.exact = exact ? 1 : 0;
    // A second thread tries one of the encoder's choices beside the first; which wins does not
    // depend on timing.
    config.thread_level = 1;

    WebPPicture picture;
    if (!WebPPictureInit(&picture)) {
        *error = tr("the WebP encoder does not match its header");
        return false;
    }
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    picture.argb = argb;
    picture.argb_stride = width;
    picture.writer = writeToSink;
    picture.custom_ptr = &sink;
    const bool ok = WebPEncode(&config, &picture);
    if (!ok) {
        switch (picture.error_code) {
        case VP8_ENC_ERROR_BAD_WRITE:
            error->clear();
            break;
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
            *error = tr("there is not enough memory to encode it");
            break;
        case VP8_ENC_ERROR_BAD_DIMENSION:
            *error = tr("a WebP cannot be %1 x %2 pixels").arg(width).arg(height);
            break;
        default:
            *error = tr("the WebP encoder failed (%1)").arg(int(picture.error_code));
            break;
        }
    }
    // The pixels are the caller's: this frees only what the encoder added.
    WebPPictureFree(&picture);
    return ok;
}

} // namespace picture
