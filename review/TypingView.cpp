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
#include <QTimer>
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

CentredField* makeField(const QString& placeholder, QWidget* parent, const QString& name)
{
    auto* field = new CentredField(parent);
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(placeholder);
    field->placeText();
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
    , prompt_(prompt)
    , onAnswer_(std::move(onAnswer))
    , state_(expectedAnswer, [this](int quality) {
        // Show the outcome before the owner hears of it.
        refresh();
        if (onAnswer_)
            onAnswer_(quality);
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
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll_);
    content_ = new QWidget;
    content_->setAutoFillBackground(false);
    scroll_->setWidget(content_);

    auto* root = new QVBoxLayout(content_);
    root->setContentsMargins(24, 24, 24, 24);
    root->setSpacing(20);
    root->addStretch(1);

    promptPanel_ = new PromptPanel(prompt, this);
    connect(promptPanel_, &PromptPanel::speakRequested, this, [this] { speak(prompt_); });
    root->addWidget(promptPanel_);

    auto* area = new QVBoxLayout;
    area->setSpacing(12);
    answerField_ = makeField(tr("Type your answer..."), this, QStringLiteral("answerField"));
    connect(answerField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        state_.setInput(text);
        refresh();
    });
    connect(answerField_, &QLineEdit::returnPressed, this, [this] { run(&TypingState::handleSubmit); });
    area->addWidget(answerField_);
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
    const int content = content_->layout()->totalHeightForWidth(420);
    return {420, std::max(340, content > 0 ? content : content_->sizeHint().height())};
}

QWidget* TypingView::buildActionRow()
{
    actionRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(actionRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    submitButton_ = makeButton(tr("Submit"), true, actionRow_, QStringLiteral("submitButton"));
    dontKnowButton_ = makeButton(tr("Don't Know"), false, actionRow_, QStringLiteral("dontKnowButton"));
    connect(submitButton_, &QPushButton::clicked, this, [this] { run(&TypingState::handleSubmit); });
    connect(dontKnowButton_, &QPushButton::clicked, this, [this] { run(&TypingState::dontKnow); });
    row->addStretch(1);
    row->addWidget(submitButton_);
    row->addWidget(dontKnowButton_);
    row->addStretch(1);
    return actionRow_;
}

QWidget* TypingView::buildPartialMatchBlock()
{
    partialBlock_ = new QWidget(this);
    partialBlock_->setObjectName(QStringLiteral("partialMatchBlock"));
    auto* stack = new QVBoxLayout(partialBlock_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    const QPalette& pal = palette();

    partialIcon_ = new GlyphLabel(Glyph::exclamationCircle, orange(), 16);
    partialTitle_ = makeLabel(tr("Partial Match"), Theme::font(TextStyle::headline), accentText(orange(), pal), nullptr, QStringLiteral("partialTitle"));
    stack->addWidget(headerRow(partialIcon_, partialTitle_, partialBlock_));
    stack->addWidget(makeLabel(tr("Your answer matches:"), Theme::font(TextStyle::subheadline), secondaryText(pal), partialBlock_));
    matchedPart_ = makeLabel(QString(), Theme::font(TextStyle::headline), primaryText(pal), partialBlock_, QStringLiteral("matchedPart"));
    stack->addWidget(matchedPart_);
    stack->addWidget(makeLabel(tr("Full answer:"), Theme::font(TextStyle::subheadline), secondaryText(pal), partialBlock_));
    stack->addWidget(makeLabel(state_.expectedAnswer(), Theme::font(TextStyle::subheadline), primaryText(pal), partialBlock_,
                               QStringLiteral("partialFullAnswer")));

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    acceptButton_ = makeButton(tr("Accept as Correct"), true, partialBlock_, QStringLiteral("acceptButton"));
    markWrongButton_ = makeButton(tr("Mark Wrong"), false, partialBlock_, QStringLiteral("markWrongButton"));
    connect(acceptButton_, &QPushButton::clicked, this, [this] { run(&TypingState::acceptPartialMatch); });
    connect(markWrongButton_, &QPushButton::clicked, this, [this] { run(&TypingState::markWrong); });
    buttons->addStretch(1);
    buttons->addWidget(acceptButton_);
    buttons->addWidget(markWrongButton_);
    buttons->addStretch(1);
    stack->addLayout(buttons);
    return partialBlock_;
}

QWidget* TypingView::buildConfirmationBlock()
{
    confirmBlock_ = new QWidget(this);
    confirmBlock_->setObjectName(QStringLiteral("confirmationBlock"));
    auto* stack = new QVBoxLayout(confirmBlock_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    const QPalette& pal = palette();

    confirmHeader_ = headerRow(new GlyphLabel(Glyph::xmarkCircle, red(), 16),
                                makeLabel(tr("Incorrect"), Theme::font(TextStyle::headline), accentText(red(), pal), nullptr, QStringLiteral("confirmTitle")),
                                confirmBlock_);
    stack->addWidget(confirmHeader_);
    stack->addWidget(makeLabel(tr("Type to confirm:"), Theme::font(TextStyle::subheadline), secondaryText(pal), confirmBlock_));
    stack->addWidget(makeLabel(state_.expectedAnswer(), Theme::font(TextStyle::headline), primaryText(pal), confirmBlock_,
                               QStringLiteral("confirmExpected")));
    confirmField_ = makeField(tr("Type the answer..."), confirmBlock_, QStringLiteral("confirmField"));
    connect(confirmField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        state_.setConfirmInput(text);
        refresh();
    });
    connect(confirmField_, &QLineEdit::returnPressed, this, [this] { run(&TypingState::confirm); });
    stack->addWidget(confirmField_);

    confirmButton_ = makeButton(tr("Confirm"), true, confirmBlock_, QStringLiteral("confirmButton"));
    connect(confirmButton_, &QPushButton::clicked, this, [this] { run(&TypingState::confirm); });
    stack->addWidget(confirmButton_, 0, Qt::AlignHCenter);
    return confirmBlock_;
}

RoundedPanel* TypingView::buildResultBlock()
{
    resultBlock_ = new RoundedPanel(10, this);
    resultBlock_->setObjectName(QStringLiteral("resultBlock"));
    auto* stack = new QVBoxLayout(resultBlock_);
    stack->setContentsMargins(12, 8, 12, 8);
    stack->setSpacing(4);
    resultIcon_ = new GlyphLabel(Glyph::checkmarkCircle, green(), 16);
    resultTitle_ = makeLabel(QString(), Theme::font(TextStyle::headline), accentText(green(), palette()), nullptr, QStringLiteral("resultTitle"));
    stack->addWidget(headerRow(resultIcon_, resultTitle_, resultBlock_));
    resultDetail_ = makeLabel(state_.expectedAnswer(), Theme::font(TextStyle::subheadline), secondaryText(palette()), resultBlock_,
                               QStringLiteral("resultDetail"));
    stack->addWidget(resultDetail_);
    return resultBlock_;
}

void TypingView::run(void (TypingState::*action)())
{
    // onAnswer may close the panel that holds this view.
    QPointer<TypingView> self(this);
    (state_.*action)();
    if (self)
        refresh();
}

void TypingView::refresh()
{
    const TypingState& s = state_;

    // The field the next keys belong in takes the focus before anything is
    // hidden or disabled: Qt would hand the focus of a vanishing widget on to
    // the next one in the chain, "Accept as Correct" during an offer, where
    // the first Space typed would record the answer.
    QLineEdit* home = s.showsConfirmation() ? confirmField_ : s.answerFieldEnabled() ? answerField_ : nullptr;
    if (home) {
        confirmBlock_->setVisible(s.showsConfirmation());
        home->setEnabled(true);
        // Not a Tab: the field keeps its text unselected.
        if (focusWidget() != home)
            home->setFocus(Qt::OtherFocusReason);
    }
    actionRow_->setVisible(s.showsActionRow());
    partialBlock_->setVisible(s.showsPartialMatch());
    confirmBlock_->setVisible(s.showsConfirmation());
    resultBlock_->setVisible(s.showsResult());

    answerField_->setEnabled(s.answerFieldEnabled());
    submitButton_->setEnabled(s.canSubmit());

    const QColor partialColour = s.recommendedQuality() >= 4 ? green() : orange();
    partialIcon_->setGlyph(Glyph::exclamationCircle, partialColour);
    setTextColour(partialTitle_, accentText(partialColour, palette()));
    matchedPart_->setText(s.matchedPart());

    confirmHeader_->setVisible(s.result().has_value());
    confirmField_->setEnabled(!s.submitted());
    confirmButton_->setEnabled(s.canConfirm());

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
        resultIcon_->setGlyph(glyph, colour);
        resultTitle_->setText(title);
        setTextColour(resultTitle_, accentText(colour, palette()));
        resultDetail_->setVisible(*result != TypingResult::correct);
        resultBlock_->setFill(withAlpha(colour, 0.1));
    }
    updateGeometry();
    // Once the layout has made room for the blocks just shown, so the field
    // that took the focus is scrolled to where it ends up.
    QTimer::singleShot(0, this, [this] {
        if (QWidget* focus = focusWidget(); focus && content_->isAncestorOf(focus))
            scroll_->ensureWidgetVisible(focus);
    });
}

void TypingView::keyPressEvent(QKeyEvent* event)
{
    // "Submit" is the default action: Return anywhere in the view submits,
    // except in the two fields, which handle their own Return.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QWidget* focus = focusWidget();
    if (isReturn && focus != answerField_ && focus != confirmField_) {
        if (state_.showsActionRow() && state_.canSubmit())
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
