#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

#include <optional>

#include "browse/folders.h"
#include "picture/pngwriter.h"
#include "picture/rgbaband.h"
#include "strip/framenames.h"
#include "strip/pages.h"
#include "strip/sheet.h"
#include "strip/sheetcheck.h"
#include "strip/ends/sheetjson.h"

namespace cli {

// A command line that cannot be run; the message is shown with a pointer to --help.
struct UsageError {
    QString message;
};

struct Options {
    enum class Action { Compose, Split, Help, Version };
    Action action = Action::Compose;
    QStringList inputs;
    QString output;
    strip::SheetFormat format = strip::SheetFormat::Bmp; // from the output's extension
    strip::SheetOptions sheet;     // its cell as given by --cell WxH, in the pictures' own pixels
    enum class Cell { First, Largest, Given };
    Cell cell = Cell::First;
    bool pot = false;              // sides rounded up to powers of two
    int scale = 1;
    picture::TransparentColour alpha = picture::TransparentColour::Keep;
    picture::Compression compression = picture::Compression::Default;
    browse::Order order = browse::Order::Natural;
    std::optional<QColor> background; // unset: transparent for PNG and WebP, the window's colour for BMP
    bool allFrames = false, txt = false, json = false, dryRun = false, quiet = false;
    strip::JsonLayout layout = strip::JsonLayout::Hash;
    QStringList formats;                  // the data ends beside the sheet, by id: the JSON's first when json
    strip::PageOptions pages;             // trim, dedupe, fill by animations, pages
    std::optional<strip::Anchor> pivot;   // the anchor, when given, as every frame's pivot
    strip::NameScheme names = strip::NameScheme::Path;
    int duration = 100; // milliseconds a still picture is shown
    QString splitSheet;  // --split: the sheet to cut up, by --cell or by --data
    QString splitData;
};

// Reads the arguments after the program's name, GNU style: short options may be bundled (-qc4),
// long ones take their value after '=' or as the next argument, '--' ends the options. Long
// options are written in full: an abbreviation is refused with the option it may mean, so that
// an option added later cannot change what an existing script asks for.
Options parseOptions(const QStringList &arguments);

// What --help prints.
QString helpText();

} // namespace cli
