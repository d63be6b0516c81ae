#include "about/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace artwork {

namespace {

// A ball caught at one moment of its bounce: the little animation the strips are made for.
void drawBall(QPainter &p, QPointF centre, qreal radius, qreal squash)
{
    QRadialGradient shade(centre - QPointF(radius * 0.4, radius * 0.4), radius * 1.4);
    shade.setColorAt(0.0, QColor(255, 236, 170));
    shade.setColorAt(0.5, QColor(255, 150, 40));
    shade.setColorAt(1.0, QColor(190, 70, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawEllipse(centre, radius * (1.0 + squash), radius * (1.0 - squash));
}

// One frame cell of a sprite sheet: a light square with the ball at a given height.
void drawCell(QPainter &p, const QRectF &cell, qreal ballY, qreal squash)
{
    QLinearGradient sky(cell.topLeft(), cell.bottomLeft());
    sky.setColorAt(0.0, QColor(214, 232, 255));
    sky.setColorAt(1.0, QColor(150, 190, 240));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRect(cell);
    // The ground the ball bounces on.
    p.setBrush(QColor(70, 150, 70));
    p.drawRect(QRectF(cell.left(), cell.bottom() - cell.height() * 0.18, cell.width(), cell.height() * 0.18));
    const qreal radius = cell.width() * 0.2;
    const qreal top = cell.top() + radius + 1.0;
    const qreal bottom = cell.bottom() - cell.height() * 0.18 - radius * (1.0 - squash);
    drawBall(p, QPointF(cell.center().x(), top + (bottom - top) * ballY), radius, squash);
}

QImage finish(const QImage &drawn)
{
    return drawn.convertToFormat(QImage::Format_RGB888);
}

} // namespace

QImage emblem()
{
    QImage image(50, 50, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The badge: a deep blue disc in a gold ring.
    const QPointF centre(25.0, 25.0);
    QRadialGradient disc(QPointF(19.0, 17.0), 30.0);
    disc.setColorAt(0.0, QColor(60, 110, 220));
    disc.setColorAt(1.0, QColor(10, 28, 80));
    QLinearGradient gold(0.0, 0.0, 0.0, 50.0);
    gold.setColorAt(0.0, QColor(255, 226, 120));
    gold.setColorAt(0.5, QColor(214, 160, 30));
    gold.setColorAt(1.0, QColor(150, 100, 10));
    p.setPen(QPen(QBrush(gold), 2.5));
    p.setBrush(disc);
    p.drawEllipse(centre, 22.5, 22.5);

    // Four frames of the bounce, laid out as the program lays out a strip: row after row.
    const qreal cell = 13.0;
    const qreal gap = 2.0;
    const qreal left = 25.0 - cell - gap / 2.0;
    const qreal top = 25.0 - cell - gap / 2.0;
    const qreal heights[4] = {0.0, 0.55, 1.0, 0.45};
    const qreal squashes[4] = {-0.05, 0.0, 0.25, 0.0};
    for (int i = 0; i < 4; ++i) {
        const QRectF r(left + (i % 2) * (cell + gap), top + (i / 2) * (cell + gap), cell, cell);
        drawCell(p, r, heights[i], squashes[i]);
    }
    p.end();
    return finish(image);
}

QImage logo()
{
    QImage image(81, 81, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient blue(0.0, 0.0, 0.0, 81.0);
    blue.setColorAt(0.0, QColor(58, 112, 230));
    blue.setColorAt(1.0, QColor(12, 38, 120));
    p.fillRect(image.rect(), blue);

    // The film strip: a dark band with sprocket holes along both edges and three frames.
    const QRectF band(0.0, 6.0, 81.0, 34.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(24, 24, 28));
    p.drawRect(band);
    p.setBrush(QColor(205, 205, 210));
    for (qreal x = 2.0; x < 81.0; x += 7.0) {
        p.drawRoundedRect(QRectF(x, band.top() + 2.0, 4.0, 3.0), 1.0, 1.0);
        p.drawRoundedRect(QRectF(x, band.bottom() - 5.0, 4.0, 3.0), 1.0, 1.0);
    }
    const qreal heights[3] = {0.0, 0.6, 1.0};
    const qreal squashes[3] = {-0.05, 0.0, 0.25};
    for (int i = 0; i < 3; ++i)
        drawCell(p, QRectF(3.0 + i * 26.0, band.top() + 8.0, 23.0, 18.0), heights[i], squashes[i]);

    // Name and version under the strip; the box that shows the logo hides its bottom rows.
    QFont name(QStringLiteral("Sans Serif"));
    name.setStyleHint(QFont::SansSerif);
    name.setBold(true);
    name.setPixelSize(15);
    p.setFont(name);
    p.setPen(QColor(0, 0, 40));
    p.drawText(QRectF(1.0, 42.0, 81.0, 18.0), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Corvane"));
    p.setPen(Qt::white);
    p.drawText(QRectF(0.0, 41.0, 81.0, 18.0), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Corvane"));

    QFont version = name;
    version.setPixelSize(11);
    p.setFont(version);
    p.setPen(QColor(255, 222, 60));
    p.drawText(QRectF(0.0, 58.0, 81.0, 14.0), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("v1.0"));
    p.end();
    return finish(image);
}

} // namespace artwork
