// corvane-strip: the window's strips from the command line, and PNG sheets with JSON for game
// engines. Everything it does lives in the core library; this file reads options and reports.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>
#include <optional>

#include <unistd.h>

#include "picture/bitmapfile.h"
#include "picture/surface.h"
#include "strip/bands.h"
#include "strip/frames.h"
#include "strip/inputs.h"
#include "strip/names.h"
#include "strip/pngsheet.h"
#include "strip/sheetjson.h"

namespace {

// The menu-bar colour of Qt's Fusion style, the window's background under Qt's default style.
const QColor windowBackground(0xef, 0xef, 0xef);

enum Status { Written = 0, Failed = 1, Usage = 2 };

struct UsageError {
    QString message;
};

void say(const QString &text)
{
    std::fprintf(stderr, "corvane-strip: %s\n", qUtf8Printable(text));
}

int wholeNumber(const QString &value, const QString &option, int least, int most)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!QRegularExpression(QStringLiteral("^[0-9]+$")).match(value).hasMatch() || !ok || n < least || n > most)
        throw UsageError{QStringLiteral("%1 takes a whole number from %2 to %3, not '%4'").arg(option).arg(least).arg(most).arg(value)};
    return n;
}

struct Options {
    QStringList inputs;
    QString output;
    bool png = false;
    strip::SheetOptions sheet;
    strip::Order order = strip::Order::Natural;
    std::optional<QColor> background; // unset: transparent for PNG, the window's colour for BMP
    bool allFrames = false, txt = false, json = false, dryRun = false, quiet = false;
    picture::Compression compression = picture::Compression::Default;
};

Options readOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Composes pictures (BMP, GIF, ICO, JPEG, PNG) into one sheet of equal cells: a 24-bit BMP as the\n"
        "Corvane window writes it, or an RGBA PNG."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The sheet to write: .bmp or .png (required)."), QStringLiteral("FILE"));
    const QCommandLineOption columns({QStringLiteral("c"), QStringLiteral("columns")},
                                     QStringLiteral("Frames per row (default 10; lowered to the frame total)."), QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption order(QStringLiteral("order"),
                                   QStringLiteral("A folder's files in natural order (frame2 before frame10) or by name as the window lists them (default natural)."),
                                   QStringLiteral("natural|name"), QStringLiteral("natural"));
    const QCommandLineOption fill(QStringLiteral("fill"), QStringLiteral("Fill each row first, or each column top to bottom first (default rows)."),
                                  QStringLiteral("rows|columns"), QStringLiteral("rows"));
    const QCommandLineOption padding(QStringLiteral("padding"), QStringLiteral("Pixels between cells (default 0)."), QStringLiteral("P"), QStringLiteral("0"));
    const QCommandLineOption margin(QStringLiteral("margin"), QStringLiteral("Pixels around the sheet (default 0)."), QStringLiteral("M"), QStringLiteral("0"));
    const QCommandLineOption cell(QStringLiteral("cell"), QStringLiteral("The cell size (default: the first picture's size)."), QStringLiteral("WxH"));
    const QCommandLineOption clip(QStringLiteral("clip"), QStringLiteral("Cut each picture at its cell's edge; otherwise a larger one runs into the next cells."));
    const QCommandLineOption background(QStringLiteral("background"),
                                        QStringLiteral("#rrggbb, or transparent (PNG only). Default: transparent for PNG; for BMP #efefef, the "
                                                       "menu-bar colour of Qt's default (Fusion) style that the window uses."),
                                        QStringLiteral("COLOR|transparent"));
    const QCommandLineOption allFrames(QStringLiteral("all-frames"), QStringLiteral("Every frame of an animated GIF, as a viewer shows it, not only the first."));
    const QCommandLineOption txt(QStringLiteral("txt"), QStringLiteral("Also write the window's one-line text file (NAME.TXT)."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Also write OUTPUT-stem.json: the frames in the JSON-array layout of Phaser and PixiJS."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QStringLiteral("Print the layout and the memory it needs; write nothing."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")}, QStringLiteral("No warnings and no progress bar."));
    const QCommandLineOption compress(QStringLiteral("compress"),
                                      QStringLiteral("How hard to compress a PNG: fast, default, or best (smallest, slower)."),
                                      QStringLiteral("fast|default|best"), QStringLiteral("default"));
    parser.addOptions({output, columns, order, fill, padding, margin, cell, clip, background, allFrames, txt, json, dryRun, quiet, compress});
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("Picture files and folders (a folder gives its picture files, no hidden ones, no subfolders)."),
                                 QStringLiteral("INPUT..."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);

    if (!parser.parse(app.arguments()))
        throw UsageError{parser.errorText()};
    if (parser.isSet(help)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        std::fputs("\nExit status: 0 written, 1 an input could not be read or an output not written, 2 a usage error.\n", stdout);
        std::exit(Written);
    }
    if (parser.isSet(version)) {
        std::printf("corvane-strip %s\n", CORVANE_VERSION);
        std::exit(Written);
    }

    Options o;
    o.inputs = parser.positionalArguments();
    if (o.inputs.isEmpty())
        throw UsageError{QStringLiteral("no INPUT given")};
    o.output = parser.value(output);
    if (o.output.isEmpty())
        throw UsageError{QStringLiteral("no output given (-o FILE)")};
    const QString suffix = QFileInfo(o.output).suffix().toLower();
    if (suffix != QLatin1String("bmp") && suffix != QLatin1String("png"))
        throw UsageError{QStringLiteral("the output must end in .bmp or .png, not '%1'").arg(o.output)};
    o.png = suffix == QLatin1String("png");

    o.sheet.columns = wholeNumber(parser.value(columns), QStringLiteral("--columns"), 1, 1 << 20);
    o.sheet.padding = wholeNumber(parser.value(padding), QStringLiteral("--padding"), 0, 1 << 16);
    o.sheet.margin = wholeNumber(parser.value(margin), QStringLiteral("--margin"), 0, 1 << 16);
    if (parser.isSet(cell)) {
        const auto m = QRegularExpression(QStringLiteral("^([0-9]+)x([0-9]+)$")).match(parser.value(cell));
        if (!m.hasMatch())
            throw UsageError{QStringLiteral("--cell takes WxH, such as 32x48, not '%1'").arg(parser.value(cell))};
        o.sheet.cell = QSize(wholeNumber(m.captured(1), QStringLiteral("--cell"), 1, 1 << 20),
                             wholeNumber(m.captured(2), QStringLiteral("--cell"), 1, 1 << 20));
    }
    const QString orderValue = parser.value(order);
    if (orderValue != QLatin1String("natural") && orderValue != QLatin1String("name"))
        throw UsageError{QStringLiteral("--order takes natural or name, not '%1'").arg(orderValue)};
    o.order = orderValue == QLatin1String("name") ? strip::Order::Name : strip::Order::Natural;
    const QString fillValue = parser.value(fill);
    if (fillValue != QLatin1String("rows") && fillValue != QLatin1String("columns"))
        throw UsageError{QStringLiteral("--fill takes rows or columns, not '%1'").arg(fillValue)};
    o.sheet.fill = fillValue == QLatin1String("columns") ? strip::Fill::Columns : strip::Fill::Rows;
    o.sheet.clip = parser.isSet(clip);
    if (parser.isSet(background)) {
        const QString value = parser.value(background);
        if (value == QLatin1String("transparent")) {
            if (!o.png)
                throw UsageError{QStringLiteral("--background transparent needs a .png output; a BMP has no transparency")};
            o.background = QColor(Qt::transparent);
        } else if (QRegularExpression(QStringLiteral("^#[0-9a-fA-F]{6}$")).match(value).hasMatch()) {
            o.background = QColor::fromString(value);
        } else {
            throw UsageError{QStringLiteral("--background takes #rrggbb or transparent, not '%1'").arg(value)};
        }
    }
    const QString compressValue = parser.value(compress);
    if (compressValue != QLatin1String("fast") && compressValue != QLatin1String("default") && compressValue != QLatin1String("best"))
        throw UsageError{QStringLiteral("--compress takes fast, default or best, not '%1'").arg(compressValue)};
    o.compression = compressValue == QLatin1String("fast")   ? picture::Compression::Fast
                    : compressValue == QLatin1String("best") ? picture::Compression::Best
                                                             : picture::Compression::Default;
    o.allFrames = parser.isSet(allFrames);
    o.txt = parser.isSet(txt);
    o.json = parser.isSet(json);
    o.dryRun = parser.isSet(dryRun);
    o.quiet = parser.isSet(quiet);
    return o;
}

QString mebibytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

// A bar on standard error, redrawn in place; only where someone watches it.
class Progress
{
public:
    explicit Progress(bool shown) : m_shown(shown) {}
    void operator()(int done, int total)
    {
        if (!m_shown)
            return;
        const int width = 40;
        const int filled = total ? done * width / total : width;
        std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(), QByteArray(width - filled, '.').constData(),
                     total ? done * 100 / total : 100);
        if (done == total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    bool m_shown;
};

int run(const Options &o)
{
    // Inputs in the order given; a folder's files in the chosen order.
    strip::SheetJob job;
    job.budget.acceptPng = true;
    job.bytesPerPixel = o.png ? 4 : 3;
    for (const QString &input : o.inputs) {
        QStringList files{input};
        if (QFileInfo(input).isDir()) {
            files = strip::pictureFilesIn(input, o.order);
            // A sheet written into its own frames' folder is not a frame of the next run.
            const QString outputName = QFileInfo(o.output).fileName();
            files.removeIf([&](const QString &file) {
                return QFileInfo(file).fileName() == outputName && QFileInfo(file) == QFileInfo(o.output);
            });
            if (files.isEmpty()) {
                say(QStringLiteral("Cannot read %1: the folder holds no picture files.").arg(input));
                return Failed;
            }
        }
        for (const QString &file : files) {
            strip::SheetSource source{file, o.allFrames, 1, {}};
            QString error;
            if (!strip::probeSource(source, job.budget, &error)) {
                say(error);
                return Failed;
            }
            for (int f = 0; f < source.frames; ++f)
                job.frames.append({int(job.sources.size()), f});
            job.sources.append(source);
        }
    }
    job.sheet = strip::arrangeSheet(int(job.frames.size()), job.sources.first().size, o.sheet);
    const strip::Sheet &sheet = job.sheet;
    const strip::BandOrder bandOrder = o.png ? strip::BandOrder::TopDown : strip::BandOrder::BottomUp;
    const qint64 memory = strip::peakBytes(job, bandOrder) + (o.png ? strip::pngSheetBytes(job) : 0);
    const QString size = QStringLiteral("%1 x %2 pixels").arg(sheet.width).arg(sheet.height);

    if (o.dryRun) {
        std::printf("frames: %d\ncolumns: %d\nrows: %d\ncell: %d x %d\npadding: %d\nmargin: %d\nsheet: %s\n"
                    "estimated memory: %s MiB\n",
                    sheet.frameTotal, sheet.columns, sheet.rows, sheet.cell.width(), sheet.cell.height(), sheet.padding,
                    sheet.margin, qUtf8Printable(size), qUtf8Printable(mebibytes(memory)));
    }
    if (!o.quiet) {
        for (const int limit : {16384, 8192, 4096}) {
            if (std::max(sheet.width, sheet.height) > limit) {
                say(QStringLiteral("warning: the sheet is %1, more than %2 pixels a side, the largest texture "
                                   "many graphics processors take.").arg(size).arg(limit));
                break;
            }
        }
    }
    // Refused before anything is written: what the format or the memory cannot hold.
    const bool fits = o.png ? sheet.width <= picture::kPngMaxSide && sheet.height <= picture::kPngMaxSide
                            : sheet.width <= INT_MAX && sheet.height <= INT_MAX
                                  && picture::bitmapFileSize(int(sheet.width), int(sheet.height)) >= 0;
    if (!fits) {
        say(o.png ? QStringLiteral("Cannot write %1: a PNG of %2 is larger than the format allows.").arg(o.output, size)
                  : picture::bitmapTooLarge(o.output, sheet.width, sheet.height));
        return Failed;
    }
    const qint64 budget = strip::CommandBudget{}.maxTotalBytes;
    if (memory > budget) {
        say(QStringLiteral("Cannot write %1: at %2 the sheet needs %3 MiB at once, more than the %4 MiB it may use.")
                .arg(o.output, size, mebibytes(memory), mebibytes(budget)));
        return Failed;
    }
    if (o.dryRun)
        return Written;

    Progress progress(!o.quiet && isatty(STDERR_FILENO) && job.frames.size() >= 20);
    QString inputError;
    QString encoderError;
    const int width = int(sheet.width);
    const QColor background = o.background.value_or(o.png ? QColor(Qt::transparent) : windowBackground);
    const picture::SaveResult saved = picture::saveAtomically(o.output, [&](picture::SaveSink &sink) {
        if (o.png)
            return strip::writePngSheet(job, sink, background, o.compression, &inputError, &encoderError, std::ref(progress));
        // The window's own surface and bitmap rows, a band at a time, from the bottom up.
        picture::Surface band(0, 0, background);
        const QByteArray header = picture::bitmapHeader(width, int(sheet.height));
        const strip::BandCanvas canvas{
            [&](int w, int rows) {
                const bool sized = band.setWidth(w) && band.setHeight(rows);
                band.clear();
                return sized;
            },
            [&](const QImage &picture, int x, int y) { band.draw(picture, x, y); },
            [&](const strip::Band &) { return picture::writeBitmapRows(sink, band.pixels(), 0, band.height()); }};
        return sink.write(header.constData(), header.size())
            && strip::composeInBands(job, bandOrder, canvas, &inputError, std::ref(progress));
    });
    if (!saved.ok) {
        if (!inputError.isEmpty())
            say(inputError + QStringLiteral(" Nothing was written."));
        else if (!encoderError.isEmpty())
            say(QStringLiteral("Cannot write %1: %2").arg(o.output, encoderError));
        else
            say(saved.message);
        return Failed;
    }

    const QFileInfo out(o.output);
    auto writeText = [](const QString &path, const QByteArray &bytes) {
        const picture::SaveResult r = picture::saveAtomically(path, [&](picture::SaveSink &sink) {
            return sink.write(bytes.constData(), bytes.size());
        });
        if (!r.ok)
            say(r.message);
        return r.ok;
    };
    if (o.json) {
        QList<strip::JsonFrame> frames;
        for (int i = 0; i < job.frames.size(); ++i) {
            const strip::SheetFrame &f = job.frames[i];
            const strip::SheetSource &s = job.sources[f.source];
            QString name = QFileInfo(s.path).fileName();
            if (s.allFrames)
                name += QStringLiteral("#%1").arg(f.frame);
            frames.append({name, sheet.covered(i, s.size)});
        }
        const QString path = out.dir().filePath(out.completeBaseName() + QStringLiteral(".json"));
        if (!writeText(path, strip::sheetJson(sheet, frames, out.fileName(), o.png ? QStringLiteral("RGBA8888")
                                                                                        : QStringLiteral("RGB888"))))
            return Failed;
    }
    if (o.txt && !writeText(strip::textPath(o.output), strip::companionLine(strip::imageName(out.fileName()),
                                                                           sheet.columns, sheet.frameTotal)))
        return Failed;
    return Written;
}

} // namespace

int main(int argc, char *argv[])
{
    // The picture decoders are Qt plugins, found through the application; no display is needed.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-strip"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    try {
        return run(readOptions(app));
    } catch (const UsageError &e) {
        say(e.message);
        std::fprintf(stderr, "Try 'corvane-strip --help' for more information.\n");
        return Usage;
    }
}
