#include "picture/pixels/resize.h"

#include <algorithm>
#include <array>
#include <vector>

namespace picture {

namespace {

qint64 roundedRatio(qint64 num, qint64 den) // num, den >= 0, den > 0: halves up
{
    return (2 * num + den) / (2 * den);
}

// Along one axis of `from` source pixels reduced to `to`: for each output pixel, its first
// source pixel and the weights of those it covers, in units where a source pixel is `to` long
// and an output pixel `from` long, so that every weight is whole.
struct Cover {
    std::vector<qint64> first; // per output pixel, into weights
    std::vector<int> start;    // its first source pixel
    std::vector<qint64> weights;
};

Cover coverOf(int from, int to)
{
    Cover c;
    c.first.reserve(size_t(to) + 1);
    c.start.reserve(size_t(to));
    for (qint64 i = 0; i < to; ++i) {
        const qint64 lo = i * from, hi = (i + 1) * from; // the output pixel's interval
        const qint64 j0 = lo / to, j1 = (hi - 1) / to;   // the source pixels it touches
        c.first.push_back(qint64(c.weights.size()));
        c.start.push_back(int(j0));
        for (qint64 j = j0; j <= j1; ++j)
            c.weights.push_back(std::min(hi, (j + 1) * to) - std::max(lo, j * to));
    }
    c.first.push_back(qint64(c.weights.size()));
    return c;
}

} // namespace

QSize scaledSize(QSize size, qint64 num, qint64 den)
{
    const auto side = [&](int v) { return int(std::max<qint64>(1, roundedRatio(qint64(v) * num, den))); };
    return QSize(side(size.width()), side(size.height()));
}

QImage areaReduced(const QImage &picture, QSize size)
{
    const bool alpha = picture.hasAlphaChannel();
    const QImage source = picture.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const int w = source.width(), h = source.height();
    const int ow = std::clamp(size.width(), 1, std::max(w, 1)), oh = std::clamp(size.height(), 1, std::max(h, 1));
    QImage out(ow, oh, source.format());
    if (source.isNull() || out.isNull())
        return QImage();
    const Cover across = coverOf(w, ow), down = coverOf(h, oh);
    // Sums of a, r*a, g*a, b*a with weights: at most 255 * 255 * w * h each, well inside 64 bits
    // for any picture that fits in memory.
    const qint64 whole = qint64(w) * h; // every output pixel's total weight
    auto sums = std::vector<std::array<qint64, 4>>(size_t(ow));
    for (int oy = 0; oy < oh; ++oy) {
        std::fill(sums.begin(), sums.end(), std::array<qint64, 4>{});
        for (qint64 k = down.first[size_t(oy)]; k < down.first[size_t(oy) + 1]; ++k) {
            const qint64 wy = down.weights[size_t(k)];
            const QRgb *row = reinterpret_cast<const QRgb *>(source.constScanLine(down.start[size_t(oy)] + int(k - down.first[size_t(oy)])));
            for (int ox = 0; ox < ow; ++ox) {
                std::array<qint64, 4> line{};
                const QRgb *p = row + across.start[size_t(ox)];
                for (qint64 m = across.first[size_t(ox)]; m < across.first[size_t(ox) + 1]; ++m, ++p) {
                    const qint64 a = (alpha ? qAlpha(*p) : 255) * across.weights[size_t(m)];
                    line[0] += a;
                    line[1] += qRed(*p) * a;
                    line[2] += qGreen(*p) * a;
                    line[3] += qBlue(*p) * a;
                }
                for (int c = 0; c < 4; ++c)
                    sums[size_t(ox)][size_t(c)] += line[size_t(c)] * wy;
            }
        }
        QRgb *dst = reinterpret_cast<QRgb *>(out.scanLine(oy));
        for (int ox = 0; ox < ow; ++ox) {
            const auto &s = sums[size_t(ox)];
            if (s[0] == 0) {
                dst[ox] = 0;
                continue;
            }
            dst[ox] = qRgba(int(roundedRatio(s[1], s[0])), int(roundedRatio(s[2], s[0])), int(roundedRatio(s[3], s[0])),
                            alpha ? int(roundedRatio(s[0], whole)) : 255);
        }
    }
    return out;
}

} // namespace picture
