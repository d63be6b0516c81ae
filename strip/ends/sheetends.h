#pragma once

#include <QColor>
#include <QString>

#include <functional>
#include <span>

#include "picture/codecs/pngwriter.h"
#include "picture/base/savefile.h"
#include "strip/bands.h"

namespace strip {

enum class SheetFormat { Bmp, Png, Webp };

// The image formats a sheet is written in, as one list: each end says what its files end in,
// what a pixel takes and what the data files call it, which end of the sheet goes first, what
// it holds and needs beside the composer, and how it is written, so that the command line, the
// check and the writing read the list and a new format is one file and one line in it.
struct SheetEnd {
    SheetFormat format;
    const char *suffix;       // of its files, without the dot, in lower case
    const char *help;         // for --help, after the suffix; may be empty
    int bytesPerPixel;        // what a composed pixel takes
    const char *pixelFormat;  // as the engines' data names it
    bool alpha;               // whether it holds transparency
    BandOrder order;          // which end of the sheet is composed first
    // The memory writing job's sheet holds beside composing it.
    qint64 (*writerBytes)(const SheetJob &job, picture::Compression compression);
    // Why job's sheet, of size (as "W x H pixels"), is beyond what the format holds, as a
    // sentence that starts with subject; empty when it is not.
    QString (*refusal)(const SheetJob &job, const QString &subject, const QString &size);
    // Whether that refusal, rather than the largest sheet's, is told for a sheet of more pixels
    // than any sheet may have whose sides fit: the sentence its users know (the window's bitmap).
    bool refusalBeforeLargest;
    // Composes job's sheet over background into sink. False on failure: *inputError names a
    // picture that could not be read, or *encoderError says why the encoder stopped; both empty
    // when the sink failed.
    bool (*write)(const SheetJob &job, picture::SaveSink &sink, const QColor &background,
                  picture::Compression compression, QString *inputError, QString *encoderError,
                  const std::function<void(int done, int total)> &progress);
};

// Every sheet end, in the order messages list them.
std::span<const SheetEnd> sheetEnds();

const SheetEnd &sheetEnd(SheetFormat format);

// The end whose files end in suffix (any case, without the dot), or null.
const SheetEnd *sheetEndFor(const QString &suffix);

// The suffixes, for a message: ".bmp, .png or .webp"; with help, each end's help after its own.
QString sheetSuffixes(bool help = false);

} // namespace strip
