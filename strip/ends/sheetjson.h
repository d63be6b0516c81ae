#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include "strip/framenames.h"
#include "strip/sheet.h"
#include "strip/sheetdata.h"

namespace strip {

// How the frames are listed: an object keyed by name, which PixiJS and Phaser both read, or a
// list of objects that carry their name as "filename".
enum class JsonLayout { Hash, Array };

// A page of the sheet for game engines: its frames in sheet order; each animation the page holds
// whole as PixiJS's "animations" (name -> the frames' keys as PixiJS reads them: their names in
// an object, their places from 0 in a list); on the first page every animation as
// "meta.frameTags" (name, from, to, direction, and how many times it plays when not for ever);
// the grid (columns, rows, cell, padding, margin) under "meta" for engines that slice by grid.
// With otherPages (the first page's data when there are several: the other pages' data files),
// PixiJS's "meta.related_multi_packs" and Phaser's multi-atlas "textures" list every page.
QByteArray sheetJson(const SheetData &data, int page, JsonLayout layout, const QStringList &otherPages = {});

} // namespace strip
