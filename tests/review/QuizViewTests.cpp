// The multiple-choice view driven like a learner would, under the offscreen platform.
#include "review/QuizView.h"
#include "SoundRecorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class QuizViewTest : public testing::Test {
protected:
    void make(const char* options, const char* correct)
    {
        sounds.played.clear();
        reported.clear();
        view = std::make_unique<QuizView>("le chat", QString(options).split(u'|'), correct, [this](int q) {
            EXPECT_TRUE(view->submitted()) << "reported before the state changed";
            EXPECT_EQ(sounds.played.size(), 1u) << "reported before the sound started";
            reported.push_back(q);
        });
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        QApplication::setActiveWindow(view.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }
    QAbstractButton* row(int index) const
    {
        return view->findChild<QAbstractButton*>(QStringLiteral("option%1").arg(index + 1));
    }
    // Each row as one letter: Unanswered, Right, Wrong pick or Other; a mark
    // follows when it shows one: + a check mark, x a cross.
    std::string rows() const
    {
        std::string out;
        for (int i = 0; row(i); ++i) {
            const auto look = view->rowAppearance(i);
            out += std::string(1, "URWO"[int(look.kind)]) + (look.checkmark ? "+" : "") + (look.cross ? "x" : "");
        }
        return out;
    }

    SoundRecorder sounds;
    std::unique_ptr<QuizView> view;
    std::vector<int> reported;
};

TEST_F(QuizViewTest, ShowsTheQuestionAndOneRowPerOptionInOrder)
{
    make("dog|cat|horse|bird", "cat");
    EXPECT_EQ(view->size(), QSize(420, 340));
    const auto* question = view->findChild<QLabel*>(QStringLiteral("promptText"));
    EXPECT_EQ(question->text(), "le chat");
    EXPECT_EQ(question->textFormat(), Qt::PlainText);
    int previousTop = -1;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(row(i)) << i;
        EXPECT_EQ(row(i)->text(), QStringList({"dog", "cat", "horse", "bird"}).at(i));
        EXPECT_GT(row(i)->y(), previousTop);
        EXPECT_LE(row(i)->geometry().bottom(), 340 - 24) << "row " << i << " does not fit";
        previousTop = row(i)->y();
    }
    EXPECT_EQ(rows(), "UUUU");
    EXPECT_TRUE(reported.empty());
    EXPECT_FALSE(view->selectedIndex().has_value());
}

TEST_F(QuizViewTest, OnePickByClickOrNumberKeyReportsOnce)
{
    struct Pick {
        const char* options;
        const char* correct;
        char by; // c: click, k: number key, p: keypad
        int index;
        int quality;
        const char* rows;
    };
    const Pick picks[] = {
        {"dog|cat|horse|bird", "cat", 'c', 1, 4, "OR+OO"},
        {"dog|cat|horse|bird", "cat", 'k', 0, 1, "WxR+OO"},
        {"dog|cat|horse|bird", "cat", 'p', 1, 4, "OR+OO"},
        {"dog|cat|horse|bird", "cat", 'k', 2, 1, "OR+WxO"},
        {"dog|cat|horse|bird", "cat", 'p', 3, 1, "OR+OWx"},
        {"Cat|dog", "cat", 'c', 0, 1, "WxO"},                      // letter case makes it wrong
        {"cafe\u0301|tea", "caf\u00E9", 'c', 0, 4, "R+O"},          // canonically equivalent
        {"dog|cat|horse|bird", "fish", 'c', 3, 1, "OOOWx"},         // no row turns green
        {"cat|dog|dog|cat", "cat", 'c', 2, 1, "R+OWxR+"},           // options are told apart by position
    };
    for (const Pick& p : picks) {
        SCOPED_TRACE(&p - picks);
        make(p.options, p.correct);
        // A row takes the keyboard through Tab only: a stray Space or Return answers nothing.
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return})
            QTest::keyClick(static_cast<QWidget*>(nullptr), key);
        EXPECT_TRUE(reported.empty());
        if (p.by == 'c')
            QTest::mouseClick(row(p.index), Qt::LeftButton);
        else
            QTest::keyClick(view.get(), Qt::Key(Qt::Key_1 + p.index),
                            p.by == 'p' ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(reported, std::vector<int>{p.quality});
        EXPECT_EQ(sounds.played, std::vector{p.quality == 4 ? correctSound : incorrectSound});
        EXPECT_EQ(view->selectedIndex(), p.index);
        EXPECT_EQ(rows(), p.rows);
        for (int i = 0; row(i); ++i)
            EXPECT_FALSE(row(i)->isEnabled());
        // A second click, or a key, changes nothing.
        QTest::mouseClick(row(p.index), Qt::LeftButton);
        QTest::mouseClick(row(0), Qt::LeftButton);
        view->pick(1);
        QTest::keyClick(view.get(), Qt::Key_1);
        EXPECT_EQ(reported, std::vector<int>{p.quality});
        EXPECT_EQ(sounds.played.size(), 1u);
        EXPECT_EQ(view->selectedIndex(), p.index);
    }
}

TEST_F(QuizViewTest, NumberKeysWorkAlsoInAnInactiveWindowAndOnlyForOptions)
{
    QuizView quiet("le chat", {"dog", "cat", "horse", "bird"}, "cat",
                   [this](int q) { reported.push_back(q); });
    quiet.show(); // never activated
    QTest::keyClick(&quiet, Qt::Key_5); // no fifth option
    QTest::keyClick(&quiet, Qt::Key_0);
    EXPECT_TRUE(reported.empty());
    QTest::keyClick(&quiet, Qt::Key_2);
    QTest::keyClick(&quiet, Qt::Key_2);
    EXPECT_EQ(reported, std::vector<int>{4});
    EXPECT_EQ(quiet.selectedIndex(), 1);
}

} // namespace
