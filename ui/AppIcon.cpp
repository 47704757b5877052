#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon tavloIcon()
{
    QIcon icon;
    for (int px : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pm(px, px);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = px / 32.0;
        p.scale(s, s);
        QPen pen(QColor(0x33, 0x33, 0x33), px <= 22 ? 2.2 : 1.8);
        pen.setJoinStyle(Qt::RoundJoin);
        auto card = [&](double angle, double dx, double dy, const QColor& fill) {
            p.save();
            p.translate(16 + dx, 16 + dy);
            p.rotate(angle);
            QPainterPath path;
            path.addRoundedRect(QRectF(-9, -6.5, 18, 13), 2.5, 2.5);
            p.setPen(pen);
            p.setBrush(fill);
            p.drawPath(path);
            p.restore();
        };
        card(-14, -3, -3, QColor(0xff, 0xd3, 0x8a));
        card(8, 3, 3, QColor(0xff, 0x9f, 0x1c));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}
