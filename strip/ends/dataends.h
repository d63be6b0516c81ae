#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <span>

#include "picture/base/savefile.h"
#include "strip/sheetdata.h"

namespace strip {

// The data files engines read beside a sheet, as one list: each end says what it is called, how
// its files are named, how it writes them from the one description of the sheet (SheetData),
// and how it holds names, so that the command line, the checks and the writing all read the
// list and a new format is one file and one line in it.
struct DataEnd {
    // Which files it writes for a sheet of several pages: one for all of them, one a page
    // (NAME-0.tsx, NAME-1.tsx ...), or one a page with the first named as the sheet (NAME.json,
    // NAME-1.json ...), so that a sheet that fits one page has one file as always.
    enum class Files { One, EachPage, EachPageFirstBare };

    const char *id;          // as --format names it
    const char *suffix;      // of its files
    const char *help;        // for --help, after the id
    Files files;
    // The bytes of file k of files (its page for EachPage files); files: every file's name.
    QByteArray (*write)(const SheetData &data, int k, const QStringList &files);
    // How it holds a frame's name, when it cannot hold every name as it is, and what it calls
    // the result ("the CSS class"): two frames that become one are refused.
    QString (*heldName)(const QString &name) = nullptr;
    const char *heldWhat = nullptr;
    // What else it refuses in the names (an animation named as a frame, say); empty when none.
    QString (*namesRefusal)(const SheetData &data) = nullptr;
    // What its reference to the sheet's image cannot hold, named in the refusal, or null.
    const char *imageHolder = nullptr;
    bool imageTakesColon = true;      // a libGDX page line would read as a field
    bool imageTakesEdgeBlanks = true; // a libGDX page line is trimmed
    // What it cannot hold, named in the refusal with the reason; null when it can: a frame
    // turned a quarter (--rotate), a page that is not a grid of even cells.
    const char *noRotation = nullptr;
    const char *needsGrid = nullptr;
    bool turnsBackClockwise = false; // its frames are stored turned anticlockwise, not clockwise
    const char *straightAlphaOnly = nullptr; // why premultiplied colours would show wrong
};

// Every data end, in the order --format lists them.
std::span<const DataEnd> dataEnds();

// The end --format calls id, or null.
const DataEnd *dataEnd(const QString &id);

// The files end writes beside the sheet at sheetPath when it has `pages` pages.
QStringList dataFiles(const DataEnd &end, const QString &sheetPath, int pages);

// Why a sheet laid out by layout, its frames turned when rotate, its colours premultiplied when
// premultiply, cannot be held by the data ends ids (and the text file when txt), each end saying
// why; empty when it can. Ends that turn their frames back opposite ways cannot share one sheet.
QString endsRefusal(const QString &layout, bool rotate, bool premultiply, const QStringList &ids, bool txt,
                    const QString &subject);

// Whether the data ends ids want turned frames stored anticlockwise.
bool turnedAnticlockwise(const QStringList &ids);

// Stages into save every file of the data ends ids (by id, in order) for the sheet at sheetPath
// that data describes; the first failure's message (naming the file), or empty.
QString stageData(picture::StagedSave &save, const SheetData &data, const QStringList &ids, const QString &sheetPath);

} // namespace strip
