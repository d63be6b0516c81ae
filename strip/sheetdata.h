#pragma once

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

#include "picture/source/sprite.h"
#include "strip/sheet.h"

namespace strip {

// What a game engine's data says about a sheet, whatever its format: the pages, every named
// frame, the animations. Every format is written from this one description, so that they all
// name and place the same frames.

// One image of the sheet. A sheet past --max-size is cut into several, between rows.
struct DataPage {
    QString image;   // the image's file name, beside the data
    QSize size;      // in pixels
    Sheet grid;      // its layout: columns, rows, cell, padding, margin, extrude
};

// One named frame. Frames whose pixels are the same (--dedupe) share one rectangle.
struct DataFrame {
    QString name;       // unique in the sheet
    int page = 0;
    QRect rect;         // where its pixels are on its page, as they sit there
    QSize sourceSize;   // the frame's whole size: its cell before trimming
    QRect sourceRect;   // where rect's pixels sit within sourceSize; all of it unless trimmed
    bool trimmed = false;
    bool rotated = false; // its pixels turned a quarter clockwise in rect; no layout does it yet
    int cell = 0;       // the cell it shares with others of the same pixels, counted over all pages
    int duration = 100; // milliseconds
    // Where it is held and turned about, as a fraction of sourceSize: its file's slice pivot.
    std::optional<QPointF> pivot;
};

// Frames that play as one animation, in their order.
struct DataAnimation {
    QString name;
    QList<int> frames;  // indexes into SheetData::frames, in sheet order
    int plays = 0;      // how many times it plays; 0: for ever
    picture::SpriteTag::Direction direction = picture::SpriteTag::Direction::Forward;
};

// An animation's frames in the order one pass of it shows them: reversed, or there and back
// without showing an end twice.
QList<int> playOrder(const DataAnimation &animation);

// A named rectangle of an editor's file, on the frames of the sheet it was drawn on.
struct DataSlice {
    QString name;
    struct Key {
        int frame = 0;               // a frame of the sheet: from this one on, for the file's later frames
        QRect bounds;                // within the frame's whole size (sourceSize)
        std::optional<QRect> center; // a 9-slice's centre, relative to bounds
        std::optional<QPoint> pivot; // relative to bounds
    };
    QList<Key> keys;
};

struct SheetData {
    QList<DataPage> pages;
    QList<DataFrame> frames;          // in sheet order
    QList<DataAnimation> animations;  // in sheet order, names all different
    // Where a frame is held and turned about, as a fraction of its whole size (bottom: 0.5, 1);
    // set only when the anchor was asked for.
    std::optional<QPointF> pivot;
    QList<DataSlice> slices;          // of the editors' files, in sheet order
    QString pixelFormat;              // of the images: "RGBA8888" or "RGB888"
    bool premultiplied = false;       // colours multiplied by their alpha (--alpha premultiply)
    // How many of the images' pixels make one of the base variant's, as PixiJS reads meta.scale
    // (its resolution): "1" but for a variant of another scale.
    QString resolution = QStringLiteral("1");
};

// The file formats engines read beside the sheet, each written from the same SheetData. A
// name a format cannot hold as it is, is made safe the same way every time; names that
// become the same are refused by safeNamesClash() before anything is written.
QByteArray tiledTileset(const SheetData &data, int page);  // Tiled .tsx: one image a tileset
QByteArray gdxAtlas(const SheetData &data);                // libGDX / Spine .atlas, every page
QByteArray godotFrames(const SheetData &data);             // Godot 4 SpriteFrames .tres
QByteArray cssSprites(const SheetData &data);              // CSS, one class a frame
QByteArray sparrowAtlas(const SheetData &data, int page);  // Starling / Sparrow XML: one image an atlas
QByteArray cocosPlist(const SheetData &data, int page);    // cocos2d plist, format 3: one image a plist

// The CSS class a frame name becomes.
QString cssClass(const QString &frameName);

// A name as a text format holds it: each byte of a file name that was not UTF-8 becomes
// U+FFFD, as every reader of the format would decode it.
QString textName(const QString &name);
// A name as XML holds it (Tiled's, Starling's, a plist): textName(), and each character XML 1.0
// cannot hold U+FFFD.
QString xmlName(const QString &name);
// A name as a line of a libGDX atlas: textName() in UTF-8, with what would read as a field, a
// blank line or two lines written as %XX.
QByteArray atlasName(const QString &name);

// Why names cannot all be held as held() makes them: the first two different names it makes
// alike, called what ("the CSS class"); empty when none are.
QString namesClash(const QStringList &names, QString (*held)(const QString &), const QString &what);

// Why the frames' names cannot all be held by formats (of --format) once made safe: two frames
// that would get one CSS class, one Tiled tile name, one Starling texture, one cocos2d sprite
// frame or one libGDX region, a frame alone named
// as an animation whose frames libGDX finds by that name, two animations of one Godot name;
// empty when they can.
QString safeNamesClash(const SheetData &data, const QStringList &formats);

// Why a sheet at sheetPath cannot be named by formats (of --format, and "txt" for the text
// file) in their references to its image: a line break, a control character, a comma in the
// text file's one line, a colon or an edge blank on a libGDX page line; empty when it can.
QString imageNameRefusal(const QString &sheetPath, const QStringList &formats);

} // namespace strip
