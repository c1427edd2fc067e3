#include "app/ProgramIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace bv::app {

QPixmap programPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0, QColor(0x2f, 0x7f, 0xd8));
    tile.setColorAt(1, QColor(0x15, 0x45, 0x9a));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0, 0, s, s).adjusted(s * 0.03, s * 0.03, -s * 0.03, -s * 0.03), s * 0.18, s * 0.18);

    // The letter.
    const QRectF letter(s * 0.18, s * 0.32, s * 0.56, s * 0.40);
    p.setBrush(Qt::white);
    p.drawRoundedRect(letter, s * 0.04, s * 0.04);
    QPen fold(QColor(0x15, 0x45, 0x9a), qMax(1.0, s * 0.035));
    fold.setJoinStyle(Qt::RoundJoin);
    p.setPen(fold);
    p.setBrush(Qt::NoBrush);
    QPainterPath flap;
    flap.moveTo(letter.topLeft() + QPointF(s * 0.02, s * 0.03));
    flap.lineTo(letter.center().x(), letter.top() + letter.height() * 0.58);
    flap.lineTo(letter.topRight() + QPointF(-s * 0.02, s * 0.03));
    p.drawPath(flap);

    // Waves: the message going out to many.
    QPen wave(QColor(0xff, 0xb3, 0x3b), qMax(1.0, s * 0.05));
    wave.setCapStyle(Qt::RoundCap);
    p.setPen(wave);
    for (int i = 0; i < 2; ++i) {
        const qreal r = s * (0.12 + 0.09 * i);
        const QPointF c(s * 0.72, s * 0.30);
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 0 * 16, 90 * 16);
    }
    return pixmap;
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(programPixmap(size));
    return icon;
}

} // namespace bv::app
