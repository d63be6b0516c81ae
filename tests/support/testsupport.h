#pragma once

#include <QImage>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

#include "picture/source/picture.h"
#include "picture/base/savefile.h"
#include "strip/bands.h"

namespace testsupport {

// The shared picture corpus, or an empty string when this checkout has none beside it.
QString corpusDir();

// Skips the current test, saying why, when the shared corpus is absent.
#define CORVANE_REQUIRE_CORPUS()                                                              \
    do {                                                                                      \
        if (testsupport::corpusDir().isEmpty())                                               \
            QSKIP("the shared picture corpus (../shared/corpus) is not beside this checkout"); \
    } while (false)

// Reads a picture with Pillow (not our code) into an RGB32 image; a null image when Pillow
// refuses it, with its reason in *error.
QImage readWithPillow(const QString &path, QString *error = nullptr, QString *format = nullptr);

// Every frame of a picture as Pillow reads it, Format_RGBA8888 with straight alpha (a GIF's
// frames coalesced, as a viewer shows them); empty when Pillow refuses it, or when pngcheck
// (where installed) finds fault with a .png file.
QList<QImage> pillowFrames(const QString &path);

// pngcheck's verdict on a PNG: "" when it passes or is not installed, else its complaint.
QString pngcheckComplaint(const QString &path);

// A solid picture of w x h in colour c, or a pattern that makes every pixel distinct.
QImage solid(int w, int h, QColor c);
QImage pattern(int w, int h, int seed);

// Writes bytes to path; fails the test on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// Runs work in a forked child process (for limits and mounts that must not touch the test
// itself) and returns the text it reported. A child that dies of a signal or exits abnormally
// is reported as "the child died of signal N" or "the child ended abnormally (exit status N)".
QString inChild(const std::function<QString()> &work);

// Sets or clears a file's immutable flag, which stops even root from changing it; false where
// the file system has no such flag.
bool setImmutable(const QString &path, bool on);

// The name of a load outcome, for readable test reports.
QString errorName(picture::LoadError e);

// "OK", or the failure's message.
QString reportOf(const picture::SaveResult &r);

// The window's strip of one picture, ready for strip::writeSheet as the programs write it: the
// picture saved as a bitmap in folder, gathered and planned as a strip of one cell. A job is
// written once. Fails the test when any step fails.
strip::SheetJob stripOf(const QImage &picture, const QString &folder);

// Writes job as the window writes its bitmap, on background: "OK", or the failure's message.
QString writeStrip(const strip::SheetJob &job, const QString &path, const QColor &background = QColor(0xd4, 0xd0, 0xc8));

// Every entry of dir, hidden ones included, sorted: what a failed write must not leave behind.
QStringList entries(const QString &dir);

// A picture whose pixels all differ; its alpha: 255, only 0 and 255, or every value.
enum class Alpha { Opaque, Binary, Partial };
QImage sample(int w, int h, int seed, Alpha alpha = Alpha::Opaque);

// How a run of corvane-strip ended: its exit status (-1 when it died) and what it printed.
struct Run {
    int status = -1;
    QString out;
    QString err;
};

// The corvane-strip program of this build.
QString stripProgram();

// Runs corvane-strip with args in dir; prefix, when given, is a command that runs it (setpriv
// with its options, say); setUp may change the process before it starts (its channels).
Run runStrip(const QStringList &args, const QString &dir, const QStringList &prefix = {},
             const std::function<void(QProcess &)> &setUp = {});

// Where got and want differ, both taken as RGBA, as "(x,y): r,g,b,a want r,g,b,a"; "" when they
// agree. Two fully transparent pixels agree whatever their colours.
QString compareRgba(const QImage &got, const QImage &want);

// A frame cut from sheet at rect and put back at `at` in a transparent frame of its whole size,
// as an engine restores a trimmed frame.
QImage wholeFrame(const QImage &sheet, const QRect &rect, QSize whole, QPoint at);
// The same for a frame an engine maps from the sheet's points under its top-left, top-right,
// bottom-right and bottom-left corners (in pixels, as its uvs give them; a turned frame's are
// turned): each pixel the sheet's under its centre.
QImage wholeFrame(const QImage &sheet, const QList<QPointF> &corners, QSize whole, QPoint at);

// What the engines' own parsers find in a sheet's JSON (tests/cli/engines/read-sheet.cjs in
// engines, run by node): {"pixi": ..., "phaser": ...}; empty with *error set when it fails.
QJsonObject engineReading(const QString &engines, const QString &json, QString *error);

// Arguments written as one string, split at blanks.
QStringList words(const char *text);

// The first pixel position where a and b differ (both compared as RGB32), or "" when equal.
QString firstDifference(const QImage &a, const QImage &b, int tolerance = 0);

} // namespace testsupport
