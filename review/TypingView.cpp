#include "review/TypingView.h"

#include "review/ReviewWidgets.h"
#include "review/Speech.h"
#include "ui/Glyphs.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Theme;

namespace {

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& colour, QWidget* parent,
                  const QString& name = {})
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

QPushButton* makeButton(const QString& text, bool prominent, QWidget* parent, const QString& name)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFont(Theme::font(TextStyle::body));
    if (prominent)
        makeProminent(button);
    else
        makeBordered(button);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QLineEdit* makeField(const QString& placeholder, QWidget* parent, const QString& name)
{
    auto* field = new CentredField(parent);
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setFont(Theme::font(TextStyle::title3));
    field->setStyleSheet(textFieldStyle(parent->palette()));
    return field;
}

QWidget* headerRow(GlyphLabel* icon, QLabel* title, QWidget* parent)
{
    auto* header = new QWidget(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addStretch(1);
    icon->setParent(header);
    title->setParent(header);
    title->setWordWrap(false);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(title, 0, Qt::AlignVCenter);
    row->addStretch(1);
    return header;
}

} // namespace

TypingView::TypingView(const QString& prompt, const QString& expectedAnswer, std::function<void(int)> onAnswer,
                       QWidget* parent)
    : QWidget(parent)
    , m_prompt(prompt)
    , m_onAnswer(std::move(onAnswer))
    , m_state(expectedAnswer, [this](int quality) {
        // Show the outcome before the owner hears of it.
        refresh();
        if (m_onAnswer)
            m_onAnswer(quality);
    })
{
    setFixedWidth(420);
    setMinimumHeight(340);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, windowBackground(palette()));
    setPalette(background);

    // Some states (an offer beside a confirmation, long cards) need more than
    // the panel's height; the content then scrolls instead of being cut off.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(m_scroll);
    m_content = new QWidget;
    m_content->setAutoFillBackground(false);
    m_scroll->setWidget(m_content);

    auto* root = new QVBoxLayout(m_content);
    root->setContentsMargins(24, 24, 24, 24);
    root->setSpacing(20);
    root->addStretch(1);

    m_promptPanel = new PromptPanel(prompt, this);
    connect(m_promptPanel, &PromptPanel::speakRequested, this, [this] { speak(m_prompt); });
    root->addWidget(m_promptPanel);

    auto* area = new QVBoxLayout;
    area->setSpacing(12);
    m_answerField = makeField(tr("Type your answer..."), this, QStringLiteral("answerField"));
    connect(m_answerField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_state.setInput(text);
        refresh();
    });
    connect(m_answerField, &QLineEdit::returnPressed, this, [this] { run(&TypingState::handleSubmit); });
    area->addWidget(m_answerField);
    area->addWidget(buildActionRow());
    area->addWidget(buildPartialMatchBlock());
    area->addWidget(buildConfirmationBlock());
    area->addWidget(buildResultBlock());
    root->addLayout(area);
    root->addStretch(1);

    refresh();
}

TypingView::~TypingView() = default;

QSize TypingView::sizeHint() const
{
    const int content = m_content->layout()->totalHeightForWidth(420);
    return {420, std::max(340, content > 0 ? content : m_content->sizeHint().height())};
}

QWidget* TypingView::buildActionRow()
{
    m_actionRow = new QWidget(this);
    auto* row = new QHBoxLayout(m_actionRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    m_submitButton = makeButton(tr("Submit"), true, m_actionRow, QStringLiteral("submitButton"));
    m_dontKnowButton = makeButton(tr("Don't Know"), false, m_actionRow, QStringLiteral("dontKnowButton"));
    connect(m_submitButton, &QPushButton::clicked, this, [this] { run(&TypingState::handleSubmit); });
    connect(m_dontKnowButton, &QPushButton::clicked, this, [this] { run(&TypingState::dontKnow); });
    row->addStretch(1);
    row->addWidget(m_submitButton);
    row->addWidget(m_dontKnowButton);
    row->addStretch(1);
    return m_actionRow;
}

QWidget* TypingView::buildPartialMatchBlock()
{
    m_partialBlock = new QWidget(this);
    m_partialBlock->setObjectName(QStringLiteral("partialMatchBlock"));
    auto* stack = new QVBoxLayout(m_partialBlock);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    const QPalette& pal = palette();

    m_partialIcon = new GlyphLabel(Glyph::exclamationCircle, orange(), 16);
    m_partialTitle = makeLabel(tr("Partial Match"), Theme::font(TextStyle::headline), orange(), nullptr, QStringLiteral("partialTitle"));
    stack->addWidget(headerRow(m_partialIcon, m_partialTitle, m_partialBlock));
    stack->addWidget(makeLabel(tr("Your answer matches:"), Theme::font(TextStyle::subheadline), secondaryText(pal), m_partialBlock));
    m_matchedPart = makeLabel(QString(), Theme::font(TextStyle::headline), primaryText(pal), m_partialBlock, QStringLiteral("matchedPart"));
    stack->addWidget(m_matchedPart);
    stack->addWidget(makeLabel(tr("Full answer:"), Theme::font(TextStyle::subheadline), secondaryText(pal), m_partialBlock));
    stack->addWidget(makeLabel(m_state.expectedAnswer(), Theme::font(TextStyle::subheadline), primaryText(pal), m_partialBlock,
                               QStringLiteral("partialFullAnswer")));

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    m_acceptButton = makeButton(tr("Accept as Correct"), true, m_partialBlock, QStringLiteral("acceptButton"));
    m_markWrongButton = makeButton(tr("Mark Wrong"), false, m_partialBlock, QStringLiteral("markWrongButton"));
    connect(m_acceptButton, &QPushButton::clicked, this, [this] { run(&TypingState::acceptPartialMatch); });
    connect(m_markWrongButton, &QPushButton::clicked, this, [this] { run(&TypingState::markWrong); });
    buttons->addStretch(1);
    buttons->addWidget(m_acceptButton);
    buttons->addWidget(m_markWrongButton);
    buttons->addStretch(1);
    stack->addLayout(buttons);
    return m_partialBlock;
}

QWidget* TypingView::buildConfirmationBlock()
{
    m_confirmBlock = new QWidget(this);
    m_confirmBlock->setObjectName(QStringLiteral("confirmationBlock"));
    auto* stack = new QVBoxLayout(m_confirmBlock);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    const QPalette& pal = palette();

    m_confirmHeader = headerRow(new GlyphLabel(Glyph::xmarkCircle, red(), 16),
                                makeLabel(tr("Incorrect"), Theme::font(TextStyle::headline), red(), nullptr, QStringLiteral("confirmTitle")),
                                m_confirmBlock);
    stack->addWidget(m_confirmHeader);
    stack->addWidget(makeLabel(tr("Type to confirm:"), Theme::font(TextStyle::subheadline), secondaryText(pal), m_confirmBlock));
    stack->addWidget(makeLabel(m_state.expectedAnswer(), Theme::font(TextStyle::headline), primaryText(pal), m_confirmBlock,
                               QStringLiteral("confirmExpected")));
    m_confirmField = makeField(tr("Type the answer..."), m_confirmBlock, QStringLiteral("confirmField"));
    connect(m_confirmField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_state.setConfirmInput(text);
        refresh();
    });
    connect(m_confirmField, &QLineEdit::returnPressed, this, [this] { run(&TypingState::confirm); });
    stack->addWidget(m_confirmField);

    m_confirmButton = makeButton(tr("Confirm"), true, m_confirmBlock, QStringLiteral("confirmButton"));
    connect(m_confirmButton, &QPushButton::clicked, this, [this] { run(&TypingState::confirm); });
    stack->addWidget(m_confirmButton, 0, Qt::AlignHCenter);
    return m_confirmBlock;
}

RoundedPanel* TypingView::buildResultBlock()
{
    m_resultBlock = new RoundedPanel(10, this);
    m_resultBlock->setObjectName(QStringLiteral("resultBlock"));
    auto* stack = new QVBoxLayout(m_resultBlock);
    stack->setContentsMargins(12, 8, 12, 8);
    stack->setSpacing(4);
    m_resultIcon = new GlyphLabel(Glyph::checkmarkCircle, green(), 16);
    m_resultTitle = makeLabel(QString(), Theme::font(TextStyle::headline), green(), nullptr, QStringLiteral("resultTitle"));
    stack->addWidget(headerRow(m_resultIcon, m_resultTitle, m_resultBlock));
    m_resultDetail = makeLabel(m_state.expectedAnswer(), Theme::font(TextStyle::subheadline), secondaryText(palette()), m_resultBlock,
                               QStringLiteral("resultDetail"));
    stack->addWidget(m_resultDetail);
    return m_resultBlock;
}

void TypingView::run(void (TypingState::*action)())
{
    // onAnswer may close the panel that holds this view.
    QPointer<TypingView> self(this);
    (m_state.*action)();
    if (self)
        refresh();
}

void TypingView::refresh()
{
    const TypingState& s = m_state;

    // Visibility first: disabling the focused answer field hands the focus on
    // to the next visible field, the confirmation field.
    m_actionRow->setVisible(s.showsActionRow());
    m_partialBlock->setVisible(s.showsPartialMatch());
    m_confirmBlock->setVisible(s.showsConfirmation());
    m_resultBlock->setVisible(s.showsResult());

    m_answerField->setEnabled(s.answerFieldEnabled());
    m_submitButton->setEnabled(s.canSubmit());

    const QColor partialColour = s.recommendedQuality() >= 4 ? green() : orange();
    m_partialIcon->setGlyph(Glyph::exclamationCircle, partialColour);
    setTextColour(m_partialTitle, partialColour);
    m_matchedPart->setText(s.matchedPart());

    m_confirmHeader->setVisible(s.result().has_value());
    m_confirmField->setEnabled(!s.submitted());
    m_confirmButton->setEnabled(s.canConfirm());

    if (const auto result = s.result()) {
        Glyph glyph = Glyph::checkmarkCircle;
        QColor colour = green();
        QString title = tr("Correct!");
        if (*result == TypingResult::close) {
            glyph = Glyph::exclamationCircle;
            colour = orange();
            title = tr("Close!");
        } else if (*result == TypingResult::wrong) {
            glyph = Glyph::xmarkCircle;
            colour = red();
            title = tr("Incorrect");
        }
        m_resultIcon->setGlyph(glyph, colour);
        m_resultTitle->setText(title);
        setTextColour(m_resultTitle, colour);
        m_resultDetail->setVisible(*result != TypingResult::correct);
        m_resultBlock->setFill(withAlpha(colour, 0.1));
    }
    updateGeometry();
    if (QWidget* focus = focusWidget(); focus && m_content->isAncestorOf(focus))
        m_scroll->ensureWidgetVisible(focus);
}

void TypingView::keyPressEvent(QKeyEvent* event)
{
    // "Submit" is the default action: Return anywhere in the view submits,
    // except in the two fields, which handle their own Return.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QWidget* focus = focusWidget();
    if (isReturn && focus != m_answerField && focus != m_confirmField) {
        if (m_state.showsActionRow() && m_state.canSubmit())
            run(&TypingState::handleSubmit);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

SpeechChannel& TypingView::speechChannel()
{
    static SpeechChannel channel;
    return channel;
}

void TypingView::speak(const QString& text)
{
    speechChannel().speak(text);
}
