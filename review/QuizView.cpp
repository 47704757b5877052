#include "review/QuizView.h"

#include "review/AnswerMatching.h"
#include "review/ReviewWidgets.h"
#include "review/SoundEffects.h"
#include "review/Speech.h"
#include "ui/Glyphs.h"
#include "ui/Theme.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcut>
#include <QVBoxLayout>

using namespace Theme;

// One option: a plain button that paints its own rounded row in the colours
// its view decides, with its number key at the start.
class OptionRow : public QAbstractButton {
public:
    OptionRow(const QuizView* view, int index, const QString& text, QWidget* parent)
        : QAbstractButton(parent)
        , view_(view)
        , index_(index)
    {
        setText(text);
        setToolTip(text);
        setFont(Theme::font(TextStyle::body));
        // Reached with Tab only: no row has the keyboard until the learner
        // moves there, so a stray Space or Return answers nothing.
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setObjectName(QStringLiteral("option%1").arg(index + 1));
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 2 * horizontalPadding + numberWidth() + iconSize + 8,
                metrics.height() + 2 * verticalPadding};
    }
    QSize minimumSizeHint() const override { return {2 * horizontalPadding + numberWidth() + iconSize, sizeHint().height()}; }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            click();
            return;
        }
        QAbstractButton::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent*) override
    {
        const QuizView::RowAppearance look = view_->rowAppearance(index_);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal inset = borderWidth / 2;
        const QRectF shape = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
        p.setPen(Qt::NoPen);
        p.setBrush(look.fill);
        p.drawRoundedRect(shape, radius, radius);
        const bool focused = hasFocus() && isEnabled();
        p.setPen(QPen(focused ? Theme::accent() : look.border, focused ? 2 * borderWidth : borderWidth));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(shape, radius, radius);

        QRect textArea = rect().adjusted(horizontalPadding, 0, -horizontalPadding, 0);
        if (numberWidth() > 0) {
            p.setPen(look.kind == QuizView::RowAppearance::Kind::unanswered ? secondaryText(palette()) : look.text);
            p.setFont(Theme::font(TextStyle::caption));
            p.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, QString::number(index_ + 1));
            textArea.setLeft(textArea.left() + numberWidth());
        }
        if (look.checkmark || look.cross) {
            const QRect iconArea(textArea.right() - iconSize + 1, (height() - iconSize) / 2, iconSize, iconSize);
            p.drawPixmap(iconArea, Glyphs::pixmap(look.checkmark ? Glyph::checkmarkCircle : Glyph::xmarkCircle,
                                               look.text, iconSize, devicePixelRatioF()));
            textArea.setRight(iconArea.left() - 8);
        }
        p.setPen(look.text);
        p.setFont(font());
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, textArea.width());
        p.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }

private:
    // The keys 1 to 9 pick the first nine rows.
    int numberWidth() const { return index_ < 9 ? QFontMetrics(Theme::font(TextStyle::caption)).horizontalAdvance(QLatin1Char('9')) + 10 : 0; }

    static constexpr int horizontalPadding = 16;
    static constexpr int verticalPadding = 12;
    static constexpr int iconSize = 17;
    static constexpr qreal radius = 10;
    static constexpr qreal borderWidth = 1.5;

    const QuizView* view_;
    int index_;
};

QuizView::QuizView(const QString& question, const QStringList& options, const QString& correctAnswer,
                   std::function<void(int)> onAnswer, QWidget* parent)
    : QWidget(parent)
    , question_(question)
    , options_(options)
    , correctAnswer_(correctAnswer)
    , onAnswer_(std::move(onAnswer))
{
    setFixedSize(420, 340);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, windowBackground(palette()));
    setPalette(background);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(24, 24, 24, 24);
    root->setSpacing(20);
    root->addStretch(1);

    prompt_ = new PromptPanel(question, this);
    connect(prompt_, &PromptPanel::speakRequested, this, [this] { speak(question_); });
    root->addWidget(prompt_);

    auto* list = new QVBoxLayout;
    list->setSpacing(10);
    for (int i = 0; i < options_.size(); ++i) {
        auto* row = new OptionRow(this, i, options_.at(i), this);
        connect(row, &QAbstractButton::clicked, this, [this, i] { pick(i); });
        list->addWidget(row);
        rows_.append(row);
    }
    root->addLayout(list);
    root->addStretch(1);

    // Number keys pick options wherever the focus is in the panel.
    for (int i = 0; i < std::min<int>(int(options_.size()), 9); ++i) {
        for (auto modifier : {Qt::NoModifier, Qt::KeypadModifier}) {
            auto* key = new QShortcut(QKeySequence(int(modifier) | (Qt::Key_1 + i)), this);
            key->setContext(Qt::WindowShortcut);
            connect(key, &QShortcut::activated, this, [this, i] { pick(i); });
        }
    }
}

QuizView::~QuizView() = default;

void QuizView::keyPressEvent(QKeyEvent* event)
{
    // Reached when the number keys arrive while the window is not the active
    // one (so its shortcuts are off), e.g. in a panel shown without focus.
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && key >= Qt::Key_1 && key <= Qt::Key_9 && key - Qt::Key_1 < std::min<int>(int(options_.size()), 9)) {
        pick(key - Qt::Key_1);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QuizView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window would hand the keyboard to its first row on activation,
    // where a stray Space or Return would answer: the view keeps it until
    // the learner tabs to a row.
    if (!isAncestorOf(focusWidget()))
        setFocus(Qt::OtherFocusReason);
}

bool QuizView::isCorrect(int index) const
{
    return AnswerMatching::canonicallyEqual(options_.at(index), correctAnswer_);
}

QuizView::RowAppearance QuizView::rowAppearance(int index) const
{
    const QPalette& pal = palette();
    using Kind = RowAppearance::Kind;
    if (!submitted_)
        return {Kind::unanswered, primaryText(pal), controlBackground(pal), separator(pal)};
    if (isCorrect(index))
        return {Kind::right, accentText(green(), pal), withAlpha(green(), 0.1), green(), true, false};
    if (selected_ == index)
        return {Kind::wrongPick, accentText(red(), pal), withAlpha(red(), 0.1), red(), false, true};
    return {Kind::other, secondaryText(pal), controlBackground(pal), separator(pal)};
}

void QuizView::pick(int index)
{
    if (submitted_ || index < 0 || index >= options_.size())
        return;
    selected_ = index;
    submitted_ = true;
    for (OptionRow* row : std::as_const(rows_)) {
        row->setEnabled(false);
        row->setCursor(Qt::ArrowCursor);
        row->update();
    }

    const bool right = isCorrect(index);
    if (right)
        SoundEffects::playCorrect();
    else
        SoundEffects::playIncorrect();
    if (onAnswer_)
        onAnswer_(right ? 4 : 1);
}

SpeechChannel& QuizView::speechChannel()
{
    static SpeechChannel channel;
    return channel;
}

void QuizView::speak(const QString& text)
{
    speechChannel().speak(text);
}
