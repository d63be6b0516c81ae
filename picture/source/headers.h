#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

#include "picture/source/picture.h"

namespace picture {

struct AseDocument;

// What a picture file says about itself, read from its bytes without decoding any pixel.
// Every number comes straight from the file, so none of them is trusted: widths and heights
// are 64-bit and may be absurd; the loader holds them against the budget before decoding.
struct Header {
    Format format = Format::Unknown;
    qint64 width = 0;           // the picture the decoder will produce (|height| for top-down BMPs)
    qint64 height = 0;
    // A second size the decoder takes from the file: a GIF's first frame, or an icon's directory
    // entry (the picture size of an icon comes from the PNG or bitmap header it embeds, as the
    // directory can lie); 0 when there is none.
    qint64 otherWidth = 0;
    qint64 otherHeight = 0;

    LoadError error = LoadError::None; // Damaged or NotAPicture when the header itself is unusable
    QString cause;                     // why, in a few words, for the message
    QString incomplete;                // non-empty when the picture data ends before the picture does

    // Bits of red, green and blue in a BMP with fewer than 8 bits a channel (16-bit pixels);
    // 0 otherwise. Qt widens such channels by shifting (31 -> 248); others scale (31 -> 255).
    int bmpChannelBits[3] = {0, 0, 0};

    // Where a run-length BMP keeps its palette and its pixel codes, for the loader's own decoder.
    struct RunLengthBmp {
        int bits = 0;                  // 4 or 8; 0 for any other BMP
        qint64 paletteStart = 0;
        int paletteEntry = 4;          // bytes a colour: 3 in OS/2 headers
        int paletteColours = 0;
        qint64 pixelStart = 0;
        bool topDown = false;
    } rle;

    // The colour that a 16-bit RGB PNG's tRNS chunk makes transparent, and where that chunk
    // starts; -1 when it has none. Qt's reader decodes such a picture into memory it leaves
    // partly unset, so the loader hands it the file without the chunk and applies the key.
    int pngKey16[3] = {-1, -1, -1};
    qint64 pngKeyChunk = -1;
    // The same for a grey PNG of any depth, whose key Qt's reader turns into transparent black:
    // the grey sample the key makes transparent, and the picture's depth.
    int pngKeyGrey = -1;
    int pngKeyDepth = 0;

    // A 32-bit uncompressed icon bitmap, whose pixels the loader reads itself: Qt's reader drops
    // the colour of wholly transparent pixels. Where its colour rows and its mask rows start, and
    // whether the rows run from the top; -1 for any other picture.
    qint64 iconPixels = -1;
    qint64 iconMask = -1;
    bool iconTopDown = false;

    int jpegPrecision = 8;             // bits per sample of a JPEG
    bool jpegProgressive = false;

    // An animation: a PNG with animation control before its data (an APNG), or an animated WebP.
    // An APNG's default image is its first frame unless no frame control comes before it; then
    // only still readers show it.
    bool animated = false;
    bool defaultImageIsFrame = true;

    // An Aseprite file's layers, palette and every frame's cels, found by one walk through it.
    std::shared_ptr<const AseDocument> aseprite;
};

// The frames of an animation as its file declares them, each checked to be whole.
struct AnimationFrames {
    int count = 0;
    qint64 largestWidth = 0;   // the widest and the tallest frame rectangle declared
    qint64 largestHeight = 0;
    QString damage;   // non-empty when a frame or the file's end is missing, cut or misplaced
    QList<int> delays; // each whole frame's delay in milliseconds; 0 where the file gives none
    int plays = 1;     // how many times a browser plays it; 0 for ever
};

// Reads the header of data, which sniffFormat() found to be in format, and checks that the
// encoded picture lies wholly within data (BMP rows or RLE stream, the first GIF image's blocks,
// the first icon image).
// fileSize, when given, is the size of the whole file of which data holds only the start: enough
// for an uncompressed BMP, whose pixel rows are then read from the file itself.
Header readHeader(const QByteArray &data, Format format, qint64 fileSize = -1);

// h with its file refused as damaged for cause.
Header damaged(Header h, const QString &cause);

// True when data starts an uncompressed BMP (plain rows or bit fields), whose rows can be read
// straight from its file.
bool isPlainBmp(const QByteArray &data);

} // namespace picture
