#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

#include <optional>

#include "browse/core/order.h"
#include "picture/codecs/pngwriter.h"
#include "picture/pixels/rgbaband.h"
#include "strip/ends/sheetends.h"
#include "strip/framenames.h"
#include "strip/pages.h"
#include "strip/sheet.h"
#include "strip/sheetdata.h"

namespace strip {

// What a run of corvane-strip asks for: its inputs, the sheet and the data beside it.
struct RunRequest {
    QStringList inputs;
    QString output;
    SheetFormat format = SheetFormat::Bmp; // from the output's extension
    SheetOptions sheet;                    // its cell as given by --cell WxH, in the pictures' own pixels
    enum class Cell { First, Largest, Given };
    Cell cell = Cell::First;
    bool pot = false;                      // sides rounded up to powers of two
    int scale = 1;
    picture::TransparentColour alpha = picture::TransparentColour::Keep;
    bool premultiply = false;              // colours multiplied by their alpha once composed
    picture::Compression compression = picture::Compression::Default;
    browse::Order order = browse::Order::Natural;
    std::optional<QColor> background;      // unset: transparent where the format holds it, else the window's colour
    bool layersEach = false;               // an editor's file gives each shown layer as a source of its own
    bool allFrames = false, txt = false, json = false, dryRun = false, quiet = false;
    QStringList formats;                   // the data ends beside the sheet, by id: the JSON's first when json
    QString layout = QStringLiteral("grid"); // of the layouts' list
    PageOptions pages;                     // trim, dedupe, fill by animations, pages, rotation
    std::optional<Anchor> pivot;           // the anchor, when given, as every frame's pivot
    NameScheme names = NameScheme::Path;
    int duration = 100;                    // milliseconds a still picture is shown
    QString depfile;                       // not empty: a Make and Ninja dependency file to write
    // One sheet of several that one run writes at other sizes, each with its own data.
    struct Variant {
        QString suffix;            // put before the output's extension: hero@2x.png
        qint64 num = 1, den = 1;   // the frames' factor, num / den in lowest terms; whole above 1
    };
    QList<Variant> variants;               // empty: the one sheet of --scale
};

// One sheet of a run, planned: the frames, the pages, their names and data, its files.
struct SheetPlan {
    QString output;           // its sheet: the output, with its variant's suffix
    QString variant;          // SUFFIX=SCALE, of --variant; empty without
    SheetJob job;             // every frame, as gathered and arranged
    PagedSheet paged;         // the pages to compose
    FrameNaming naming;
    SheetData data;
    QStringList sheetPaths;   // each page's file
    QStringList outputs;      // its files, in the order the dry run lists them
    QColor background;
    qint64 memory = 0;        // the most composing its pages holds at once
    QByteArray textLine;      // the one-line text file's, when asked for
};

// A run planned once, before anything is written, and handed unchanged to the dry run's report
// and to the writing: each sheet (one, or one a variant in the order given), every file.
struct RunPlan {
    QString refusal;          // not empty: why nothing may be written, naming the file
    QStringList warnings;     // what the user hears before (unless quiet), in order
    QList<SheetPlan> sheets;
    QStringList outputs;      // every file, in the order the dry run lists them
    qint64 memory = 0;        // the most the run holds at once: sheets are composed one by one
    QByteArray dependencies;  // the dependency file's, when asked for

    int pageCount() const;
};

RunPlan planRun(const RunRequest &request);

} // namespace strip
