#include "review/ReviewStyle.h"

#include <QApplication>

#include <algorithm>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

namespace ReviewStyle {

QColor green()
{
    return QColor(0x34, 0xC7, 0x59);
}

QColor red()
{
    return QColor(0xFF, 0x3B, 0x30);
}

QColor orange()
{
    return QColor(0xFF, 0x95, 0x00);
}

QColor accent()
{
    return QColor(0x00, 0x7A, 0xFF);
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(float(colour.alphaF() * alpha));
    return colour;
}

QColor windowBackground(const QPalette& palette)
{
    return palette.color(QPalette::Window);
}

QColor controlBackground(const QPalette& palette)
{
    return palette.color(QPalette::Base);
}

QColor primaryLabel(const QPalette& palette)
{
    return palette.color(QPalette::WindowText);
}

QColor secondaryLabel(const QPalette& palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.55);
}

QColor separator(const QPalette& palette)
{
    return withAlpha(palette.color(QPalette::WindowText), 0.15);
}

namespace {

QFont scaled(qreal macSize, int weight)
{
    QFont font = QApplication::font();
    // The application font plays the part of the 13-pixel body text; 10 pt
    // (13.3 px on a 96 dpi screen) at the least, so the cards keep the
    // proportions they were designed with on desktops with a small font.
    const qreal base = std::max<qreal>(font.pointSizeF(), 10.0);
    font.setPointSizeF(base * macSize / 13.0);
    font.setWeight(QFont::Weight(weight));
    return font;
}

} // namespace

QFont body()
{
    return scaled(13, QFont::Normal);
}

QFont title2()
{
    return scaled(17, QFont::Bold);
}

QFont title3()
{
    return scaled(15, QFont::Normal);
}

QFont headline()
{
    return scaled(13, QFont::DemiBold);
}

QFont subheadline()
{
    // One step larger than the 11 of the original style: at 11/13 of a
    // typical desktop font the text gets hard to read.
    return scaled(12, QFont::Normal);
}

QPixmap glyphPixmap(Glyph glyph, const QColor& colour, int size, qreal dpr)
{
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF circle(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
    QPen mark(Qt::white, s * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    switch (glyph) {
    case Glyph::checkmarkCircle: {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(circle);
        p.setPen(mark);
        p.setBrush(Qt::NoBrush);
        QPainterPath tick;
        tick.moveTo(s * 0.29, s * 0.52);
        tick.lineTo(s * 0.44, s * 0.67);
        tick.lineTo(s * 0.71, s * 0.36);
        p.drawPath(tick);
        break;
    }
    case Glyph::xmarkCircle:
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(circle);
        p.setPen(mark);
        p.drawLine(QPointF(s * 0.34, s * 0.34), QPointF(s * 0.66, s * 0.66));
        p.drawLine(QPointF(s * 0.66, s * 0.34), QPointF(s * 0.34, s * 0.66));
        break;
    case Glyph::exclamationCircle:
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(circle);
        p.setPen(mark);
        p.drawLine(QPointF(s * 0.5, s * 0.26), QPointF(s * 0.5, s * 0.56));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(s * 0.5, s * 0.73), s * 0.075, s * 0.075);
        break;
    case Glyph::speaker: {
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
        break;
    }
    }
    return pixmap;
}

QIcon glyphIcon(Glyph glyph, const QColor& colour, int size)
{
    QIcon icon;
    for (qreal dpr : {1.0, 2.0})
        icon.addPixmap(glyphPixmap(glyph, colour, size, dpr));
    return icon;
}

namespace {

QString rgba(const QColor& c)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
}

} // namespace

QString prominentButtonStyle(const QPalette&)
{
    return QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 6px;"
                          " padding: 5px 14px; }"
                          "QPushButton:pressed { background: %2; }"
                          "QPushButton:disabled { background: %3; color: rgba(255, 255, 255, 0.85); }")
        .arg(rgba(accent()), rgba(accent().darker(125)), rgba(withAlpha(accent(), 0.35)));
}

QString borderedButtonStyle(const QPalette& palette)
{
    const QColor text = primaryLabel(palette);
    return QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                          " padding: 4px 13px; }"
                          "QPushButton:pressed { background: %4; }"
                          "QPushButton:disabled { color: %5; }")
        .arg(rgba(withAlpha(text, 0.06)), rgba(text), rgba(separator(palette)), rgba(withAlpha(text, 0.14)),
             rgba(secondaryLabel(palette)));
}

QString textFieldStyle(const QPalette& palette)
{
    return QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                          " padding: 4px 8px; }"
                          "QLineEdit:focus { border: 2px solid %4; padding: 3px 7px; }"
                          "QLineEdit:disabled { color: %5; background: %6; }")
        .arg(rgba(controlBackground(palette)), rgba(primaryLabel(palette)),
             rgba(withAlpha(primaryLabel(palette), 0.25)), rgba(withAlpha(accent(), 0.6)),
             rgba(secondaryLabel(palette)), rgba(windowBackground(palette)));
}

} // namespace ReviewStyle

RoundedPanel::RoundedPanel(qreal radius, QWidget* parent)
    : QWidget(parent)
    , m_radius(radius)
{
}

void RoundedPanel::setFill(const QColor& fill)
{
    m_fill = fill;
    update();
}

void RoundedPanel::setBorder(const QColor& colour, qreal width)
{
    m_border = colour;
    m_borderWidth = width;
    update();
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal inset = m_borderWidth / 2;
    const QRectF shape = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    p.setPen(m_borderWidth > 0 ? QPen(m_border, m_borderWidth) : QPen(Qt::NoPen));
    p.setBrush(m_fill);
    p.drawRoundedRect(shape, m_radius, m_radius);
}

GlyphLabel::GlyphLabel(ReviewStyle::Glyph glyph, const QColor& colour, int size, QWidget* parent)
    : QLabel(parent)
    , m_glyph(glyph)
    , m_colour(colour)
    , m_size(size)
{
    setFixedSize(size, size);
    setGlyph(glyph, colour);
}

void GlyphLabel::setGlyph(ReviewStyle::Glyph glyph, const QColor& colour)
{
    m_glyph = glyph;
    m_colour = colour;
    setPixmap(ReviewStyle::glyphPixmap(glyph, colour, m_size, devicePixelRatioF()));
}

CentredField::CentredField(QWidget* parent)
    : QLineEdit(parent)
{
    setAlignment(Qt::AlignCenter);
}

void CentredField::paintEvent(QPaintEvent* event)
{
    QLineEdit::paintEvent(event);
    if (!text().isEmpty() || placeholderText().isEmpty() || !hasFocus())
        return;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this)
                               .marginsRemoved(textMargins())
                               .adjusted(2, 0, -2, 0);
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(contents, Qt::AlignCenter | Qt::TextSingleLine,
               fontMetrics().elidedText(placeholderText(), Qt::ElideRight, contents.width()));
}

namespace {

// Wrapped text as wide as it needs to be (up to the room it is given), so the
// speaker button sits right beside a short prompt.
class PromptLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override
    {
        const int natural = fontMetrics().horizontalAdvance(text()) + 2 * margin() + 2;
        const int width = std::min(natural, maximumWidth());
        return {width, heightForWidth(width)};
    }
};

} // namespace

PromptPanel::PromptPanel(const QString& text, QWidget* parent)
    : RoundedPanel(16, parent)
{
    setFill(ReviewStyle::controlBackground(palette()));
    setObjectName(QStringLiteral("promptPanel"));

    m_label = new PromptLabel(text, this);
    m_label->setObjectName(QStringLiteral("promptText"));
    // Card texts are shown as typed, never interpreted as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setFont(ReviewStyle::title2());
    QPalette labelPalette = m_label->palette();
    labelPalette.setColor(QPalette::WindowText, ReviewStyle::primaryLabel(palette()));
    m_label->setPalette(labelPalette);

    m_speaker = new QToolButton(this);
    m_speaker->setObjectName(QStringLiteral("speakerButton"));
    m_speaker->setAutoRaise(true);
    // Like the platform's plain buttons it takes no keyboard focus, so the
    // first field of a view gets it when the panel opens.
    m_speaker->setFocusPolicy(Qt::NoFocus);
    m_speaker->setIcon(ReviewStyle::glyphIcon(ReviewStyle::Glyph::speaker,
                                              ReviewStyle::secondaryLabel(palette()), 18));
    m_speaker->setIconSize(QSize(18, 18));
    m_speaker->setToolTip(tr("Read aloud"));
    m_speaker->setAccessibleName(tr("Read aloud"));
    m_speaker->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(m_speaker, &QToolButton::clicked, this, &PromptPanel::speakRequested);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 24, 16, 24);
    row->setSpacing(8);
    row->addStretch(1);
    row->addWidget(m_label);
    row->addWidget(m_speaker, 0, Qt::AlignVCenter);
    row->addStretch(1);
}
