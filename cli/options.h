#pragma once

#include <QString>
#include <QStringList>

#include "strip/ends/sheetjson.h"
#include "strip/run.h"

namespace cli {

// A command line that cannot be run; the message is shown with a pointer to --help.
struct UsageError {
    QString message;
};

struct Options : strip::RunRequest {
    enum class Action { Compose, Split, Help, Version };
    Action action = Action::Compose;
    strip::JsonLayout jsonLayout = strip::JsonLayout::Hash;
    QString splitSheet;  // --split: the sheet to cut up, by --cell or by --data
    QString splitData;
    bool watch = false;  // --watch: run again whenever an input changes
};

// Reads the arguments after the program's name, GNU style: short options may be bundled (-qc4),
// long ones take their value after '=' or as the next argument, '--' ends the options. Long
// options are written in full: an abbreviation is refused with the option it may mean, so that
// an option added later cannot change what an existing script asks for.
Options parseOptions(const QStringList &arguments);

// What --help prints.
QString helpText();

} // namespace cli
