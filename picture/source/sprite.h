#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

namespace picture {

// What a pixel-art editor's file (Aseprite's .ase and .aseprite) says besides its pixels: its
// layers, its tags and its slices, as the file gives them.

struct SpriteTag {
    QString name;
    int from = 0;   // frame numbers of the file, both ends included
    int to = 0;
    enum class Direction { Forward, Reverse, PingPong, PingPongReverse };
    Direction direction = Direction::Forward;
    int repeat = 0; // how many times it plays; 0 when the file does not say (for ever)
};

struct SpriteSliceKey {
    int frame = 0;               // valid from this frame of the file on, until the next key
    QRect bounds;                // on the canvas; empty when the slice is hidden from this frame on
    std::optional<QRect> center; // a 9-slice's centre, relative to bounds' origin
    std::optional<QPoint> pivot; // relative to bounds' origin
};

struct SpriteSlice {
    QString name;
    QList<SpriteSliceKey> keys;  // by frame, first to last
};

struct SpriteLayer {
    QString name;
    int index = 0;      // the file's layer index (bottom first, groups counted)
    bool shown = false; // drawn in a frame: an image or tilemap layer that is visible, is no
                        // reference layer and has no hidden group above it
};

struct SpriteFacts {
    QList<SpriteLayer> layers;  // the image and tilemap layers, bottom first
    QList<SpriteTag> tags;
    QList<SpriteSlice> slices;
};

} // namespace picture
