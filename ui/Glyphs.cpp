#include "ui/Glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace Glyphs {

namespace {

// A glyph that is a character of the application font, centred.
void drawCharacter(QPainter& p, QChar character, const QColor& colour, qreal size)
{
    QFont f = p.font();
    f.setPixelSize(int(size));
    p.setFont(f);
    p.setPen(colour);
    p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, QString(character));
}

void drawCircleMark(QPainter& p, Glyph glyph, const QColor& colour, qreal s)
{
    const QRectF circle(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
    const QPen mark(Qt::white, s * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(circle);
    p.setPen(mark);
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case Glyph::checkmarkCircle: {
        QPainterPath tick;
        tick.moveTo(s * 0.29, s * 0.52);
        tick.lineTo(s * 0.44, s * 0.67);
        tick.lineTo(s * 0.71, s * 0.36);
        p.drawPath(tick);
        break;
    }
    case Glyph::xmarkCircle:
        p.drawLine(QPointF(s * 0.34, s * 0.34), QPointF(s * 0.66, s * 0.66));
        p.drawLine(QPointF(s * 0.66, s * 0.34), QPointF(s * 0.34, s * 0.66));
        break;
    default: // exclamationCircle
        p.drawLine(QPointF(s * 0.5, s * 0.26), QPointF(s * 0.5, s * 0.56));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(s * 0.5, s * 0.73), s * 0.075, s * 0.075);
        break;
    }
}

void drawSpeaker(QPainter& p, const QColor& colour, qreal s)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    QPainterPath body;
    body.moveTo(s * 0.08, s * 0.38);
    body.lineTo(s * 0.24, s * 0.38);
    body.lineTo(s * 0.46, s * 0.18);
    body.lineTo(s * 0.46, s * 0.82);
    body.lineTo(s * 0.24, s * 0.62);
    body.lineTo(s * 0.08, s * 0.62);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, s * 0.08, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre(s * 0.44, s * 0.5);
    for (qreal r : {s * 0.2, s * 0.36}) {
        const QRectF arc(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        p.drawArc(arc, -45 * 16, 90 * 16);
    }
}

// Two overlapping cards, the back one tilted and outlined, the front filled.
void drawCards(QPainter& p, const QColor& colour, qreal size)
{
    const qreal line = size / 12.0;
    p.setPen(QPen(colour, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QRectF card(size * 0.08, size * 0.30, size * 0.62, size * 0.46);
    p.save();
    p.translate(size * 0.58, size * 0.42);
    p.rotate(-14);
    p.translate(-size * 0.58, -size * 0.42);
    p.drawRoundedRect(card.translated(size * 0.22, -size * 0.16), line * 1.2, line * 1.2);
    p.restore();
    // The front card hides the part of the back one it covers.
    QColor opaque = colour;
    opaque.setAlpha(255);
    p.setBrush(opaque);
    p.drawRoundedRect(card.translated(0, size * 0.06), line * 1.2, line * 1.2);
}

} // namespace

QPixmap pixmap(Glyph glyph, const QColor& colour, int size, qreal dpr)
{
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    switch (glyph) {
    case Glyph::checkmarkCircle:
    case Glyph::xmarkCircle:
    case Glyph::exclamationCircle: drawCircleMark(p, glyph, colour, s); break;
    case Glyph::speaker: drawSpeaker(p, colour, s); break;
    case Glyph::cards: drawCards(p, colour, s); break;
    case Glyph::note: drawCharacter(p, QChar(0x270E), colour, s); break;
    case Glyph::book: drawCharacter(p, QChar(0x25A4), colour, s); break;
    case Glyph::magnifier: drawCharacter(p, QChar(0x2315), colour, s); break;
    case Glyph::document: drawCharacter(p, QChar(0x2637), colour, s); break;
    case Glyph::chevronLeft: drawCharacter(p, QChar(0x2039), colour, s); break;
    case Glyph::sparkles: drawCharacter(p, QChar(0x2726), colour, s); break;
    case Glyph::cross: drawCharacter(p, QChar(0x2715), colour, s); break;
    }
    return pixmap;
}

QIcon icon(Glyph glyph, const QColor& colour, int size)
{
    QIcon icon;
    for (qreal dpr : {1.0, 2.0})
        icon.addPixmap(pixmap(glyph, colour, size, dpr));
    return icon;
}

} // namespace Glyphs

GlyphLabel::GlyphLabel(Glyph glyph, const QColor& colour, int size, QWidget* parent)
    : QLabel(parent), glyph_(glyph), colour_(colour), size_(size)
{
    setFixedSize(size, size);
    setGlyph(glyph, colour);
}

void GlyphLabel::setGlyph(Glyph glyph, const QColor& colour)
{
    glyph_ = glyph;
    colour_ = colour;
    setPixmap(Glyphs::pixmap(glyph, colour, size_, devicePixelRatioF()));
}
