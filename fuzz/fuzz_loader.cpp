// Feeds arbitrary bytes to the picture loader, then draws what it accepted onto a small
// surface. A crash, a sanitizer report, an allocation over libFuzzer's -malloc_limit_mb or an
// input slower than -timeout is a finding; so is a result that breaks the loader's promises
// (a picture outside the budget, a refusal that does not name the file). A small picture made
// from the input also goes through the PNG writer and back.
#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "picture/source/animation.h"
#include "picture/source/picture.h"
#include "picture/codecs/pngwriter.h"
#include "picture/pixels/surface.h"

namespace {

// Small enough that any allocation beyond about 128 MB means the budget was not kept, large
// enough that pictures wider or taller than Qt's own limits still decode.
const picture::Budget FuzzBudget{32767, qint64(16) * 1024 * 1024};

const QString Name = QStringLiteral("fuzzed.pic");

// Qt's decoders warn about every broken file; thousands of lines a second would drown the
// fuzzer's own report.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

[[noreturn]] void broken(const char *what)
{
    std::fprintf(stderr, "loader broke its promise: %s\n", what);
    std::abort();
}

struct MemorySink : picture::SaveSink {
    QByteArray bytes;
    bool write(const char *data, qint64 size) override
    {
        bytes.append(data, size);
        return true;
    }
};

// A picture of up to 40 x 40 pixels from the input: a few grey, opaque or translucent colours or
// many, so that every colour type the PNG writer chooses comes up. It is written, read back by
// the loader, and must come back pixel for pixel.
void writeAndReadBack(const uint8_t *data, size_t size)
{
    if (size < 6)
        return;
    const int w = 1 + data[0] % 40, h = 1 + data[1] % 40, colours = 1 + data[2] + (data[3] & 1) * 60;
    const int kind = data[3] >> 1 & 3; // grey, opaque, binary alpha, any alpha
    QImage rgba(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint c = (data[4 + size_t(y * w + x) % (size - 4)] * 2654435761u + uint(x * y)) % uint(colours) * 40503u;
            uchar *p = rgba.scanLine(y) + x * 4;
            p[0] = uchar(c >> 3);
            p[1] = kind == 0 ? p[0] : uchar(c >> 9);
            p[2] = kind == 0 ? p[0] : uchar(c >> 5);
            p[3] = kind < 2 ? 255 : kind == 2 ? (c & 64 ? 255 : 0) : uchar(c >> 1);
        }
    MemorySink sink;
    picture::PngWriter writer(sink, w, h, picture::smallestLayout(rgba, h), picture::Compression(data[5] % 3));
    if (!writer.writeRows(rgba, 0, h) || !writer.finish())
        broken("the PNG writer failed on a picture in memory");
    picture::Budget budget = FuzzBudget;
    budget.acceptPng = true;
    const picture::Loaded back = picture::loadFromData(sink.bytes, Name, budget);
    if (!back.ok() || back.image.convertToFormat(QImage::Format_RGBA8888) != rgba)
        broken("a written PNG does not read back as the picture written");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    // Image plugins (GIF, ICO, JPEG) are found through the application's library paths.
    static int argc = 1;
    static char name[] = "fuzz_loader";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Not copied: a read past the end of the input lands outside libFuzzer's buffer and ASan
    // reports it.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    // Half the inputs decode as a strip's pictures do, into the shared large-page memory; an
    // independent half as the command line reads them, PNG and WebP accepted and an animation's
    // every frame.
    writeAndReadBack(data, size);
    const auto holding = size % 2 ? picture::Holding::WithOthers : picture::Holding::Alone;
    picture::Budget budget = FuzzBudget;
    budget.acceptPng = size % 4 >= 2;
    const picture::Format sniffed = picture::sniffFormat(bytes, budget);
    const picture::Loaded loaded = picture::loadFromData(bytes, Name, budget, holding);
    // Every frame of an animation (GIF, APNG, WebP, Aseprite), as --all-frames takes them.
    if (budget.acceptPng && (sniffed == picture::Format::Gif || sniffed == picture::Format::Png || sniffed == picture::Format::Webp
                             || sniffed == picture::Format::Aseprite)) {
        const picture::Source source = picture::Source::fromData(bytes, Name, budget, true);
        const picture::Animation animation = source.decodeFrames();
        if (!animation.refusal.ok() && (!animation.frames.isEmpty() || !animation.refusal.message.contains(Name)))
            broken("a refused animation carries frames or does not name the file");
        for (const QImage &frame : animation.frames)
            if (loaded.ok() && frame.size() != loaded.image.size())
                broken("an animation's frame differs in size from its first picture");
        // An editor's file: its facts, and each shown layer alone, for the first frame.
        if (const auto sprite = source.sprite()) {
            if (sniffed != picture::Format::Aseprite || !source.ok())
                broken("facts of a file that is not a sound Aseprite file");
            for (const picture::SpriteLayer &layer : sprite->layers) {
                const picture::Loaded alone = source.onlyLayer(layer.index).decode();
                if (layer.shown != alone.ok() && alone.error != picture::LoadError::Damaged)
                    broken("a shown layer alone is refused for no damage, or a hidden one is drawn");
                if (alone.ok() && alone.image.size() != source.size())
                    broken("a layer alone differs in size from the canvas");
            }
        }
    }

    if (!loaded.ok()) {
        if (!loaded.image.isNull())
            broken("a refused picture carries an image");
        if (!loaded.message.contains(Name))
            broken("a refusal does not name the file");
        if (sniffed == picture::Format::Unknown && loaded.error != picture::LoadError::NotAPicture)
            broken("unknown content is not refused as not a picture");
        return 0;
    }
    const QImage &image = loaded.image;
    if (sniffed == picture::Format::Unknown || loaded.format != sniffed)
        broken("the decoder did not follow the content");
    if (image.isNull() || image.width() > FuzzBudget.maxSide || image.height() > FuzzBudget.maxSide
        || qint64(image.width()) * image.height() > FuzzBudget.maxPixels)
        broken("a loaded picture is empty or outside the budget");
    if (!loaded.message.isEmpty())
        broken("a loaded picture carries a message");

    // Where to put it comes from the input too, so that clipping on every side is tried.
    const int x = size ? int(data[size - 1]) - 128 : 0;
    const int y = size > 1 ? int(data[size - 2]) - 128 : 0;
    picture::Surface surface(48, 32, QColor(0xd4, 0xd0, 0xc8));
    surface.draw(image, x, y);
    surface.draw(image, -image.width() + 1, -image.height() + 1);
    return 0;
}
