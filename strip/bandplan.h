#pragma once

#include <QRect>

#include <span>
#include <utility>
#include <vector>

#include "strip/bands.h"

namespace strip {

// One frame of one source as the sheet takes it: decoded, prepared, held from the band that
// decodes it to the last band that shows it, then dropped.
struct Piece {
    int source = 0;
    int frame = 0;
    QRect extent;         // what its prepared picture covers, from where its picture goes, unturned
    bool rotated = false; // prepared turned a quarter clockwise
    int first = -1;       // bands, in composing order
    int last = -1;
    int decodedAt = -1;   // its first band, or an earlier one that decodes it ahead
    qint64 heldBytes = 0; // its prepared picture, 0 when the caller decoded it ahead
    qint64 workBytes = 0; // what preparing it holds for a moment beside the prepared picture
};

// A list of numbers for each band, all in one array: a sheet of many rows is planned without
// an allocation for each of its bands.
class BandLists
{
public:
    BandLists() = default;
    // From (band, number) pairs; each band's numbers keep the order they came in.
    BandLists(int bandCount, const std::vector<std::pair<int, int>> &entries);

    std::span<const int> operator[](size_t band) const
    {
        return {m_items.data() + m_starts[band], m_items.data() + m_starts[band + 1]};
    }
    size_t size() const { return m_starts.empty() ? 0 : m_starts.size() - 1; }

    struct Iterator {
        const BandLists *lists;
        size_t band;
        std::span<const int> operator*() const { return (*lists)[band]; }
        Iterator &operator++()
        {
            ++band;
            return *this;
        }
        bool operator==(const Iterator &other) const = default;
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

private:
    std::vector<int> m_starts; // band b's numbers are m_items[m_starts[b], m_starts[b + 1])
    std::vector<int> m_items;
};

// Every piece of a sheet and, for each band in composing order, what happens in it: which
// pieces are decoded, which frames are drawn (in cell order), which pieces and sources are let go.
struct BandPlan {
    QList<Band> bands;
    std::vector<Piece> pieces;
    std::vector<int> pieceOfFrame;                // frame i's piece
    BandLists decodes;                            // pieces; a source's in frame order
    BandLists draws;                              // frames
    BandLists drops;                              // pieces, after the band
    BandLists lets;                               // sources whose files are let go after the band
};

// Places every frame of job in its bands. Each frame is placed from its own rows, so planning
// costs the frames plus the bands, never their product. An animation's frames are decoded in
// their order, once: a frame needed in a later band than one after it is decoded with that one
// and held until it is shown.
BandPlan planSheet(const SheetJob &job, BandOrder order);

// Where frame i's prepared picture lies on the sheet, before it is cut at its cell or the
// sheet's edges.
QRect frameRect(const SheetJob &job, const BandPlan &plan, int i);

} // namespace strip
