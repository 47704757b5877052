// The typed-answer view driven like a learner would, under the offscreen
// platform. The decisions are TypingState's (TypingStateTests); here each way
// from one state to the next is wired once: keys, buttons, focus, what shows.
#include "ui/Theme.h"
#include "TestSupport.h"
#include "review/TypingView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <memory>

namespace {

class TypingViewTest : public testing::Test {
protected:
    void make(const char* expected, const char* prompt = "the apple")
    {
        reported.clear();
        view = std::make_unique<TypingView>(prompt, expected, [this](int q) {
            EXPECT_TRUE(view->state().submitted());
            reported.push_back(q);
        });
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        QApplication::setActiveWindow(view.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }
    QWidget* child(const char* name) const { return view->findChild<QWidget*>(name); }
    QLineEdit* field(const char* name = "answerField") const { return view->findChild<QLineEdit*>(name); }
    QPushButton* button(const char* name) { return view->findChild<QPushButton*>(name); }
    void answer(const char* text)
    {
        QTest::keyClicks(field(), text);
        QTest::keyClick(field(), Qt::Key_Return);
    }
    // What the learner sees: the visible parts (labels as their text, titles
    // with their colour), then the usable controls in brackets.
    std::string shown() const
    {
        QStringList out;
        for (const char* name : {"submitButton", "partialMatchBlock", "partialTitle", "matchedPart",
                                 "confirmationBlock", "confirmTitle", "confirmExpected", "resultBlock", "resultTitle",
                                 "resultDetail"}) {
            const auto* label = qobject_cast<const QLabel*>(child(name));
            if (child(name)->isVisible())
                out << (label ? u'"' + label->text() + u'"' + tone(label) : QString(name));
        }
        for (const char* name : {"answerField", "submitButton", "confirmButton"}) {
            if (child(name)->isVisible() && child(name)->isEnabled())
                out << QStringLiteral("[%1]").arg(name);
        }
        return out.join(u' ').toStdString();
    }
    static QString tone(const QLabel* label)
    {
        const QColor c = label->palette().color(QPalette::WindowText);
        return c == Theme::accentText(Theme::green())    ? " green"
               : c == Theme::accentText(Theme::orange()) ? " orange"
               : c == Theme::accentText(Theme::red())    ? " red"
                                            : "";
    }

    std::unique_ptr<TypingView> view;
    std::vector<int> reported;
};

TEST_F(TypingViewTest, RightOrCloseAnswerShowsItsResultAndReportsOnce)
{
    make("apple");
    // The learner can type at once: the answer field has the focus.
    EXPECT_EQ(QApplication::focusWidget(), field());
    answer("   "); // blank
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(shown(), "submitButton [answerField]");
    QTest::keyClicks(field(), "apple");
    EXPECT_EQ(shown(), "submitButton [answerField] [submitButton]");
    QTest::mouseClick(button("submitButton"), Qt::LeftButton);
    EXPECT_EQ(reported, std::vector<int>{4});
    EXPECT_EQ(shown(), "resultBlock \"Correct!\" green");
    // Another Return or click reports nothing more.
    QTest::keyClick(view.get(), Qt::Key_Return);
    button("submitButton")->click();
    EXPECT_EQ(reported, std::vector<int>{4});

    // Return outside the fields is the default action.
    make("apple");
    QTest::keyClicks(field(), "aple");
    button("dontKnowButton")->setFocus();
    QTest::keyClick(button("dontKnowButton"), Qt::Key_Return);
    EXPECT_EQ(reported, std::vector<int>{3});
    EXPECT_EQ(shown(), "resultBlock \"Close!\" orange \"apple\"");
}

TEST_F(TypingViewTest, DontKnowThenConfirmReportsOneWithoutResult)
{
    make("bonjour");
    QTest::mouseClick(button("dontKnowButton"), Qt::LeftButton);
    EXPECT_EQ(shown(), "confirmationBlock \"bonjour\""); // no "Incorrect" without a result
    QTest::keyClicks(field("confirmField"), "Bonjour");
    EXPECT_EQ(shown(), "confirmationBlock \"bonjour\" [confirmButton]");
    QTest::mouseClick(button("confirmButton"), Qt::LeftButton);
    EXPECT_EQ(reported, std::vector<int>{1});
    EXPECT_EQ(shown(), "");
}

TEST_F(TypingViewTest, WrongAnswerMustBeConfirmedThenShowsIncorrect)
{
    make("apple");
    answer("pear");
    EXPECT_EQ(shown(), "confirmationBlock \"Incorrect\" red \"apple\"");
    // The learner goes on typing where the focus went: the confirmation field.
    QTest::keyClicks(QApplication::focusWidget(), "appl");
    EXPECT_EQ(field("confirmField")->text(), "appl");
    EXPECT_FALSE(button("confirmButton")->isEnabled());
    QTest::keyClick(field("confirmField"), Qt::Key_Return); // not close enough yet
    EXPECT_TRUE(reported.empty());
    QTest::keyClicks(field("confirmField"), "e");
    EXPECT_TRUE(button("confirmButton")->isEnabled());
    QTest::keyClick(field("confirmField"), Qt::Key_Return);
    EXPECT_EQ(reported, std::vector<int>{1});
    EXPECT_EQ(shown(), "resultBlock \"Incorrect\" red \"apple\"");
}

TEST_F(TypingViewTest, PartialMatchIsOfferedThenAcceptedOrMarkedWrong)
{
    make("big, large");
    answer("large");
    EXPECT_EQ(shown(), "partialMatchBlock \"Partial Match\" green \"large\" [answerField]");
    EXPECT_EQ(view->findChild<QLabel*>("partialFullAnswer")->text(), "big, large");
    QTest::mouseClick(button("acceptButton"), Qt::LeftButton);
    EXPECT_EQ(reported, std::vector<int>{4});
    EXPECT_EQ(shown(), "resultBlock \"Correct!\" green");

    make("big, large");
    answer("larg");
    EXPECT_EQ(shown(), "partialMatchBlock \"Partial Match\" orange \"large\" [answerField]");
    QTest::mouseClick(button("markWrongButton"), Qt::LeftButton);
    EXPECT_EQ(shown(), "confirmationBlock \"Incorrect\" red \"big, large\"");
    QTest::keyClicks(field("confirmField"), "big, large");
    QTest::mouseClick(button("confirmButton"), Qt::LeftButton);
    EXPECT_EQ(reported, std::vector<int>{1});
    EXPECT_EQ(shown(), "resultBlock \"Incorrect\" red \"big, large\"");
}

TEST_F(TypingViewTest, WrongResubmissionDuringTheOfferScrollsInsideTheCardPanel)
{
    make("big, large");
    view->setFixedHeight(340); // what the card panel gives it
    answer("larg");
    field()->clear();
    answer("zzz");
    // Both the offer and the confirmation are shown; the offer still counts.
    EXPECT_EQ(shown(), "partialMatchBlock \"Partial Match\" orange \"large\" confirmationBlock \"Incorrect\" red "
                       "\"big, large\"");
    EXPECT_GT(view->sizeHint().height(), 340);
    auto* scroll = view->findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    EXPECT_TRUE(waitUntil([&] { return scroll->verticalScrollBar()->maximum() > 0; }));
    // Nothing is squeezed: the last control keeps its full height.
    EXPECT_GE(button("confirmButton")->height(), button("confirmButton")->sizeHint().height());
    // The field that has the focus scrolls into view by itself.
    EXPECT_TRUE(waitUntil([&] {
        const QRect inViewport(field("confirmField")->mapTo(scroll->viewport(), QPoint()), field("confirmField")->size());
        return scroll->viewport()->rect().contains(inViewport);
    }));
    QTest::mouseClick(button("acceptButton"), Qt::LeftButton);
    EXPECT_EQ(reported, std::vector<int>{3});
}

// Whatever way the learner reaches a state, the keys they type next land in
// the field that state asks for, never on a button that records an answer.
TEST_F(TypingViewTest, KeysTypedAfterEachStepGoToTheFieldNotToADecisionButton)
{
    struct Path {
        const char* expected;
        // Space-separated steps: "type:<text>" then Return in the focused
        // field, "clear", or a button clicked with the mouse.
        const char* steps;
        const char* field; // where the focus must be afterwards
    };
    const Path paths[] = {
        {"big, large", "type:larg clear type:zzz", "confirmField"}, // wrong again during the offer
        {"big, large", "type:larg markWrongButton", "confirmField"},
        {"big, large", "type:larg clear type:zzz markWrongButton", "confirmField"},
        {"apple", "dontKnowButton", "confirmField"},
        {"apple", "type:pear", "confirmField"},
        {"big, large", "click:larg", "answerField"}, // the offer came from a click on Submit
        {"big, large", "click:larg clear type:zzz", "confirmField"},
    };
    for (const Path& p : paths) {
        SCOPED_TRACE(p.steps);
        make(p.expected);
        for (const QString& step : QString(p.steps).split(u' ')) {
            if (step == "clear") {
                field()->clear();
            } else if (step.startsWith("type:")) {
                QTest::keyClicks(QApplication::focusWidget(), step.mid(5));
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            } else if (step.startsWith("click:")) {
                QTest::keyClicks(field(), step.mid(6));
                QTest::mouseClick(button("submitButton"), Qt::LeftButton);
            } else {
                QTest::mouseClick(button(step.toLatin1().constData()), Qt::LeftButton);
            }
        }
        EXPECT_EQ(QApplication::focusWidget(), child(p.field)) << QApplication::focusWidget()->objectName().toStdString();
        const QString before = field(p.field)->text();
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Space})
            QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_TRUE(reported.empty());
        EXPECT_EQ(field(p.field)->text(), before + "  ");
    }
}

TEST_F(TypingViewTest, CardTextIsNeverMarkup)
{
    make("<b>bold</b>", "<i>x</i>");
    EXPECT_EQ(view->findChild<QLabel*>("promptText")->text(), "<i>x</i>");
    EXPECT_EQ(view->findChild<QLabel*>("confirmExpected")->text(), "<b>bold</b>");
    for (const char* name : {"promptText", "confirmExpected", "partialFullAnswer", "resultDetail"})
        EXPECT_EQ(view->findChild<QLabel*>(name)->textFormat(), Qt::PlainText) << name;
}

} // namespace
