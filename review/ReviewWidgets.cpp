#include "review/ReviewWidgets.h"

#include "ui/Glyphs.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

#include <algorithm>

CentredField::CentredField(QWidget* parent) : QLineEdit(parent)
{
    setAlignment(Qt::AlignCenter);
    connect(this, &QLineEdit::textChanged, this, &CentredField::placeText);
}

void CentredField::placeText()
{
    // Qt hides a centred placeholder under the cursor, and puts the cursor of an
    // empty centred field in the middle of the placeholder. While empty the field
    // is left-aligned with a margin instead, so the placeholder stays in the
    // middle and the cursor sits where the typing will start: at its beginning.
    if (text().isEmpty() && !placeholderText().isEmpty()) {
        QStyleOptionFrame option;
        initStyleOption(&option);
        const int room = style()->subElementRect(QStyle::SE_LineEditContents, &option, this).width();
        const int free = room - fontMetrics().horizontalAdvance(placeholderText()) - 4;
        setTextMargins(std::max(0, free / 2), 0, 0, 0);
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    } else {
        setTextMargins(0, 0, 0, 0);
        setAlignment(Qt::AlignCenter);
    }
}

void CentredField::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    placeText();
}

void CentredField::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        placeText();
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

    label_ = new PromptLabel(text, this);
    label_->setObjectName(QStringLiteral("promptText"));
    // Card texts are shown as typed, never interpreted as markup.
    label_->setTextFormat(Qt::PlainText);
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignCenter);
    label_->setFont(Theme::font(Theme::TextStyle::title2));
    QPalette labelPalette = label_->palette();
    labelPalette.setColor(QPalette::WindowText, Theme::primaryText(palette()));
    label_->setPalette(labelPalette);

    speaker_ = new QToolButton(this);
    speaker_->setObjectName(QStringLiteral("speakerButton"));
    speaker_->setAutoRaise(true);
    // Like the platform's plain buttons it takes no keyboard focus, so the
    // first field of a view gets it when the panel opens.
    speaker_->setFocusPolicy(Qt::NoFocus);
    speaker_->setIcon(Glyphs::icon(Glyph::speaker, Theme::secondaryText(palette()), 18));
    speaker_->setIconSize(QSize(18, 18));
    speaker_->setToolTip(tr("Read aloud"));
    speaker_->setAccessibleName(tr("Read aloud"));
    speaker_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(speaker_, &QToolButton::clicked, this, &PromptPanel::speakRequested);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 24, 16, 24);
    row->setSpacing(8);
    row->addStretch(1);
    row->addWidget(label_);
    row->addWidget(speaker_, 0, Qt::AlignVCenter);
    row->addStretch(1);
}
