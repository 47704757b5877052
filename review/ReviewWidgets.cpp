#include "review/ReviewWidgets.h"

#include "ui/Glyphs.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

#include <algorithm>

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
    setFill(Theme::controlBackground(palette()));
    setObjectName(QStringLiteral("promptPanel"));

    m_label = new PromptLabel(text, this);
    m_label->setObjectName(QStringLiteral("promptText"));
    // Card texts are shown as typed, never interpreted as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setFont(Theme::font(Theme::TextStyle::title2));
    QPalette labelPalette = m_label->palette();
    labelPalette.setColor(QPalette::WindowText, Theme::primaryText(palette()));
    m_label->setPalette(labelPalette);

    m_speaker = new QToolButton(this);
    m_speaker->setObjectName(QStringLiteral("speakerButton"));
    m_speaker->setAutoRaise(true);
    // Like the platform's plain buttons it takes no keyboard focus, so the
    // first field of a view gets it when the panel opens.
    m_speaker->setFocusPolicy(Qt::NoFocus);
    m_speaker->setIcon(Glyphs::icon(Glyph::speaker, Theme::secondaryText(palette()), 18));
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
