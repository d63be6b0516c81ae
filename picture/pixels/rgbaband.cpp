#include "picture/pixels/rgbaband.h"

#include <algorithm>
#include <new>
#include <vector>

namespace picture {

namespace {

// over() on a pixel of the band's RGBA bytes. On a clear pixel the source is taken whole, its
// colour too where it is clear itself: a picture's transparent pixels keep the file's colour.
inline void drawOver(uchar *dst, QRgb src)
{
    if (dst[3] == 0 || qAlpha(src) == 255) {
        dst[0] = uchar(qRed(src));
        dst[1] = uchar(qGreen(src));
        dst[2] = uchar(qBlue(src));
        dst[3] = uchar(qAlpha(src));
        return;
    }
    const QRgb mixed = picture::over(src, qRgba(dst[0], dst[1], dst[2], dst[3]));
    dst[0] = uchar(qRed(mixed));
    dst[1] = uchar(qGreen(mixed));
    dst[2] = uchar(qBlue(mixed));
    dst[3] = uchar(qAlpha(mixed));
}

} // namespace

QRgb over(QRgb s, QRgb d)
{
    const quint32 a = qAlpha(s), b = qAlpha(d);
    if (a == 255 || (b == 0 && a != 0)) // over nothing the source stays as it is
        return s;
    if (a == 0)
        return d;
    const quint32 weightS = 255 * a, weightD = b * (255 - a), total = weightS + weightD;
    auto mix = [&](quint32 cs, quint32 cd) { return (2 * (weightS * cs + weightD * cd) + total) / (2 * total); };
    return qRgba(int(mix(qRed(s), qRed(d))), int(mix(qGreen(s), qGreen(d))), int(mix(qBlue(s), qBlue(d))),
                 int((2 * total + 255) / (2 * 255)));
}

bool RgbaBand::reset(int width, int rows)
{
    if (m_pixels.width() != width || m_pixels.height() != rows) {
        try {
            m_pixels = QImage(width, rows, QImage::Format_RGBA8888);
        } catch (const std::bad_alloc &) {
            m_pixels = QImage();
        }
        if (m_pixels.isNull())
            return false;
    }
    m_pixels.fill(QColor::fromRgba(m_background));
    return true;
}

void RgbaBand::premultiply()
{
    for (int y = 0; y < m_pixels.height(); ++y) {
        uchar *p = m_pixels.scanLine(y);
        for (int x = 0; x < m_pixels.width(); ++x, p += 4) {
            const unsigned a = p[3];
            if (a == 255)
                continue;
            for (int c = 0; c < 3; ++c)
                p[c] = uchar((p[c] * a + 127) / 255);
        }
    }
}

void RgbaBand::draw(const QImage &picture, int x, int y)
{
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = int(std::min<qint64>(qint64(x) + picture.width(), m_pixels.width()));
    const int bottom = int(std::min<qint64>(qint64(y) + picture.height(), m_pixels.height()));
    if (left >= right || top >= bottom)
        return;
    const QImage::Format format = picture.format();
    const bool threeBytes = format == QImage::Format_BGR888 || format == QImage::Format_RGB888;
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 && !threeBytes) {
        // Convert only the part that shows.
        const QImage part = picture.copy(left - x, top - y, right - left, bottom - top);
        draw(part.convertToFormat(part.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32), left, top);
        return;
    }
    for (int row = top; row < bottom; ++row) {
        const uchar *line = picture.constScanLine(row - y);
        uchar *dst = m_pixels.scanLine(row) + qsizetype(left) * 4;
        if (threeBytes) { // a decoded JPEG's rows, read as they lie: no copy of the picture
            const uchar *src = line + qsizetype(left - x) * 3;
            const int r = format == QImage::Format_RGB888 ? 0 : 2;
            for (int i = 0; i < right - left; ++i, dst += 4, src += 3) {
                dst[0] = src[r];
                dst[1] = src[1];
                dst[2] = src[2 - r];
                dst[3] = 255;
            }
            continue;
        }
        const QRgb *src = reinterpret_cast<const QRgb *>(line) + (left - x);
        for (int i = 0; i < right - left; ++i, dst += 4)
            drawOver(dst, format == QImage::Format_RGB32 ? src[i] | 0xff000000u : src[i]);
    }
}

QImage withTransparentColour(QImage picture, TransparentColour mode)
{
    if (mode == TransparentColour::Keep || !picture.hasAlphaChannel())
        return picture;
    QImage out = std::move(picture);
    out.convertTo(QImage::Format_ARGB32);
    if (out.isNull() || !out.bits())
        return {};
    const int w = out.width();
    const int h = out.height();
    auto at = [&](int x, int y) -> QRgb & { return reinterpret_cast<QRgb *>(out.scanLine(y))[x]; };
    if (mode == TransparentColour::Clean) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (qAlpha(at(x, y)) == 0)
                    at(x, y) = 0;
        return out;
    }
    // Bleed: a breadth-first walk outward from the visible pixels, one ring at a time, each
    // transparent pixel taking the colour of the first visible neighbour (in a fixed order) that
    // reached it, so that the result never depends on anything but the picture.
    std::vector<int> ring;
    std::vector<char> done(size_t(w) * size_t(h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (qAlpha(at(x, y)) != 0) {
                done[size_t(y) * size_t(w) + size_t(x)] = 1;
                ring.push_back(y * w + x);
            }
    if (ring.empty())
        return out;
    std::vector<int> next;
    while (!ring.empty()) {
        next.clear();
        for (const int p : ring) {
            const int x = p % w, y = p / w;
            const QRgb colour = at(x, y) & 0x00ffffffu;
            for (const auto &[dx, dy] : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}}) {
                const int nx = x + dx, ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= w || ny >= h || done[size_t(ny) * size_t(w) + size_t(nx)])
                    continue;
                done[size_t(ny) * size_t(w) + size_t(nx)] = 1;
                at(nx, ny) = colour; // alpha stays 0
                next.push_back(ny * w + nx);
            }
        }
        ring.swap(next);
    }
    return out;
}

QImage frameOfScreen(const QImage &screen)
{
    for (int y = 0; y < screen.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return screen.copy();
    }
    return screen.convertToFormat(QImage::Format_RGB32);
}

} // namespace picture
