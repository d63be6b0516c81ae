#include "cli/options.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "picture/base/nativepath.h"
#include "strip/ends/dataends.h"
#include "strip/ends/sheetends.h"
#include "strip/layouts/layouts.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <vector>

namespace cli {

namespace {

enum class Id {
    Output, Columns, Order, Fill, Padding, Margin, Cell, Anchor, Clip, Overlap, Extrude, Scale, Variant, Pot, Background, Alpha, Compress,
    AllFrames, Layers, Trim, Dedupe, MaxSize, Layout, Rotate, Txt, Json, Format,
    Names, Duration, Depfile, Watch, Split, Data, DryRun, Quiet, Help, Version
};

struct OptionDef {
    Id id;
    char letter;        // 0: no short form
    const char *name;
    const char *value;  // nullptr: a switch
    const char *help;
};

// In the order --help lists them.
const OptionDef optionDefs[] = {
    {Id::Output, 'o', "output", "FILE", nullptr}, // from the list of sheet ends
    {Id::Columns, 'c', "columns", "N", "Frames per row (default 10; lowered to the frame total)."},
    {Id::Order, 0, "order", "natural|name", "A folder's files in natural order (frame2 before frame10, the default) or by name as the window lists them."},
    {Id::Fill, 0, "fill", "rows|columns|animations", "Fill each row first (default), each column top to bottom first, or rows with each animation starting a row."},
    {Id::Padding, 0, "padding", "P", "Pixels between cells (default 0)."},
    {Id::Margin, 0, "margin", "M", "Pixels around the sheet (default 0)."},
    {Id::Cell, 0, "cell", "first|max|WxH", "The cell: the first picture's size (default), the largest picture's, or WxH. With --split, the frames' size (WxH)."},
    {Id::Anchor, 0, "anchor", "top-left|center|bottom", "Where a picture smaller or larger than its cell sits in it (default top-left; bottom: bottom centre)."},
    {Id::Clip, 0, "clip", nullptr, "Cut a picture larger than its cell at the cell's edge, with a warning (the default)."},
    {Id::Overlap, 0, "overlap", nullptr, "Let a picture larger than its cell run into the next cells, as the window does; no JSON then."},
    {Id::Extrude, 0, "extrude", "N", "Repeat each cell's edge pixels N pixels outward, against bleeding when textures are filtered (default 0)."},
    {Id::Scale, 0, "scale", "N", "Enlarge every frame N times, pixel for pixel, for pixel art (default 1); cells given as WxH too."},
    {Id::Variant, 0, "variant", "SUFFIX=SCALE", "Write, instead of the one sheet, a sheet and its data for each variant, SUFFIX put before the output's extension, at SCALE (above 1 a whole number, pixels repeated; below 1 reduced by area averaging); repeatable, every file written together. --variant @2x=1 --variant =0.5 -o a.png writes a@2x.png and a.png."},
    {Id::Pot, 0, "pot", nullptr, "Round the sheet's sides up to powers of two."},
    {Id::Background, 0, "background", "COLOR", "#rrggbb, or transparent (PNG and WebP only). Default: transparent for PNG and WebP, #efefef (the window's) for BMP."},
    {Id::Alpha, 0, "alpha", "keep|clean|bleed|premultiply", "Fully transparent pixels keep their colour (default), become 0 (smaller files), or take the nearest visible pixel's (no dark fringes when filtered); or every colour is multiplied by its alpha (PNG and WebP), for engines that blend so."},
    {Id::Compress, 0, "compress", "fast|default|best|max", "How hard to compress a PNG or WebP: fast, default, best (smaller, slower), or max (a PNG smaller still with Zopfli, many times slower; for a WebP the same as best)."},
    {Id::AllFrames, 0, "all-frames", nullptr, "Every frame of an animated GIF, APNG, WebP or Aseprite file, as a viewer shows it, not only the first."},
    {Id::Layers, 0, "layers", "merge|each", "An Aseprite file's visible layers composed as one picture (default), or each layer a picture of its own, its frames an animation named file/layer."},
    {Id::Trim, 0, "trim", nullptr, "Shrink every cell to the part any frame shows (the grid stays even); the data says where each frame sat."},
    {Id::Dedupe, 0, "dedupe", nullptr, "Frames of the same pixels share one cell; every name stays in the data."},
    {Id::MaxSize, 0, "max-size", "N", "Cut a sheet over N pixels a side into pages between rows: OUTPUT-stem-0.png, -1, ..., with data for each."},
    {Id::Layout, 0, "layout", "NAME", nullptr}, // from the list of layouts
    {Id::Rotate, 0, "rotate", nullptr, "With a packed layout, turn a frame a quarter where that packs tighter; the data says which."},
    {Id::Txt, 0, "txt", nullptr, "Also write the window's one-line text file (OUTPUT-stem.TXT)."},
    {Id::Json, 0, "json", nullptr, "Also write OUTPUT-stem.json for game engines (PixiJS, Phaser)."},
    {Id::Format, 0, "format", "LIST", nullptr}, // from the list of data ends
    {Id::Names, 0, "names", "path|index", "Frame names: the path within the input given (default) or the frame's number; implies --json without --format."},
    {Id::Duration, 0, "duration", "MS", "How long a still picture's frame is shown, in the JSON (default 100)."},
    {Id::Depfile, 0, "depfile", "FILE", "Also write FILE, a Make and Ninja dependency file: every output depends on every picture read and folder listed."},
    {Id::Watch, 0, "watch", nullptr, "After the run, run again each time an input changes (a file read, a folder listed), one line each, until Ctrl-C."},
    {Id::Split, 0, "split", "SHEET", "Cut SHEET into PNG frames in the folder -o names, by --cell or by --data."},
    {Id::Data, 0, "data", "JSON", "With --split: the sheet's JSON, which gives every frame's name and rectangle."},
    {Id::DryRun, 0, "dry-run", nullptr, "Check everything and print the frames, the layout and the files; write nothing."},
    {Id::Quiet, 'q', "quiet", nullptr, "No warnings and no progress bar."},
    {Id::Help, 'h', "help", nullptr, "Show this help and end."},
    {Id::Version, 'V', "version", nullptr, "Show the version and end."},
};

const OptionDef *byName(const QString &name)
{
    for (const OptionDef &s : optionDefs)
        if (name == QLatin1String(s.name))
            return &s;
    return nullptr;
}

const OptionDef *byId(Id id)
{
    for (const OptionDef &s : optionDefs)
        if (s.id == id)
            return &s;
    return nullptr;
}

const OptionDef *byLetter(QChar letter)
{
    for (const OptionDef &s : optionDefs)
        if (s.letter && letter == QLatin1Char(s.letter))
            return &s;
    return nullptr;
}

// Edits (insert, delete, change, swap two neighbours) between a and b.
int distance(const QString &a, const QString &b)
{
    const qsizetype n = a.size(), m = b.size();
    std::vector<std::vector<int>> d(size_t(n + 1), std::vector<int>(size_t(m + 1)));
    for (qsizetype i = 0; i <= n; ++i)
        d[size_t(i)][0] = int(i);
    for (qsizetype j = 0; j <= m; ++j)
        d[0][size_t(j)] = int(j);
    for (qsizetype i = 1; i <= n; ++i)
        for (qsizetype j = 1; j <= m; ++j) {
            int &c = d[size_t(i)][size_t(j)];
            c = std::min({d[size_t(i - 1)][size_t(j)] + 1, d[size_t(i)][size_t(j - 1)] + 1,
                          d[size_t(i - 1)][size_t(j - 1)] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                c = std::min(c, d[size_t(i - 2)][size_t(j - 2)] + 1);
        }
    return d[size_t(n)][size_t(m)];
}

// The options a mistyped or shortened long option may mean: those it begins, else the nearest
// within a couple of edits.
QString suggestion(const QString &typed)
{
    QStringList starts, near;
    int best = typed.size() >= 5 ? 2 : 1;
    for (const OptionDef &s : optionDefs) {
        const QString name = QLatin1String(s.name);
        if (!typed.isEmpty() && name.startsWith(typed))
            starts.append(QStringLiteral("--") + name);
        const int d = distance(typed, name);
        if (d < best) {
            best = d;
            near.clear();
        }
        if (d == best)
            near.append(QStringLiteral("--") + name);
    }
    const QStringList &options = starts.isEmpty() ? near : starts;
    if (options.isEmpty())
        return {};
    QString list = options.first();
    for (qsizetype i = 1; i < options.size(); ++i)
        list += (i + 1 == options.size() ? QStringLiteral(" or ") : QStringLiteral(", ")) + options[i];
    return QStringLiteral(" Did you mean %1?").arg(list);
}

int wholeNumber(const QString &value, const QString &option, int least, int most)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!QRegularExpression(QStringLiteral("^[0-9]+$")).match(value).hasMatch() || !ok || n < least || n > most)
        throw UsageError{QStringLiteral("%1 takes a whole number from %2 to %3, not '%4'").arg(option).arg(least).arg(most).arg(value)};
    return n;
}

QString choice(const QString &value, const QString &option, const QStringList &allowed)
{
    if (!allowed.contains(value))
        throw UsageError{QStringLiteral("%1 takes %2, not '%3'").arg(option, allowed.join(QStringLiteral(" or ")), value)};
    return value;
}

// One --variant SUFFIX=SCALE: SCALE a positive decimal, whole above 1 (pixels repeated, as by
// --scale, at most 64 times), of at most 6 decimals below it; SUFFIX another than before's,
// keeping the name in its folder.
strip::RunRequest::Variant variantOf(const QString &value, const QList<strip::RunRequest::Variant> &before)
{
    const qsizetype equals = value.lastIndexOf(u'=');
    if (equals < 0)
        throw UsageError{QStringLiteral("--variant takes SUFFIX=SCALE, such as @2x=1 or =0.5, not '%1'").arg(value)};
    strip::RunRequest::Variant v;
    v.suffix = value.left(equals);
    const QString scale = value.mid(equals + 1);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^([0-9]{1,2})(?:\\.([0-9]{0,6}))?$")).match(scale);
    if (!m.hasMatch())
        throw UsageError{QStringLiteral("--variant %1: SCALE is a positive decimal of at most 6 places, such as 2 or 0.5, "
                                        "not '%2'").arg(value, scale)};
    v.den = 1;
    for (qsizetype k = 0; k < m.captured(2).size(); ++k)
        v.den *= 10;
    v.num = m.captured(1).toLongLong() * v.den + (m.captured(2).isEmpty() ? 0 : m.captured(2).toLongLong());
    const qint64 common = std::gcd(v.num, v.den);
    if (v.num == 0)
        throw UsageError{QStringLiteral("--variant %1: SCALE must be above 0").arg(value)};
    v.num /= common;
    v.den /= common;
    if (v.num > v.den && v.den != 1)
        throw UsageError{QStringLiteral("--variant %1: a SCALE above 1 repeats pixels, so it must be a whole number, not %2")
                             .arg(value, scale)};
    if (v.den == 1 && v.num > 64)
        throw UsageError{QStringLiteral("--variant %1: SCALE is at most 64, as for --scale").arg(value)};
    if (v.suffix.contains(u'/'))
        throw UsageError{QStringLiteral("--variant %1: the suffix goes into the output's file name, so it cannot hold a '/'")
                             .arg(value)};
    for (const strip::RunRequest::Variant &other : before)
        if (other.suffix == v.suffix)
            throw UsageError{QStringLiteral("--variant %1: another --variant has the suffix '%2' too; each sheet needs "
                                            "a name of its own").arg(value, v.suffix)};
    return v;
}

QString valueOf(const std::map<Id, QString> &given, Id id, const QString &otherwise = {})
{
    const auto it = given.find(id);
    return it == given.end() ? otherwise : it->second;
}

} // namespace

Options parseOptions(const QStringList &arguments)
{
    std::map<Id, QString> given; // the last value of each option given; switches map to ""
    QStringList positional;
    QStringList variants; // every --variant, in order
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        auto valueFor = [&](const OptionDef &s, const QString &shown) {
            if (i + 1 >= arguments.size())
                throw UsageError{QStringLiteral("option '%1' needs a value (%2)").arg(shown, QLatin1String(s.value))};
            return arguments[++i];
        };
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(u'-')) {
            positional.append(arg);
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype equals = arg.indexOf(u'=');
            const QString name = arg.mid(2, equals < 0 ? -1 : equals - 2);
            const OptionDef *s = byName(name);
            if (!s)
                throw UsageError{QStringLiteral("Unknown option '--%1'.").arg(name) + suggestion(name)};
            if (!s->value && equals >= 0)
                throw UsageError{QStringLiteral("option '--%1' takes no value").arg(name)};
            const QString value = !s->value ? QString() : equals >= 0 ? arg.mid(equals + 1) : valueFor(*s, QStringLiteral("--") + name);
            // Formats add up, as a list does; any other option's last value holds.
            given[s->id] = s->id == Id::Format && given.count(s->id) ? given[s->id] + u',' + value : value;
            if (s->id == Id::Variant)
                variants.append(value);
        } else {
            // -qc4: switches, then at most one option that takes the rest (or the next argument).
            for (qsizetype k = 1; k < arg.size(); ++k) {
                const OptionDef *s = byLetter(arg[k]);
                if (!s)
                    throw UsageError{QStringLiteral("Unknown option '-%1'.").arg(arg[k])};
                if (!s->value) {
                    given[s->id] = QString();
                    continue;
                }
                given[s->id] = k + 1 < arg.size() ? arg.mid(k + 1) : valueFor(*s, QStringLiteral("-") + arg[k]);
                break;
            }
        }
    }

    Options o;
    if (given.count(Id::Help)) {
        o.action = Options::Action::Help;
        return o;
    }
    if (given.count(Id::Version)) {
        o.action = Options::Action::Version;
        return o;
    }
    o.output = picture::plainPath(valueOf(given, Id::Output));
    if (given.count(Id::Cell) && !given.count(Id::Split) && (given[Id::Cell] == QLatin1String("first") || given[Id::Cell] == QLatin1String("max"))) {
        o.cell = given[Id::Cell] == QLatin1String("max") ? Options::Cell::Largest : Options::Cell::First;
    } else if (given.count(Id::Cell)) {
        const QString cell = given[Id::Cell];
        const auto m = QRegularExpression(QStringLiteral("^([0-9]+)x([0-9]+)$")).match(cell);
        if (!m.hasMatch())
            throw UsageError{QStringLiteral("--cell takes first, max or WxH, such as 32x48, not '%1'").arg(cell)};
        o.cell = Options::Cell::Given;
        o.sheet.cell = QSize(wholeNumber(m.captured(1), QStringLiteral("--cell"), 1, 1 << 20),
                             wholeNumber(m.captured(2), QStringLiteral("--cell"), 1, 1 << 20));
    }
    o.dryRun = given.count(Id::DryRun);
    o.quiet = given.count(Id::Quiet);

    if (given.count(Id::Split)) {
        o.action = Options::Action::Split;
        o.splitSheet = picture::plainPath(given[Id::Split]);
        o.splitData = picture::plainPath(valueOf(given, Id::Data));
        for (const OptionDef &s : optionDefs)
            if (given.count(s.id) && !QList<Id>{Id::Split, Id::Data, Id::Cell, Id::Output, Id::DryRun, Id::Quiet}.contains(s.id))
                throw UsageError{QStringLiteral("--%1 has no meaning with --split").arg(QLatin1String(s.name))};
        if (!positional.isEmpty())
            throw UsageError{QStringLiteral("--split takes one sheet, not also '%1'").arg(positional.first())};
        if (given.count(Id::Cell) == given.count(Id::Data))
            throw UsageError{QStringLiteral("--split needs either --cell WxH or --data SHEET.json")};
        if (o.output.isEmpty())
            throw UsageError{QStringLiteral("no output folder given (-o FOLDER)")};
        return o;
    }
    if (given.count(Id::Data))
        throw UsageError{QStringLiteral("--data goes with --split")};
    o.watch = given.count(Id::Watch);
    if (o.watch && o.dryRun)
        throw UsageError{QStringLiteral("--watch writes again at each change, and --dry-run writes nothing; give one")};

    for (const QString &input : std::as_const(positional))
        o.inputs.append(picture::plainPath(input));
    if (o.inputs.isEmpty())
        throw UsageError{QStringLiteral("no INPUT given")};
    if (o.output.isEmpty())
        throw UsageError{QStringLiteral("no output given (-o FILE)")};
    const strip::SheetEnd *sheetEnd = strip::sheetEndFor(QFileInfo(o.output).suffix());
    if (!sheetEnd)
        throw UsageError{QStringLiteral("the output must end in %1, not '%2'").arg(strip::sheetSuffixes(), o.output)};
    o.format = sheetEnd->format;

    o.sheet.columns = wholeNumber(valueOf(given, Id::Columns, QStringLiteral("10")), QStringLiteral("--columns"), 1, 1 << 20);
    o.sheet.padding = wholeNumber(valueOf(given, Id::Padding, QStringLiteral("0")), QStringLiteral("--padding"), 0, 1 << 16);
    o.sheet.margin = wholeNumber(valueOf(given, Id::Margin, QStringLiteral("0")), QStringLiteral("--margin"), 0, 1 << 16);
    o.order = choice(valueOf(given, Id::Order, QStringLiteral("natural")), QStringLiteral("--order"),
                     {QStringLiteral("natural"), QStringLiteral("name")}) == QLatin1String("name")
        ? browse::Order::Name : browse::Order::Natural;
    const QString fill = choice(valueOf(given, Id::Fill, QStringLiteral("rows")), QStringLiteral("--fill"),
                                {QStringLiteral("rows"), QStringLiteral("columns"), QStringLiteral("animations")});
    o.sheet.fill = fill == QLatin1String("columns") ? strip::Fill::Columns : strip::Fill::Rows;
    o.pages.fillAnimations = fill == QLatin1String("animations");
    if (given.count(Id::Clip) && given.count(Id::Overlap))
        throw UsageError{QStringLiteral("--clip and --overlap ask for opposite things; give one")};
    o.sheet.clip = !given.count(Id::Overlap);
    const QString anchor = choice(valueOf(given, Id::Anchor, QStringLiteral("top-left")), QStringLiteral("--anchor"),
                                  {QStringLiteral("top-left"), QStringLiteral("center"), QStringLiteral("bottom")});
    o.sheet.anchor = anchor == QLatin1String("center") ? strip::Anchor::Center
                   : anchor == QLatin1String("bottom") ? strip::Anchor::Bottom : strip::Anchor::TopLeft;
    if (given.count(Id::Anchor))
        o.pivot = o.sheet.anchor;
    o.sheet.extrude = wholeNumber(valueOf(given, Id::Extrude, QStringLiteral("0")), QStringLiteral("--extrude"), 0, 1024);
    if (o.sheet.extrude > 0 && !o.sheet.clip)
        throw UsageError{QStringLiteral("--extrude repeats a cell's edges, which --overlap lets pictures run over; give one")};
    o.layersEach = choice(valueOf(given, Id::Layers, QStringLiteral("merge")), QStringLiteral("--layers"),
                          {QStringLiteral("merge"), QStringLiteral("each")}) == QLatin1String("each");
    o.scale = wholeNumber(valueOf(given, Id::Scale, QStringLiteral("1")), QStringLiteral("--scale"), 1, 64);
    for (const QString &variant : std::as_const(variants))
        o.variants.append(variantOf(variant, o.variants));
    if (!o.variants.isEmpty() && o.scale != 1)
        throw UsageError{QStringLiteral("--variant gives each sheet its own scale, so --scale %1 would mean two scales at "
                                        "once; give the enlarged sheet as --variant SUFFIX=%1").arg(o.scale)};
    o.pot = given.count(Id::Pot);
    const QString alpha = choice(valueOf(given, Id::Alpha, QStringLiteral("keep")), QStringLiteral("--alpha"),
                                 {QStringLiteral("keep"), QStringLiteral("clean"), QStringLiteral("bleed"), QStringLiteral("premultiply")});
    o.premultiply = alpha == QLatin1String("premultiply");
    if (o.premultiply && !sheetEnd->alpha)
        throw UsageError{QStringLiteral("--alpha premultiply multiplies colours by their alpha, and a .%1 has none")
                             .arg(QLatin1String(sheetEnd->suffix))};
    o.alpha = alpha == QLatin1String("clean") || o.premultiply ? picture::TransparentColour::Clean
            : alpha == QLatin1String("bleed") ? picture::TransparentColour::Bleed : picture::TransparentColour::Keep;
    if (given.count(Id::Background)) {
        const QString value = given[Id::Background];
        if (value == QLatin1String("transparent")) {
            if (!sheetEnd->alpha) {
                QStringList holders;
                for (const strip::SheetEnd &end : strip::sheetEnds())
                    if (end.alpha)
                        holders.append(u'.' + QLatin1String(end.suffix));
                throw UsageError{QStringLiteral("--background transparent needs a %1 output; a .%2 has no transparency")
                                     .arg(holders.join(QStringLiteral(" or ")), QLatin1String(sheetEnd->suffix))};
            }
            o.background = QColor(Qt::transparent);
        } else if (QRegularExpression(QStringLiteral("^#[0-9a-fA-F]{6}$")).match(value).hasMatch()) {
            o.background = QColor::fromString(value);
        } else {
            throw UsageError{QStringLiteral("--background takes #rrggbb or transparent, not '%1'").arg(value)};
        }
    }
    const QString compress = choice(valueOf(given, Id::Compress, QStringLiteral("default")), QStringLiteral("--compress"),
                                    {QStringLiteral("fast"), QStringLiteral("default"), QStringLiteral("best"), QStringLiteral("max")});
    o.compression = compress == QLatin1String("fast") ? picture::Compression::Fast
                  : compress == QLatin1String("best") ? picture::Compression::Best
                  : compress == QLatin1String("max")  ? picture::Compression::Max : picture::Compression::Default;
    o.allFrames = given.count(Id::AllFrames);
    o.pages.trim = given.count(Id::Trim);
    o.pages.dedupe = given.count(Id::Dedupe);
    if (given.count(Id::MaxSize))
        o.pages.maxSize = wholeNumber(given[Id::MaxSize], QStringLiteral("--max-size"), 1, 1 << 22);
    QStringList layoutIds;
    for (const strip::Layout &layout : strip::layouts())
        layoutIds.append(QLatin1String(layout.id));
    o.layout = choice(valueOf(given, Id::Layout, layoutIds.first()), QStringLiteral("--layout"), layoutIds);
    if (!strip::layoutNamed(o.layout)->grid) {
        for (const Id id : {Id::Columns, Id::Fill, Id::Cell, Id::Overlap})
            if (given.count(id))
                throw UsageError{QStringLiteral("--%1 is about a grid of even cells, which --layout %2 does not make; leave out --%1")
                                     .arg(QLatin1String(byId(id)->name), o.layout)};
    }
    o.pages.rotate = given.count(Id::Rotate);
    if (o.pages.rotate && strip::layoutNamed(o.layout)->grid)
        throw UsageError{QStringLiteral("--rotate turns frames of a packed layout, and the cells of --layout %1 are not "
                                        "turned; give --layout dense too").arg(o.layout)};
    o.depfile = picture::plainPath(valueOf(given, Id::Depfile));
    o.txt = given.count(Id::Txt);
    o.json = given.count(Id::Json) || (given.count(Id::Names) && !given.count(Id::Format));
    if (given.count(Id::Format)) {
        QStringList known;
        for (const strip::DataEnd &end : strip::dataEnds())
            known.append(QLatin1String(end.id));
        QStringList jsonLayouts;
        for (const QString &name : given[Id::Format].split(u',')) {
            choice(name, QStringLiteral("--format"), known);
            if (name.startsWith(QLatin1String("json-"))) {
                o.json = true;
                if (!jsonLayouts.contains(name))
                    jsonLayouts.append(name);
            } else if (!o.formats.contains(name)) {
                o.formats.append(name);
            }
        }
        if (jsonLayouts.size() > 1)
            throw UsageError{QStringLiteral("--format takes one of json-hash and json-array: they are the same file")};
        o.jsonLayout = jsonLayouts.value(0) == QLatin1String("json-array") ? strip::JsonLayout::Array : strip::JsonLayout::Hash;
    }
    // The JSON is written first, in its layout, as every other data end asked for.
    if (o.json)
        o.formats.prepend(o.jsonLayout == strip::JsonLayout::Array ? QStringLiteral("json-array") : QStringLiteral("json-hash"));
    if ((o.json || !o.formats.isEmpty()) && !o.sheet.clip)
        throw UsageError{QStringLiteral("--overlap lets pictures run over their neighbours' cells, where no data "
                                        "rectangle can hold one frame alone; leave out --json, --format or --overlap")};
    if (o.pages.trim && !o.sheet.clip)
        throw UsageError{QStringLiteral("--trim cuts cells to what their frames show, which --overlap lets pictures "
                                        "run out of; give one")};
    o.names = choice(valueOf(given, Id::Names, QStringLiteral("path")), QStringLiteral("--names"),
                     {QStringLiteral("path"), QStringLiteral("index")}) == QLatin1String("index")
        ? strip::NameScheme::Index : strip::NameScheme::Path;
    o.duration = wholeNumber(valueOf(given, Id::Duration, QStringLiteral("100")), QStringLiteral("--duration"), 1, 3600000);
    return o;
}

QString helpText()
{
    QString text = QStringLiteral(
        "Usage: corvane-strip [OPTIONS] INPUT... -o OUTPUT\n"
        "       corvane-strip --split SHEET (--cell WxH | --data SHEET.json) -o FOLDER\n"
        "\n"
        "Composes pictures (BMP, GIF, ICO, JPEG, PNG, APNG, WebP) into one sheet of equal\n"
        "cells: a 24-bit BMP as the Corvane window writes it, an RGBA PNG or a lossless\n"
        "WebP; or cuts a sheet back into PNG frames. An INPUT is a picture file or a folder\n"
        "(its picture files, no hidden ones, no subfolders).\n"
        "\n"
        "Options:\n");
    // Each option's help wrapped at 80 columns, beside its names or below them when they are long.
    constexpr int indent = 32, width = 80;
    for (const OptionDef &s : optionDefs) {
        QString line = s.letter ? QStringLiteral("  -%1, --%2").arg(QLatin1Char(s.letter)).arg(QLatin1String(s.name))
                                : QStringLiteral("      --%1").arg(QLatin1String(s.name));
        if (s.value)
            line += u' ' + QLatin1String(s.value);
        if (line.size() >= indent) {
            text += line + u'\n';
            line.clear();
        }
        line = line.leftJustified(indent);
        QString help = QString::fromLatin1(s.help);
        if (s.id == Id::Layout) {
            QStringList ids, each;
            for (const strip::Layout &layout : strip::layouts()) {
                ids.append(QLatin1String(layout.id));
                each.append(QLatin1String(layout.id) + QStringLiteral(": ") + QLatin1String(layout.help));
            }
            line = QStringLiteral("      --layout %1").arg(ids.join(u'|'));
            if (line.size() >= indent) {
                text += line + u'\n';
                line.clear();
            }
            line = line.leftJustified(indent);
            help = QStringLiteral("How frames are placed; %1.").arg(each.join(QStringLiteral("; ")));
        }
        if (s.id == Id::Output)
            help = QStringLiteral("The sheet to write: %1 (required). With --split, the folder for the frames.")
                       .arg(strip::sheetSuffixes(true));
        if (s.id == Id::Format) {
            QStringList ends;
            for (const strip::DataEnd &end : strip::dataEnds())
                ends.append(*end.help ? QLatin1String(end.id) + u' ' + QLatin1String(end.help) : QString::fromLatin1(end.id));
            help = QStringLiteral("Data for engines beside the sheet, comma-separated: %1.").arg(ends.join(QStringLiteral(", ")));
        }
        for (const QString &word : help.split(u' ')) {
            if (line.size() + 1 + word.size() > width && line.size() > indent) {
                text += line + u'\n';
                line = QString(indent, u' ');
            }
            line += (line.size() > indent ? QStringLiteral(" ") : QString()) + word;
        }
        text += line + u'\n';
    }
    text += QStringLiteral(
        "\nLong options are written in full; an abbreviation is refused with a suggestion.\n"
        "Exit status: 0 written, 1 an input could not be read or an output not written\n"
        "(nothing is written or replaced then), 2 a usage error; --watch ends with 0 when\n"
        "stopped between runs.\n");
    return text;
}

} // namespace cli
