#include "strip/layouts/maxrects.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "picture/base/threads.h"

// Rectangles are packed with the padding added to their right and bottom, into a bin that is the
// page less its margin plus one padding: the padding then lies only between rectangles, and the
// last one's padding falls on the margin's side of the bin, outside the page's content.

namespace strip {
namespace {

enum class Rule { ShortSide, BottomLeft, Area, LongSide, Contact };
enum class Order { Area, LongSide, Perimeter, Height, Width, Input };
constexpr std::array<Order, 6> orders{Order::Area,   Order::LongSide, Order::Perimeter,
                                      Order::Height, Order::Width,    Order::Input};

// No page needs a side beyond this: a side plus a padding of as much stays within an int.
constexpr std::int64_t sideCeiling = std::int64_t(1) << 29;

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

bool holds(const Box &a, const Box &b)
{
    return b.x >= a.x && b.y >= a.y && b.x + b.w <= a.x + a.w && b.y + b.h <= a.y + a.h;
}

struct Item {
    int w = 0, h = 0; // padded
    int index = 0;    // in the caller's list
};

struct Score {
    std::int64_t first = 0, second = 0, third = 0;
    bool operator<(const Score &o) const
    {
        if (first != o.first)
            return first < o.first;
        if (second != o.second)
            return second < o.second;
        return third < o.third;
    }
};

// A bin's free space as maximal free rectangles, none inside another.
class FreeSpace
{
public:
    FreeSpace(int width, int height, bool keepUsed) : width_(width), height_(height), keepUsed_(keepUsed)
    {
        free_.push_back({0, 0, width, height});
    }

    // The best spot for w x h (or h x w when turning is allowed) by rule; ties go to the free
    // rectangle found first, so the choice depends on nothing but the list.
    std::optional<Box> find(int w, int h, bool turn, Rule rule, bool &rotated) const
    {
        std::optional<Box> best;
        Score bestScore;
        auto consider = [&](const Box &f, int bw, int bh, bool turned) {
            if (bw > f.w || bh > f.h)
                return;
            const Box spot{f.x, f.y, bw, bh};
            const std::int64_t dw = f.w - bw, dh = f.h - bh;
            Score s;
            switch (rule) {
            case Rule::ShortSide: s = {std::min(dw, dh), std::max(dw, dh), 0}; break;
            case Rule::LongSide: s = {std::max(dw, dh), std::min(dw, dh), 0}; break;
            case Rule::Area: s = {std::int64_t(f.w) * f.h - std::int64_t(bw) * bh, std::min(dw, dh), 0}; break;
            case Rule::BottomLeft: s = {std::int64_t(f.y) + bh, f.x, 0}; break;
            case Rule::Contact: s = {-contact(spot), f.y, f.x}; break;
            }
            if (!best || s < bestScore) {
                best = spot;
                bestScore = s;
                rotated = turned;
            }
        };
        for (const Box &f : free_) {
            consider(f, w, h, false);
            if (turn && w != h)
                consider(f, h, w, true);
        }
        return best;
    }

    // Places b. Free rectangles narrower or lower than least (the smallest side of any rectangle
    // still to come) can hold none of them and are dropped, which keeps the list short.
    void place(const Box &b, int least)
    {
        pieces_.clear();
        touching_.clear();
        size_t kept = 0;
        for (const Box &f : free_) {
            if (f.w < least || f.h < least)
                continue;
            if (b.x >= f.x + f.w || b.x + b.w <= f.x || b.y >= f.y + f.h || b.y + b.h <= f.y) {
                if (f.x + f.w == b.x || f.x == b.x + b.w || f.y + f.h == b.y || f.y == b.y + b.h)
                    touching_.push_back(f);
                free_[kept++] = f;
                continue;
            }
            if (b.x > f.x)
                pieces_.push_back({f.x, f.y, b.x - f.x, f.h});
            if (b.x + b.w < f.x + f.w)
                pieces_.push_back({b.x + b.w, f.y, f.x + f.w - b.x - b.w, f.h});
            if (b.y > f.y)
                pieces_.push_back({f.x, f.y, f.w, b.y - f.y});
            if (b.y + b.h < f.y + f.h)
                pieces_.push_back({f.x, b.y + b.h, f.w, f.y + f.h - b.y - b.h});
        }
        free_.resize(kept);
        // An untouched rectangle never lies inside a new piece (the piece lies inside one it was
        // cut from, which held no other), so only the pieces need pruning; and as every piece
        // borders b along one of b's sides, a rectangle that holds one ends on that side's line.
        for (size_t i = 0; i < pieces_.size(); ++i) {
            const Box &n = pieces_[i];
            bool inside = false;
            for (size_t j = 0; j < pieces_.size() && !inside; ++j)
                inside = j != i && holds(pieces_[j], n) && (j < i || !holds(n, pieces_[j]));
            for (size_t j = 0; j < touching_.size() && !inside; ++j)
                inside = holds(touching_[j], n);
            if (!inside && n.w >= least && n.h >= least)
                free_.push_back(n);
        }
        if (keepUsed_)
            used_.push_back(b);
    }

private:
    // How much of spot's outline touches the bin's edges or placed rectangles.
    std::int64_t contact(const Box &s) const
    {
        std::int64_t c = 0;
        if (s.x == 0 || s.x + s.w == width_)
            c += s.h;
        if (s.y == 0 || s.y + s.h == height_)
            c += s.w;
        auto overlap = [](int a0, int a1, int b0, int b1) { return std::max(0, std::min(a1, b1) - std::max(a0, b0)); };
        for (const Box &u : used_) {
            if (u.x == s.x + s.w || u.x + u.w == s.x)
                c += overlap(s.y, s.y + s.h, u.y, u.y + u.h);
            if (u.y == s.y + s.h || u.y + u.h == s.y)
                c += overlap(s.x, s.x + s.w, u.x, u.x + u.w);
        }
        return c;
    }

    int width_, height_;
    bool keepUsed_;
    std::vector<Box> free_, pieces_, touching_, used_;
};

struct Trial {
    int binW = 0, binH = 0;
    Rule rule = Rule::ShortSide;
    Order order = Order::Area;
    bool fill = false; // place what fits and go on; otherwise stop at the first that does not
    bool turn = false; // rectangles may be turned (only when the options allow it)
};

struct Spot {
    int x = 0, y = 0;
    bool rotated = false, placed = false;
};

struct Outcome {
    std::vector<Spot> spots; // by position in the items
    bool all = false;
    std::int64_t placedArea = 0; // unpadded
    int usedW = 0, usedH = 0;    // bin units
};

std::int64_t roundUpToPowerOfTwo(std::int64_t v)
{
    std::int64_t p = 1;
    while (p < v)
        p <<= 1;
    return p;
}

class Packer
{
public:
    Packer(const QList<QSize> &sizes, const PackOptions &options, std::int64_t limit)
        : sizes_(sizes), o_(options), limit_(limit), bin_(limit - 2 * options.margin + options.padding)
    {
    }

    Packing run()
    {
        Packing result;
        result.rects.resize(sizes_.size());
        std::vector<Item> remaining;
        for (int i = 0; i < int(sizes_.size()); ++i)
            remaining.push_back({sizes_[i].width() + o_.padding, sizes_[i].height() + o_.padding, i});
        while (!remaining.empty()) {
            prepare(remaining);
            std::optional<std::pair<Trial, Outcome>> page = onePage();
            const bool last = page.has_value();
            if (!last)
                page = fillPage();
            const Outcome &out = page->second;
            const int pageIndex = int(result.pages.size());
            result.pages.push_back(pageSize(out));
            std::vector<Item> left;
            for (size_t k = 0; k < items_.size(); ++k) {
                const Spot &s = out.spots[k];
                if (!s.placed) {
                    left.push_back(items_[k]);
                    continue;
                }
                PackedRect &r = result.rects[items_[k].index];
                r.page = pageIndex;
                r.topLeft = QPoint(s.x + o_.margin, s.y + o_.margin);
                r.rotated = s.rotated;
            }
            remaining = std::move(left);
        }
        return result;
    }

private:
    void prepare(const std::vector<Item> &items)
    {
        items_ = items;
        area_ = 0;
        minW_ = minH_ = 0;
        for (const Item &it : items_) {
            area_ += std::int64_t(it.w) * it.h;
            minW_ = std::max(minW_, o_.rotate ? std::min(it.w, it.h) : it.w);
            minH_ = std::max(minH_, o_.rotate ? std::min(it.w, it.h) : it.h);
        }
        const int n = int(items_.size());
        for (size_t k = 0; k < orders.size(); ++k) {
            std::vector<int> &list = sorted_[k];
            list.resize(size_t(n));
            for (int i = 0; i < n; ++i)
                list[size_t(i)] = i;
            auto key = [&](int i) -> std::pair<std::int64_t, std::int64_t> {
                const std::int64_t w = items_[size_t(i)].w, h = items_[size_t(i)].h;
                switch (orders[k]) {
                case Order::Area: return {w * h, std::max(w, h)};
                case Order::LongSide: return {std::max(w, h), std::min(w, h)};
                case Order::Perimeter: return {w + h, std::max(w, h)};
                case Order::Height: return {h, w};
                case Order::Width: return {w, h};
                case Order::Input: return {0, 0};
                }
                return {0, 0};
            };
            std::stable_sort(list.begin(), list.end(), [&](int a, int b) { return key(a) > key(b); });
            // Free space is of use only to a rectangle after the one being placed; with rotation,
            // its smaller side is what any space must have both ways.
            std::vector<int> &least = leastAfter_[k];
            least.assign(size_t(n), INT_MAX);
            for (int j = n - 2; j >= 0; --j) {
                const Item &next = items_[size_t(list[size_t(j + 1)])];
                least[size_t(j)] = std::min(least[size_t(j + 1)], std::min(next.w, next.h));
            }
        }
        // A trial costs about n times the free list's length, which grows with n: measured, about
        // 1.3 ms for a thousand and 150 ms for ten thousand. The budget keeps the trials' sum near
        // a second of one core, so ten thousand are planned within a second on two.
        const double trialCost = 0.0013 * std::pow(double(n) / 1000.0, 2.0);
        budget_ = std::clamp(int(1.25 / trialCost), 4, 96);
        contactAllowed_ = n <= 200;
    }

    Outcome runTrial(const Trial &t) const
    {
        Outcome out;
        out.spots.resize(items_.size());
        FreeSpace space(t.binW, t.binH, t.rule == Rule::Contact);
        out.all = true;
        const std::vector<int> &order = sorted_[size_t(t.order)];
        const std::vector<int> &least = leastAfter_[size_t(t.order)];
        for (size_t k = 0; k < order.size(); ++k) {
            const int i = order[k];
            const Item &it = items_[size_t(i)];
            bool rotated = false;
            const std::optional<Box> b = space.find(it.w, it.h, o_.rotate && t.turn, t.rule, rotated);
            if (!b) {
                out.all = false;
                if (!t.fill)
                    return out;
                continue;
            }
            space.place(*b, least[k]);
            out.spots[size_t(i)] = {b->x, b->y, rotated, true};
            out.placedArea += std::int64_t(it.w - o_.padding) * (it.h - o_.padding);
            out.usedW = std::max(out.usedW, b->x + b->w);
            out.usedH = std::max(out.usedH, b->y + b->h);
        }
        return out;
    }

    // Each trial's outcome. With rotation allowed, every trial runs without turning, and every
    // other one with turning too, keeping the better (the unturned among equals): turning each
    // rectangle where it fits best can leave the whole page fuller or emptier, and a packing
    // that may turn is never to be emptier than one that may not; half the trials turned keep
    // the cost of --rotate at one and a half times the packing without it.
    std::vector<Outcome> runAll(std::vector<Trial> &trials) const
    {
        const size_t n = trials.size();
        const size_t alsoTurned = o_.rotate ? (n + 1) / 2 : 0; // trials 0, 2, 4 ...
        std::vector<Outcome> outs(n + alsoTurned);
        picture::forEachOnThreadsUpTo(
            o_.threads, std::ptrdiff_t(outs.size()),
            [&](std::ptrdiff_t k) {
                Trial t = trials[size_t(k) < n ? size_t(k) : 2 * (size_t(k) - n)];
                t.turn = size_t(k) >= n;
                outs[size_t(k)] = runTrial(t);
            },
            [] { return true; });
        for (size_t k = 0; o_.rotate && k < n; k += 2) {
            const Outcome &plain = outs[k], &turned = outs[n + k / 2];
            const bool turnedBetter = trials[k].fill ? turned.placedArea > plain.placedArea
                                                     : turned.all && (!plain.all || better(pageSize(turned), pageSize(plain)));
            trials[k].turn = turnedBetter;
            if (turnedBetter)
                outs[k] = std::move(outs[n + k / 2]);
        }
        outs.resize(n);
        return outs;
    }

    QSize pageSize(const Outcome &out) const
    {
        std::int64_t w = std::int64_t(out.usedW) - o_.padding + 2 * o_.margin;
        std::int64_t h = std::int64_t(out.usedH) - o_.padding + 2 * o_.margin;
        if (o_.powerOfTwo) {
            w = roundUpToPowerOfTwo(w);
            h = roundUpToPowerOfTwo(h);
        }
        return QSize(int(w), int(h));
    }

    static std::int64_t pageArea(QSize s) { return std::int64_t(s.width()) * s.height(); }

    // Smaller pages first, then the squarer, then the earlier trial.
    bool better(QSize a, QSize b) const
    {
        if (pageArea(a) != pageArea(b))
            return pageArea(a) < pageArea(b);
        return std::abs(a.width() - a.height()) < std::abs(b.width() - b.height());
    }

    int pageToBin(std::int64_t side) const { return int(side - 2 * o_.margin + o_.padding); }

    // Bin widths to try: around the square root of the area, or each power-of-two page side.
    std::vector<int> widths() const
    {
        std::vector<int> out;
        auto add = [&](std::int64_t w) {
            w = std::clamp<std::int64_t>(w, minW_, bin_);
            if (w * bin_ >= area_ && std::find(out.begin(), out.end(), int(w)) == out.end())
                out.push_back(int(w));
        };
        if (o_.powerOfTwo) {
            const double side = std::sqrt(double(area_));
            std::vector<std::pair<double, std::int64_t>> sides;
            for (std::int64_t p = 1; p <= limit_; p <<= 1)
                if (pageToBin(p) >= minW_)
                    sides.push_back({std::abs(std::log2(double(pageToBin(p))) - std::log2(side) - 0.25), p});
            std::stable_sort(sides.begin(), sides.end());
            for (const auto &s : sides)
                if (pageToBin(s.second) <= bin_)
                    add(pageToBin(s.second));
        } else {
            const double side = std::sqrt(double(area_));
            for (double f : {1.0, 1.12, 0.9, 1.25, 0.8, 1.5, 0.7, 2.0})
                add(std::int64_t(std::ceil(side * f)));
        }
        return out;
    }

    // Picks the best of trials that placed everything; first among equals.
    void pickBest(const std::vector<Trial> &trials, std::vector<Outcome> &outs,
                  std::optional<std::pair<Trial, Outcome>> &best) const
    {
        for (size_t k = 0; k < trials.size(); ++k)
            if (outs[k].all && (!best || better(pageSize(outs[k]), pageSize(best->second))))
                best = std::pair{trials[k], std::move(outs[k])};
    }

    // Everything in one page: tall bins first (the bottom-left and contact rules fill from the
    // top), then fixed bins of less area for the rules that need a bin's both sides.
    std::optional<std::pair<Trial, Outcome>> onePage() const
    {
        if (area_ > bin_ * bin_ || minW_ > bin_ || minH_ > bin_)
            return std::nullopt;
        const std::vector<int> ws = widths();
        std::vector<Trial> tall;
        const std::vector<Rule> tallRules = contactAllowed_ ? std::vector{Rule::BottomLeft, Rule::Contact}
                                                            : std::vector{Rule::BottomLeft};
        // Spend a third of the budget here, over widths before orders.
        const int tallBudget = std::max(2, budget_ / 3);
        for (Order order : orders)
            for (Rule rule : tallRules)
                for (int w : ws)
                    if (int(tall.size()) < tallBudget)
                        tall.push_back({w, int(bin_), rule, order, false});
        std::vector<Outcome> outs = runAll(tall);
        std::optional<std::pair<Trial, Outcome>> best;
        pickBest(tall, outs, best);
        if (!best)
            return std::nullopt;

        int spent = int(tall.size());
        const std::array<Rule, 3> fixedRules{Rule::ShortSide, Rule::Area, Rule::LongSide};
        for (int round = 0; spent < budget_; ++round) {
            const QSize goal = pageSize(best->second);
            std::vector<std::pair<int, int>> bins;
            if (o_.powerOfTwo) {
                // Pairs of power-of-two sides of the next smaller area that could hold it all.
                for (std::int64_t a = pageArea(goal) / 2; a >= 1 && bins.empty(); a /= 2)
                    for (std::int64_t pw = 1; pw <= limit_; pw <<= 1) {
                        const std::int64_t ph = a / pw;
                        if (ph < 1 || ph > limit_ || pw * ph != a)
                            continue;
                        const std::int64_t bw = pageToBin(pw), bh = pageToBin(ph);
                        if (bw >= minW_ && bh >= minH_ && bw * bh >= area_)
                            bins.push_back({int(bw), int(bh)});
                    }
                std::stable_sort(bins.begin(), bins.end(), [](auto a, auto b) {
                    return std::abs(a.first - a.second) < std::abs(b.first - b.second);
                });
            } else {
                // A little less area than the best so far, at each width.
                const double shrink = round == 0 ? 0.995 : 0.975;
                const std::int64_t target = std::int64_t(double(pageArea(goal)) * shrink);
                for (int w : ws) {
                    const std::int64_t pw = std::int64_t(w) - o_.padding + 2 * o_.margin;
                    const std::int64_t bh = pageToBin(target / pw);
                    if (bh >= minH_ && bh <= bin_ && std::int64_t(w) * bh >= area_)
                        bins.push_back({w, int(bh)});
                }
            }
            if (bins.empty())
                break;
            std::vector<Trial> fixed;
            for (Order order : orders)
                for (Rule rule : fixedRules)
                    for (const auto &b : bins)
                        if (spent + int(fixed.size()) < budget_)
                            fixed.push_back({b.first, b.second, rule, order, false});
            spent += int(fixed.size());
            outs = runAll(fixed);
            const QSize before = pageSize(best->second);
            pickBest(fixed, outs, best);
            if (!better(pageSize(best->second), before))
                break;
        }
        return best;
    }

    // A full page of the largest size: the trial that places the most area.
    std::pair<Trial, Outcome> fillPage() const
    {
        std::vector<Trial> trials;
        const std::array<Rule, 3> rules{Rule::ShortSide, Rule::BottomLeft, Rule::Area};
        for (Order order : orders)
            for (Rule rule : rules)
                if (int(trials.size()) < std::max(2, budget_ / 2))
                    trials.push_back({int(bin_), int(bin_), rule, order, true});
        std::vector<Outcome> outs = runAll(trials);
        size_t best = 0;
        for (size_t k = 1; k < outs.size(); ++k)
            if (outs[k].placedArea > outs[best].placedArea)
                best = k;
        return {trials[best], std::move(outs[best])};
    }

    const QList<QSize> &sizes_;
    const PackOptions o_;
    const std::int64_t limit_; // page side
    const std::int64_t bin_;   // the bin side that limit gives
    std::vector<Item> items_;
    std::array<std::vector<int>, orders.size()> sorted_;
    std::array<std::vector<int>, orders.size()> leastAfter_; // smallest side after each in its order
    std::int64_t area_ = 0;
    int minW_ = 0, minH_ = 0;
    int budget_ = 0;
    bool contactAllowed_ = false;
};

} // namespace

Packing packRectangles(const QList<QSize> &sizes, const PackOptions &options)
{
    PackOptions o = options;
    // A padding or margin past the largest page already puts one rectangle on a page, or none.
    o.padding = int(std::clamp<std::int64_t>(o.padding, 0, sideCeiling));
    o.margin = int(std::clamp<std::int64_t>(o.margin, 0, sideCeiling));
    Packing refusal;
    std::int64_t limit = o.maxSide > 0 ? o.maxSide : 0;
    if (limit == 0) {
        // No limit: a page tall enough for a column of them all, so one page always does.
        std::int64_t column = 2 * std::int64_t(o.margin);
        for (const QSize &s : sizes)
            column += std::max(s.width(), s.height()) + std::int64_t(o.padding);
        limit = std::clamp<std::int64_t>(column, 1, sideCeiling);
    }
    limit = std::min(limit, sideCeiling);
    if (o.powerOfTwo) {
        std::int64_t p = 1;
        while (p * 2 <= limit)
            p *= 2;
        limit = options.maxSide > 0 ? p : roundUpToPowerOfTwo(limit);
        limit = std::min(limit, sideCeiling);
    }
    const std::int64_t inner = limit - 2 * std::int64_t(o.margin);
    for (int i = 0; i < int(sizes.size()); ++i) {
        const QSize s = sizes[i];
        if (s.width() < 1 || s.height() < 1) {
            refusal.refusal = Packing::Refusal::Empty;
            refusal.refused = i;
            return refusal;
        }
        if (s.width() > inner || s.height() > inner) {
            refusal.refusal = Packing::Refusal::TooLarge;
            refusal.refused = i;
            return refusal;
        }
    }
    if (sizes.isEmpty())
        return {};
    return Packer(sizes, o, limit).run();
}

double packingOccupancy(const QList<QSize> &sizes, const Packing &packing)
{
    std::int64_t used = 0, whole = 0;
    for (const QSize &s : sizes)
        used += std::int64_t(s.width()) * s.height();
    for (const QSize &p : packing.pages)
        whole += std::int64_t(p.width()) * p.height();
    return whole > 0 ? double(used) / double(whole) : 0.0;
}

} // namespace strip
