#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

#include "picture/source/headers.h"
#include "picture/source/sprite.h"

namespace picture {

// Aseprite's .ase and .aseprite files: an editor's layers, cels and tilemaps, composed here into
// the frames the editor shows. The file is walked once when it is opened: every size is checked
// against the bytes there are and every frame's cels are indexed, but no pixel is inflated until
// the cel is drawn.

// True when head starts an Aseprite file: its magic number and a colour depth of 8, 16 or 32.
bool isAseprite(const QByteArray &head);

struct AseLayer {
    QString name;
    int flags = 0;
    int type = 0;       // 0 image, 1 group, 2 tilemap
    int blend = 0;
    int opacity = 255;  // 255 when the file's layer opacities do not count
    int parent = -1;    // the enclosing group's index
    int tileset = -1;   // a tilemap layer's, as an index into AseDocument::tilesets
    bool shown = false;
};

struct AseCel {
    int layer = 0;
    int x = 0;
    int y = 0;
    int opacity = 255;
    int type = 0;           // 0 raw, 2 compressed, 3 compressed tilemap; links are resolved
    int width = 0;          // pixels, or tiles for a tilemap
    int height = 0;
    qint64 data = 0;        // where its pixels (or tiles) start in the file
    qint64 dataBytes = 0;   // and how many bytes they take there
    int tileBits = 0;       // a tilemap's bits a tile and masks
    quint32 idMask = 0;
    quint32 xFlipMask = 0;
    quint32 yFlipMask = 0;
    quint32 diagonalMask = 0;
};

struct AseTileset {
    quint32 id = 0;
    int count = 0;
    int tileWidth = 0;
    int tileHeight = 0;
    qint64 data = 0;        // its zlib image: tileWidth x (tileHeight * count)
    qint64 dataBytes = 0;
};

// What the walk through the file found.
struct AseDocument {
    int width = 0;
    int height = 0;
    int depth = 32;                 // bits a pixel: 32 RGBA, 16 grey and alpha, 8 indexed
    int transparentIndex = 0;
    QList<AseLayer> layers;
    std::vector<QRgb> palette;      // straight alpha; the first 256 entries of paletteSize
    int paletteSize = 0;
    std::vector<std::vector<AseCel>> frames; // each frame's cels, by layer index
    QList<int> delays;
    std::vector<AseTileset> tilesets;
    SpriteFacts facts;
    qint64 largestCelWidth = 0;     // the largest cel, in pixels or tiles
    qint64 largestCelHeight = 0;
    qint64 largestCelBytes = 0;     // its pixels inflated
    qint64 largestTilesetWidth = 0; // the largest tileset image
    qint64 largestTilesetHeight = 0;
    qint64 tilesetBytes = 0;        // every tileset's pixels inflated

    int bytesPerPixel() const { return depth / 8; }
    // The most memory composing a frame holds besides the frame: one cel and every tileset.
    qint64 workBytes() const { return largestCelBytes + tilesetBytes; }
};

// The header of an Aseprite file, and the walk through its frames: h.aseprite is set when the
// header can be read; damage found in the walk is h.incomplete, so that the budget is held to
// the canvas first.
Header readAseprite(const QByteArray &data, Header h);

// The frames of a walked file, with their delays; it plays for ever.
AnimationFrames asepriteFrames(const AseDocument &document);

// Frames of a walked file composed one after another, each on a transparent canvas of its own:
// every shown layer, or only the layer of index onlyLayer (-1: all). Holds the inflated tilesets
// from their first use on.
class AsepritePlayer
{
public:
    AsepritePlayer(const QByteArray &data, std::shared_ptr<const AseDocument> document, int onlyLayer = -1);
    ~AsepritePlayer();
    AsepritePlayer(const AsepritePlayer &) = delete;
    AsepritePlayer &operator=(const AsepritePlayer &) = delete;

    // The next frame composed: RGB32 when every pixel is opaque, else ARGB32 with straight
    // alpha. False with *cause set when there is none, a cel's data is damaged or the memory
    // cannot be had.
    bool next(QImage *frame, QString *cause);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace picture
