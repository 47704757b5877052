// Both review views driven like a learner would, under the offscreen platform.
#include "QuizView.h"
#include "ReviewStyle.h"
#include "SoundRecorder.h"
#include "TypingView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString u(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

using Reports = std::vector<int>;
using Sounds = std::vector<SoundEffects::Sound>;

void showActive(QWidget* w)
{
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    QApplication::setActiveWindow(w);
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}

QStringList labelTexts(const QWidget* root, bool visibleOnly = true)
{
    QStringList texts;
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->text().isEmpty() && (!visibleOnly || label->isVisible()))
            texts.append(label->text());
    }
    return texts;
}

QColor textColour(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText);
}

// ---------------------------------------------------------------- QuizView

class QuizViewTest : public testing::Test {
protected:
    QuizView& make(const QStringList& options, const QString& correct, const QString& question = u("le chat"))
    {
        view = std::make_unique<QuizView>(question, options, correct, [this](int q) {
            EXPECT_TRUE(view->submitted()) << "reported before the state changed";
            EXPECT_EQ(sounds.played.size(), 1u) << "reported before the sound started";
            reported.push_back(q);
        });
        showActive(view.get());
        return *view;
    }
    QAbstractButton* row(int index) const
    {
        return view->findChild<QAbstractButton*>(QStringLiteral("option%1").arg(index + 1));
    }
    void click(int index) { QTest::mouseClick(row(index), Qt::LeftButton); }

    SoundRecorder sounds;
    std::unique_ptr<QuizView> view;
    Reports reported;
};

const QStringList animals = {u("dog"), u("cat"), u("horse"), u("bird")};

TEST_F(QuizViewTest, ShowsTheQuestionAndOneRowPerOptionInOrder)
{
    make(animals, u("cat"), u("le chat"));
    EXPECT_EQ(view->size(), QSize(420, 340));
    const auto* question = view->findChild<QLabel*>(QStringLiteral("promptText"));
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text(), u("le chat"));
    EXPECT_EQ(question->textFormat(), Qt::PlainText);
    ASSERT_TRUE(view->findChild<QToolButton*>(QStringLiteral("speakerButton")));
    int previousTop = -1;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(row(i)) << i;
        EXPECT_EQ(row(i)->text(), animals.at(i));
        EXPECT_TRUE(row(i)->isEnabled());
        EXPECT_GT(row(i)->y(), previousTop);
        EXPECT_LE(row(i)->geometry().bottom(), 340 - 24) << "row " << i << " does not fit";
        previousTop = row(i)->y();
        const auto look = view->rowAppearance(i);
        EXPECT_EQ(look.kind, QuizView::RowAppearance::Kind::unanswered);
        EXPECT_FALSE(look.checkmark || look.cross);
        EXPECT_EQ(look.text, ReviewStyle::primaryLabel(view->palette()));
        EXPECT_EQ(look.fill, ReviewStyle::controlBackground(view->palette()));
    }
    EXPECT_TRUE(reported.empty());
    EXPECT_FALSE(view->selectedIndex().has_value());
}

TEST_F(QuizViewTest, RightPickReportsFourOnceAndTurnsGreen)
{
    make(animals, u("cat"));
    click(1);
    EXPECT_EQ(reported, Reports{4});
    EXPECT_EQ(sounds.played, Sounds{correctSound});
    EXPECT_EQ(view->selectedIndex(), 1);
    using Kind = QuizView::RowAppearance::Kind;
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(row(i)->isEnabled());
        const auto look = view->rowAppearance(i);
        if (i == 1) {
            EXPECT_EQ(look.kind, Kind::right);
            EXPECT_TRUE(look.checkmark);
            EXPECT_EQ(look.text, ReviewStyle::green());
            EXPECT_EQ(look.border, ReviewStyle::green());
            EXPECT_NEAR(look.fill.alphaF(), 0.1, 0.01);
            EXPECT_EQ(look.fill.rgb(), ReviewStyle::green().rgb());
        } else {
            EXPECT_EQ(look.kind, Kind::other);
            EXPECT_FALSE(look.checkmark || look.cross);
            EXPECT_EQ(look.text, ReviewStyle::secondaryLabel(view->palette()));
        }
    }
    // A second click, or a key, changes nothing.
    click(1);
    click(0);
    view->pick(2);
    QTest::keyClick(view.get(), Qt::Key_1);
    EXPECT_EQ(reported, Reports{4});
    EXPECT_EQ(sounds.played.size(), 1u);
    EXPECT_EQ(view->selectedIndex(), 1);
}

TEST_F(QuizViewTest, WrongPickReportsOneRedCrossAndShowsTheRightOne)
{
    make(animals, u("cat"));
    click(0);
    EXPECT_EQ(reported, Reports{1});
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    using Kind = QuizView::RowAppearance::Kind;
    const auto picked = view->rowAppearance(0);
    EXPECT_EQ(picked.kind, Kind::wrongPick);
    EXPECT_TRUE(picked.cross);
    EXPECT_FALSE(picked.checkmark);
    EXPECT_EQ(picked.text, ReviewStyle::red());
    EXPECT_EQ(picked.border, ReviewStyle::red());
    EXPECT_EQ(picked.fill.rgb(), ReviewStyle::red().rgb());
    EXPECT_NEAR(picked.fill.alphaF(), 0.1, 0.01);
    EXPECT_EQ(view->rowAppearance(1).kind, Kind::right);
    EXPECT_EQ(view->rowAppearance(2).kind, Kind::other);
    EXPECT_EQ(view->rowAppearance(3).kind, Kind::other);
    click(1);
    EXPECT_EQ(reported, Reports{1});
}

TEST_F(QuizViewTest, RowsArePaintedInTheirColours)
{
    make(animals, u("cat"));
    click(0);
    const QImage image = view->grab().toImage();
    const qreal dpr = image.devicePixelRatio();
    auto sample = [&](int index) {
        const QRect r = row(index)->geometry();
        // Inside the fill, left of the text.
        return image.pixelColor(int((r.left() + 8) * dpr), int(r.center().y() * dpr));
    };
    const QColor wrong = sample(0), right = sample(1), other = sample(2);
    EXPECT_GT(wrong.red(), wrong.green() + 10) << wrong.name().toStdString();
    EXPECT_GT(right.green(), right.red() + 10) << right.name().toStdString();
    EXPECT_NEAR(other.red(), other.green(), 3) << other.name().toStdString();
    // The border is drawn in the full colour.
    const QRect r = row(0)->geometry();
    const QColor border = image.pixelColor(int((r.left() + r.width() / 2) * dpr), int((r.top() + 0.5) * dpr));
    EXPECT_GT(border.red(), 200);
    EXPECT_LT(border.green(), 150);
}

TEST_F(QuizViewTest, NumberKeysPickTheOptions)
{
    make(animals, u("cat"));
    QTest::keyClick(view.get(), Qt::Key_3);
    EXPECT_EQ(reported, Reports{1});
    EXPECT_EQ(view->selectedIndex(), 2);
    QTest::keyClick(view.get(), Qt::Key_2);
    EXPECT_EQ(reported, Reports{1});
}

TEST_F(QuizViewTest, KeypadAndEveryNumberKeyWork)
{
    for (int i = 0; i < 4; ++i) {
        sounds.played.clear();
        reported.clear();
        make(animals, u("cat"));
        QTest::keyClick(view.get(), Qt::Key(Qt::Key_1 + i), i % 2 ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(view->selectedIndex(), i);
        EXPECT_EQ(reported, Reports{i == 1 ? 4 : 1});
    }
    sounds.played.clear();
    reported.clear();
    make(animals, u("cat"));
    QTest::keyClick(view.get(), Qt::Key_5); // no fifth option
    QTest::keyClick(view.get(), Qt::Key_0);
    EXPECT_TRUE(reported.empty());
}

TEST_F(QuizViewTest, NumberKeysWorkAlsoInAnInactiveWindow)
{
    QuizView quiet(u("le chat"), animals, u("cat"), [this](int q) { reported.push_back(q); });
    quiet.show(); // never activated
    QTest::keyClick(&quiet, Qt::Key_2);
    QTest::keyClick(&quiet, Qt::Key_2);
    EXPECT_EQ(reported, Reports{4});
    EXPECT_EQ(quiet.selectedIndex(), 1);
}

TEST_F(QuizViewTest, LetterCaseMakesAnOptionWrong)
{
    make({u("Cat"), u("dog")}, u("cat"));
    click(0);
    EXPECT_EQ(reported, Reports{1});
    EXPECT_EQ(view->rowAppearance(0).kind, QuizView::RowAppearance::Kind::wrongPick);
}

TEST_F(QuizViewTest, CanonicallyEquivalentOptionIsRight)
{
    make({u("cafe\u0301"), u("tea")}, u("caf\u00E9"));
    click(0);
    EXPECT_EQ(reported, Reports{4});
}

TEST_F(QuizViewTest, WithoutTheRightOptionNoRowTurnsGreen)
{
    make(animals, u("fish"));
    click(3);
    EXPECT_EQ(reported, Reports{1});
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(view->rowAppearance(i).kind, QuizView::RowAppearance::Kind::right);
}

TEST_F(QuizViewTest, RepeatedOptionsAreKeptApartByPosition)
{
    make({u("cat"), u("dog"), u("dog"), u("cat")}, u("cat"));
    click(2);
    EXPECT_EQ(reported, Reports{1});
    EXPECT_EQ(view->selectedIndex(), 2);
    using Kind = QuizView::RowAppearance::Kind;
    EXPECT_EQ(view->rowAppearance(0).kind, Kind::right);
    EXPECT_EQ(view->rowAppearance(1).kind, Kind::other); // same text, not picked
    EXPECT_EQ(view->rowAppearance(2).kind, Kind::wrongPick);
    EXPECT_EQ(view->rowAppearance(3).kind, Kind::right);
}

// ---------------------------------------------------------------- TypingView

class TypingViewTest : public testing::Test {
protected:
    TypingView& make(const QString& expected, const QString& prompt = u("the apple"))
    {
        view = std::make_unique<TypingView>(prompt, expected, [this](int q) {
            EXPECT_TRUE(view->state().submitted());
            reported.push_back(q);
        });
        showActive(view.get());
        return *view;
    }
    template <typename T> T* child(const char* name) const
    {
        T* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    QLineEdit* answerField() const { return child<QLineEdit>("answerField"); }
    QLineEdit* confirmField() const { return child<QLineEdit>("confirmField"); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    bool shown(const char* name) const { return child<QWidget>(name)->isVisible(); }

    void answer(const char* text)
    {
        QTest::keyClicks(answerField(), u(text));
        QTest::keyClick(answerField(), Qt::Key_Return);
    }
    QString resultTitle() const { return child<QLabel>("resultTitle")->text(); }

    SoundRecorder sounds;
    std::unique_ptr<TypingView> view;
    Reports reported;
};

TEST_F(TypingViewTest, FreshViewOffersTheAnswerFieldAndActions)
{
    make(u("apple"), u("la pomme"));
    EXPECT_EQ(view->width(), 420);
    EXPECT_GE(view->height(), 340);
    EXPECT_EQ(child<QLabel>("promptText")->text(), u("la pomme"));
    EXPECT_EQ(answerField()->placeholderText(), u("Type your answer..."));
    EXPECT_EQ(answerField()->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_TRUE(answerField()->isEnabled());
    EXPECT_EQ(button("submitButton")->text(), u("Submit"));
    EXPECT_EQ(button("dontKnowButton")->text(), u("Don't Know"));
    EXPECT_FALSE(button("submitButton")->isEnabled());
    EXPECT_TRUE(button("dontKnowButton")->isEnabled());
    EXPECT_TRUE(button("submitButton")->isVisible());
    EXPECT_FALSE(shown("partialMatchBlock"));
    EXPECT_FALSE(shown("confirmationBlock"));
    EXPECT_FALSE(shown("resultBlock"));
    // The learner can type at once: the answer field has the focus.
    EXPECT_EQ(QApplication::focusWidget(), answerField());
}

TEST_F(TypingViewTest, ExactAnswerWithReturnReportsFourOnce)
{
    make(u("apple"));
    answer("apple");
    EXPECT_EQ(reported, Reports{4});
    EXPECT_EQ(sounds.played, Sounds{correctSound});
    EXPECT_TRUE(shown("resultBlock"));
    EXPECT_EQ(resultTitle(), u("Correct!"));
    EXPECT_EQ(textColour(child<QLabel>("resultTitle")), ReviewStyle::green());
    EXPECT_FALSE(shown("resultDetail"));
    EXPECT_FALSE(answerField()->isEnabled());
    EXPECT_FALSE(button("submitButton")->isVisible());
    // Another Return or click reports nothing more.
    QTest::keyClick(view.get(), Qt::Key_Return);
    button("submitButton")->click();
    EXPECT_EQ(reported, Reports{4});
}

TEST_F(TypingViewTest, CloseAnswerReportsThreeAndShowsTheExpectedAnswer)
{
    make(u("apple"));
    QTest::keyClicks(answerField(), u("aple"));
    QTest::mouseClick(button("submitButton"), Qt::LeftButton);
    EXPECT_EQ(reported, Reports{3});
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    EXPECT_EQ(resultTitle(), u("Close!"));
    EXPECT_EQ(textColour(child<QLabel>("resultTitle")), ReviewStyle::orange());
    EXPECT_TRUE(shown("resultDetail"));
    EXPECT_EQ(child<QLabel>("resultDetail")->text(), u("apple"));
}

TEST_F(TypingViewTest, BlankAnswerCannotBeSubmitted)
{
    make(u("apple"));
    QTest::keyClicks(answerField(), u("   "));
    EXPECT_FALSE(button("submitButton")->isEnabled());
    QTest::keyClick(answerField(), Qt::Key_Return);
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(sounds.played.empty());
    EXPECT_TRUE(button("submitButton")->isVisible());
    EXPECT_TRUE(answerField()->isEnabled());
    QTest::keyClicks(answerField(), u("a"));
    EXPECT_TRUE(button("submitButton")->isEnabled());
}

TEST_F(TypingViewTest, ReturnOutsideTheFieldIsTheDefaultAction)
{
    make(u("apple"));
    QTest::keyClicks(answerField(), u("apple"));
    button("dontKnowButton")->setFocus();
    QTest::keyClick(button("dontKnowButton"), Qt::Key_Return);
    EXPECT_EQ(reported, Reports{4});
}

TEST_F(TypingViewTest, DontKnowThenConfirmReportsOneWithoutResult)
{
    make(u("bonjour"));
    QTest::mouseClick(button("dontKnowButton"), Qt::LeftButton);
    EXPECT_TRUE(sounds.played.empty());
    EXPECT_TRUE(shown("confirmationBlock"));
    EXPECT_FALSE(child<QLabel>("confirmTitle")->isVisible()); // no "Incorrect" without a result
    EXPECT_TRUE(labelTexts(view.get()).contains(u("Type to confirm:")));
    EXPECT_EQ(child<QLabel>("confirmExpected")->text(), u("bonjour"));
    EXPECT_EQ(confirmField()->placeholderText(), u("Type the answer..."));
    EXPECT_FALSE(answerField()->isEnabled());
    EXPECT_FALSE(button("submitButton")->isVisible());
    EXPECT_EQ(button("confirmButton")->text(), u("Confirm"));
    EXPECT_FALSE(button("confirmButton")->isEnabled());

    QTest::keyClicks(confirmField(), u("Bonjour"));
    EXPECT_TRUE(button("confirmButton")->isEnabled());
    QTest::mouseClick(button("confirmButton"), Qt::LeftButton);
    EXPECT_EQ(reported, Reports{1});
    EXPECT_FALSE(shown("resultBlock"));
    EXPECT_FALSE(shown("confirmationBlock"));
}

TEST_F(TypingViewTest, WrongAnswerMustBeConfirmedThenShowsIncorrect)
{
    make(u("apple"));
    answer("pear");
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(child<QLabel>("confirmTitle")->isVisible());
    EXPECT_EQ(child<QLabel>("confirmTitle")->text(), u("Incorrect"));
    EXPECT_EQ(textColour(child<QLabel>("confirmTitle")), ReviewStyle::red());
    EXPECT_FALSE(answerField()->isEnabled());

    // The learner goes on typing where the focus went: the confirmation field.
    QTest::keyClicks(QApplication::focusWidget(), u("appl"));
    EXPECT_EQ(confirmField()->text(), u("appl"));
    EXPECT_FALSE(button("confirmButton")->isEnabled());
    QTest::keyClick(confirmField(), Qt::Key_Return); // not close enough yet
    EXPECT_TRUE(reported.empty());
    QTest::keyClicks(confirmField(), u("e"));
    EXPECT_TRUE(button("confirmButton")->isEnabled());
    QTest::keyClick(confirmField(), Qt::Key_Return);
    EXPECT_EQ(reported, Reports{1});
    EXPECT_TRUE(shown("resultBlock"));
    EXPECT_EQ(resultTitle(), u("Incorrect"));
    EXPECT_EQ(textColour(child<QLabel>("resultTitle")), ReviewStyle::red());
    EXPECT_EQ(child<QLabel>("resultDetail")->text(), u("apple"));
}

TEST_F(TypingViewTest, QuickDoubleConfirmationReportsOnce)
{
    make(u("apple"));
    answer("pear");
    confirmField()->setText(u("apple"));
    // Return and a click landing together, then the same again.
    QTest::keyClick(confirmField(), Qt::Key_Return);
    button("confirmButton")->click();
    QTest::keyClick(confirmField(), Qt::Key_Return);
    emit confirmField()->returnPressed();
    EXPECT_EQ(reported, Reports{1});
}

TEST_F(TypingViewTest, PartialMatchOfferShowsTheMatchedPart)
{
    make(u("big, large"));
    answer("large");
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(sounds.played.empty());
    EXPECT_TRUE(shown("partialMatchBlock"));
    EXPECT_FALSE(shown("resultBlock"));
    EXPECT_FALSE(shown("confirmationBlock"));
    EXPECT_FALSE(button("submitButton")->isVisible());
    EXPECT_TRUE(answerField()->isEnabled());
    const QStringList texts = labelTexts(view.get());
    for (const char* text : {"Partial Match", "Your answer matches:", "large", "Full answer:", "big, large"})
        EXPECT_TRUE(texts.contains(u(text))) << text;
    EXPECT_EQ(textColour(child<QLabel>("partialTitle")), ReviewStyle::green());
    EXPECT_EQ(button("acceptButton")->text(), u("Accept as Correct"));
    EXPECT_EQ(button("markWrongButton")->text(), u("Mark Wrong"));

    // A double click on "Accept as Correct" reports once.
    button("acceptButton")->click();
    button("acceptButton")->click();
    EXPECT_EQ(reported, Reports{4});
    EXPECT_EQ(sounds.played, Sounds{correctSound});
    EXPECT_EQ(resultTitle(), u("Correct!"));
}

TEST_F(TypingViewTest, AcceptedCloseMatchShowsOrangeClose)
{
    make(u("big, large"));
    answer("larg");
    EXPECT_EQ(textColour(child<QLabel>("partialTitle")), ReviewStyle::orange());
    QTest::mouseClick(button("acceptButton"), Qt::LeftButton);
    EXPECT_EQ(reported, Reports{3});
    EXPECT_EQ(resultTitle(), u("Close!"));
    EXPECT_EQ(textColour(child<QLabel>("resultTitle")), ReviewStyle::orange());
    EXPECT_EQ(child<QLabel>("resultDetail")->text(), u("big, large"));
}

TEST_F(TypingViewTest, MarkWrongLeadsToConfirmationAndReportsOne)
{
    make(u("big, large"));
    answer("larg");
    QTest::mouseClick(button("markWrongButton"), Qt::LeftButton);
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    EXPECT_FALSE(shown("partialMatchBlock"));
    EXPECT_TRUE(shown("confirmationBlock"));
    EXPECT_TRUE(child<QLabel>("confirmTitle")->isVisible());
    button("acceptButton")->click(); // gone with the offer
    EXPECT_TRUE(reported.empty());
    QTest::keyClicks(confirmField(), u("big, large"));
    QTest::mouseClick(button("confirmButton"), Qt::LeftButton);
    EXPECT_EQ(reported, Reports{1});
    EXPECT_EQ(resultTitle(), u("Incorrect"));
}

TEST_F(TypingViewTest, ReturnDuringTheOfferResubmitsTheEditedText)
{
    make(u("big, large"));
    answer("larg");
    answerField()->clear();
    answer("zzz");
    // Both the offer and the confirmation are shown; the offer still counts.
    EXPECT_TRUE(shown("partialMatchBlock"));
    EXPECT_TRUE(shown("confirmationBlock"));
    EXPECT_FALSE(answerField()->isEnabled());
    QTest::mouseClick(button("acceptButton"), Qt::LeftButton);
    EXPECT_EQ(reported, Reports{3});
}

TEST_F(TypingViewTest, TallStatesScrollInsideTheCardPanel)
{
    make(u("big, large"));
    view->setFixedHeight(340); // what the card panel gives it
    answer("larg");
    answerField()->clear();
    answer("zzz");
    EXPECT_GT(view->sizeHint().height(), 340);
    auto* scroll = view->findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    QTest::qWait(1);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    // Nothing is squeezed: the last control keeps its full height.
    EXPECT_GE(button("confirmButton")->height(), button("confirmButton")->sizeHint().height());
    scroll->ensureWidgetVisible(button("confirmButton"));
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0);
    confirmField()->setText(u("big, large"));
    QTest::mouseClick(button("confirmButton"), Qt::LeftButton);
    EXPECT_EQ(reported, Reports{1});
}

TEST_F(TypingViewTest, CardTextIsNeverMarkup)
{
    make(u("<b>bold</b>"), u("<i>x</i>"));
    EXPECT_EQ(child<QLabel>("promptText")->textFormat(), Qt::PlainText);
    answer("nope");
    EXPECT_EQ(child<QLabel>("confirmExpected")->textFormat(), Qt::PlainText);
    EXPECT_EQ(child<QLabel>("confirmExpected")->text(), u("<b>bold</b>"));
}

} // namespace
