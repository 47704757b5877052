// The decision procedure of a typed answer, driven without widgets.
#include "TypingState.h"

#include "SoundRecorder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QString u(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

class TypingStateTest : public testing::Test {
public:
    TypingState& start(const char* expected)
    {
        state.emplace(u(expected), [this](int quality) {
            // The reported state must already be final when the owner hears of it.
            EXPECT_TRUE(state->submitted());
            reported.push_back(quality);
        });
        return *state;
    }
    TypingState& submit(const char* typed)
    {
        state->setInput(u(typed));
        state->handleSubmit();
        return *state;
    }

    SoundRecorder sounds;
    std::optional<TypingState> state;
    std::vector<int> reported;
};

using Sounds = std::vector<SoundEffects::Sound>;
using Reports = std::vector<int>;

struct DirectCase {
    const char* name;
    const char* expected;
    const char* typed;
    TypingResult result;
    int quality;
    SoundEffects::Sound sound;
};

std::ostream& operator<<(std::ostream& out, const DirectCase& c)
{
    return out << c.name;
}

class ReportedAtOnce : public TypingStateTest, public testing::WithParamInterface<DirectCase> {};

TEST_P(ReportedAtOnce, RightAndCloseAnswersReportImmediately)
{
    const DirectCase& c = GetParam();
    start(c.expected);
    submit(c.typed);
    EXPECT_EQ(reported, Reports{c.quality});
    EXPECT_EQ(sounds.played, Sounds{c.sound});
    ASSERT_TRUE(state->result().has_value());
    EXPECT_EQ(*state->result(), c.result);
    EXPECT_TRUE(state->submitted());
    EXPECT_TRUE(state->showsResult());
    EXPECT_FALSE(state->showsActionRow());
    EXPECT_FALSE(state->answerFieldEnabled());
    EXPECT_FALSE(state->confirmMode());
    EXPECT_FALSE(state->recommendCorrect());
}

INSTANTIATE_TEST_SUITE_P(
    Decision, ReportedAtOnce,
    testing::Values(
        DirectCase{"exact", "apple", "apple", TypingResult::correct, 4, correctSound},
        DirectCase{"case_and_spaces", "  apple ", "Apple", TypingResult::correct, 4, correctSound},
        DirectCase{"typed_with_unicode_spaces", "apple", "\u3000apple\u00A0\t", TypingResult::correct, 4,
                   correctSound},
        DirectCase{"exactly_point_nine_is_correct", "abcdefghij", "abcdefghiX", TypingResult::correct, 4,
                   correctSound},
        DirectCase{"marker_stripped", "apple (n.)", "apple", TypingResult::correct, 4, correctSound},
        DirectCase{"decomposed_accent", "caf\u00E9", "cafe\u0301", TypingResult::correct, 4, correctSound},
        DirectCase{"close_plays_the_incorrect_sound", "apple", "aple", TypingResult::close, 3, incorrectSound},
        DirectCase{"exactly_point_six_is_close", "apple", "appel", TypingResult::close, 3, incorrectSound},
        DirectCase{"trailing_line_feed_costs_an_edit", "apple", "apple\n", TypingResult::close, 3,
                   incorrectSound},
        DirectCase{"close_to_the_stripped_answer", "to run (v.)", "to rn", TypingResult::close, 3,
                   incorrectSound}));

TEST_F(TypingStateTest, StartsAnswering)
{
    start("apple");
    EXPECT_FALSE(state->submitted());
    EXPECT_FALSE(state->result().has_value());
    EXPECT_FALSE(state->confirmMode());
    EXPECT_EQ(state->pendingQuality(), 1);
    EXPECT_FALSE(state->recommendCorrect());
    EXPECT_EQ(state->recommendedQuality(), 3);
    EXPECT_TRUE(state->matchedPart().isEmpty());
    EXPECT_TRUE(state->showsActionRow());
    EXPECT_TRUE(state->answerFieldEnabled());
    EXPECT_FALSE(state->canSubmit());
}

TEST_F(TypingStateTest, EmptyOrBlankInputIsIgnoredEntirely)
{
    start("apple");
    for (const char* typed : {"", " ", "\t \u00A0\u3000"}) {
        submit(typed);
        EXPECT_FALSE(state->canSubmit()) << typed;
    }
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(sounds.played.empty());
    EXPECT_FALSE(state->result().has_value());
    EXPECT_FALSE(state->confirmMode());
    EXPECT_TRUE(state->showsActionRow());
    // A line feed is not horizontal whitespace, so it counts as an answer.
    state->setInput(u("\n"));
    EXPECT_TRUE(state->canSubmit());
}

TEST_F(TypingStateTest, WrongAnswerWithoutPartsGoesToConfirmation)
{
    start("apple");
    submit("pear");
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    EXPECT_EQ(state->result(), TypingResult::wrong);
    EXPECT_TRUE(state->confirmMode());
    EXPECT_EQ(state->pendingQuality(), 1);
    EXPECT_FALSE(state->recommendCorrect());
    EXPECT_FALSE(state->answerFieldEnabled());
    EXPECT_TRUE(state->showsConfirmation());
    EXPECT_FALSE(state->showsActionRow());

    // Confirmation needs a score of at least 0.9 against the stored answer.
    state->setConfirmInput(u("appl"));
    EXPECT_FALSE(state->canConfirm());
    state->confirm();
    EXPECT_TRUE(reported.empty());
    state->setConfirmInput(u("  APPLE\t"));
    EXPECT_TRUE(state->canConfirm());
    state->confirm();
    EXPECT_EQ(reported, Reports{1});
    EXPECT_TRUE(state->showsResult());
    EXPECT_EQ(state->result(), TypingResult::wrong);
    EXPECT_FALSE(state->showsConfirmation());
    EXPECT_EQ(sounds.played, Sounds{incorrectSound}); // confirming plays nothing
}

TEST_F(TypingStateTest, ConfirmationThresholdIsInclusive)
{
    start("abcdefghij");
    state->dontKnow();
    state->setConfirmInput(u("abcdefghXY")); // 0.8
    EXPECT_FALSE(state->canConfirm());
    state->setConfirmInput(u("abcdefghiX")); // exactly 0.9
    EXPECT_TRUE(state->canConfirm());
}

TEST_F(TypingStateTest, ConfirmationComparesWithTheMarkedAnswer)
{
    start("apple (n.)");
    state->dontKnow();
    state->setConfirmInput(u("apple"));
    EXPECT_FALSE(state->canConfirm()); // 0.5 against the stored text
    state->setConfirmInput(u("apple (n.)"));
    EXPECT_TRUE(state->canConfirm());
}

TEST_F(TypingStateTest, DontKnowConfirmsWithoutResultOrSound)
{
    start("bonjour");
    state->dontKnow();
    EXPECT_TRUE(state->confirmMode());
    EXPECT_FALSE(state->result().has_value());
    EXPECT_TRUE(sounds.played.empty());
    EXPECT_TRUE(reported.empty());
    EXPECT_FALSE(state->answerFieldEnabled());

    state->setConfirmInput(u("Bonjour"));
    ASSERT_TRUE(state->canConfirm());
    state->confirm();
    EXPECT_EQ(reported, Reports{1});
    EXPECT_TRUE(state->submitted());
    EXPECT_FALSE(state->showsResult()); // no result after "Don't Know"
    EXPECT_TRUE(sounds.played.empty());
}

TEST_F(TypingStateTest, PartialMatchIsOfferedWithoutSoundOrReport)
{
    start("big, large");
    submit("large");
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(sounds.played.empty());
    EXPECT_TRUE(state->recommendCorrect());
    EXPECT_EQ(state->recommendedQuality(), 4);
    EXPECT_EQ(state->matchedPart(), u("large"));
    EXPECT_EQ(state->result(), TypingResult::wrong);
    EXPECT_FALSE(state->submitted());
    EXPECT_FALSE(state->confirmMode());
    EXPECT_TRUE(state->answerFieldEnabled());
    EXPECT_TRUE(state->showsPartialMatch());
    EXPECT_FALSE(state->showsActionRow());

    state->acceptPartialMatch();
    EXPECT_EQ(reported, Reports{4});
    EXPECT_EQ(state->result(), TypingResult::correct);
    EXPECT_EQ(sounds.played, Sounds{correctSound});
    EXPECT_TRUE(state->showsResult());
    EXPECT_FALSE(state->showsPartialMatch());
}

TEST_F(TypingStateTest, AcceptedPartialMatchBelowPointNineIsClose)
{
    start("big, large");
    submit("larg"); // 0.8 against "large"
    EXPECT_EQ(state->recommendedQuality(), 3);
    EXPECT_EQ(state->matchedPart(), u("large"));
    state->acceptPartialMatch();
    EXPECT_EQ(reported, Reports{3});
    EXPECT_EQ(state->result(), TypingResult::close);
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
}

TEST_F(TypingStateTest, RejectedPartialMatchGoesToConfirmation)
{
    start("big, large");
    submit("larg");
    state->markWrong();
    EXPECT_FALSE(state->recommendCorrect());
    EXPECT_EQ(state->result(), TypingResult::wrong);
    EXPECT_TRUE(state->confirmMode());
    EXPECT_EQ(state->pendingQuality(), 1);
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    EXPECT_TRUE(reported.empty());
    EXPECT_FALSE(state->showsPartialMatch());

    state->acceptPartialMatch(); // no longer offered
    EXPECT_TRUE(reported.empty());
    state->setConfirmInput(u("big, large"));
    state->confirm();
    EXPECT_EQ(reported, Reports{1});
}

TEST_F(TypingStateTest, PartsLoseOnlyLeadingMarkers)
{
    // Whole 1/3, stripped 7/16, parts "to fall" 3/7 and "to drop (v.)" 7/12.
    start("to fall, to drop (v.)");
    submit("to drop");
    EXPECT_FALSE(state->recommendCorrect());
    EXPECT_TRUE(state->confirmMode());
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    EXPECT_TRUE(reported.empty());
}

TEST_F(TypingStateTest, MarkedPartIsPreferredToItsCleanedForm)
{
    start("(n.) apple, (v.) to fall");
    submit("(n.) apple"); // 10/24 on the whole answer
    EXPECT_TRUE(state->recommendCorrect());
    EXPECT_EQ(state->recommendedQuality(), 4);
    EXPECT_EQ(state->matchedPart(), u("(n.) apple"));
}

TEST_F(TypingStateTest, EarliestPartWinsATie)
{
    start("cat, bat");
    submit("hat"); // 2/3 against both parts
    EXPECT_TRUE(state->recommendCorrect());
    EXPECT_EQ(state->matchedPart(), u("cat"));
    EXPECT_EQ(state->recommendedQuality(), 3);
}

TEST_F(TypingStateTest, SinglePartWithoutParenthesisNeverOffersAPartialMatch)
{
    start("large");
    submit("big");
    EXPECT_FALSE(state->recommendCorrect());
    EXPECT_TRUE(state->confirmMode());
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
}

TEST_F(TypingStateTest, LeadingParenthesisMakesASinglePartMatchable)
{
    start("(n.) apple");
    submit("apple"); // parts: "apple"; direct 0.5, stripped unchanged
    EXPECT_TRUE(state->recommendCorrect());
    EXPECT_EQ(state->matchedPart(), u("apple"));
}

TEST_F(TypingStateTest, PartialMatchBelowPointSixGoesToConfirmation)
{
    start("big, large");
    submit("lxxxe"); // 0.4 against "large"
    EXPECT_FALSE(state->recommendCorrect());
    EXPECT_TRUE(state->confirmMode());
}

TEST_F(TypingStateTest, EditingDuringTheOfferSubmitsAgain)
{
    start("big, large");
    submit("larg");
    ASSERT_TRUE(state->recommendCorrect());
    submit("big, large");
    EXPECT_EQ(reported, Reports{4});
    EXPECT_EQ(state->result(), TypingResult::correct);
    EXPECT_EQ(sounds.played, Sounds{correctSound});
}

TEST_F(TypingStateTest, WrongResubmissionDuringTheOfferKeepsTheOfferBesideConfirmation)
{
    start("big, large");
    submit("larg");
    submit("zzz");
    EXPECT_TRUE(state->confirmMode());
    EXPECT_TRUE(state->recommendCorrect());
    EXPECT_TRUE(state->showsPartialMatch());
    EXPECT_TRUE(state->showsConfirmation());
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
    // The offer can still be taken.
    state->acceptPartialMatch();
    EXPECT_EQ(reported, Reports{3});
}

TEST_F(TypingStateTest, NoSecondReportWhateverIsPressedAfterwards)
{
    struct Path {
        const char* name;
        const char* expected;
        std::function<void(TypingStateTest&)> reach;
        int quality;
    };
    const std::vector<Path> paths = {
        {"correct", "apple", [](TypingStateTest& t) { t.submit("apple"); }, 4},
        {"close", "apple", [](TypingStateTest& t) { t.submit("aple"); }, 3},
        {"accepted", "big, large",
         [](TypingStateTest& t) {
             t.submit("large");
             t.state->acceptPartialMatch();
         },
         4},
        {"confirmed", "apple",
         [](TypingStateTest& t) {
             t.submit("pear");
             t.state->setConfirmInput(u("apple"));
             t.state->confirm();
         },
         1},
        {"confirmed_during_offer", "big, large",
         [](TypingStateTest& t) {
             t.submit("larg");
             t.submit("zzz");
             t.state->setConfirmInput(u("big, large"));
             t.state->confirm();
         },
         1},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        reported.clear();
        start(path.expected);
        path.reach(*this);
        ASSERT_EQ(reported, Reports{path.quality});
        const auto result = state->result();
        const size_t soundCount = sounds.played.size();

        // A quick second click, key or Return on every control there was.
        state->setConfirmInput(state->expectedAnswer());
        state->setInput(state->expectedAnswer());
        for (int round = 0; round < 2; ++round) {
            state->acceptPartialMatch();
            state->confirm();
            state->handleSubmit();
            state->markWrong();
            state->dontKnow();
        }
        EXPECT_EQ(reported, Reports{path.quality});
        EXPECT_EQ(state->result(), result);
        EXPECT_EQ(sounds.played.size(), soundCount);
        EXPECT_TRUE(state->submitted());
    }
}

TEST_F(TypingStateTest, ConfirmationFreezesTheClassification)
{
    start("apple");
    submit("pear");
    submit("apple"); // a Return queued for the now disabled field
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(state->result(), TypingResult::wrong);
    EXPECT_EQ(sounds.played, Sounds{incorrectSound});
}

TEST_F(TypingStateTest, DontKnowIsOnlyAvailableWhileAnswering)
{
    start("big, large");
    submit("larg");
    state->dontKnow(); // the action row is hidden during the offer
    EXPECT_FALSE(state->confirmMode());
    EXPECT_TRUE(state->showsPartialMatch());
}

TEST_F(TypingStateTest, ConfirmOutsideConfirmationDoesNothing)
{
    start("apple");
    state->setConfirmInput(u("apple"));
    state->confirm();
    EXPECT_TRUE(reported.empty());
    EXPECT_FALSE(state->submitted());
}

} // namespace
