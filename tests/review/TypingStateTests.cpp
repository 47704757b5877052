// The decision procedure of a typed answer, driven without widgets.
#include "review/TypingState.h"

#include "SoundRecorder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TypingStateTest : public testing::Test {
public:
    // A fresh review, then the learner's steps, separated by "|": an answer typed
    // and submitted, "accept", "mark wrong", "don't know", or "confirm <what was typed>".
    void walk(const char* expected, const char* steps)
    {
        reported.clear();
        sounds.played.clear();
        state.emplace(expected, [this](int quality) {
            // The reported state must already be final when the owner hears of it.
            EXPECT_TRUE(state->submitted());
            reported.push_back(quality);
        });
        for (const QString& step : QString(steps).split(u'|')) {
            if (step == u"accept")
                state->acceptPartialMatch();
            else if (step == u"mark wrong")
                state->markWrong();
            else if (step == u"don't know")
                state->dontKnow();
            else if (step.startsWith(u"confirm ")) {
                state->setConfirmInput(step.mid(8));
                state->confirm();
            } else {
                state->setInput(step);
                state->handleSubmit();
            }
        }
    }
    // What came of it: the reports, the sounds, the result, the offer, then
    // every flag the view acts on that is set.
    std::string outcome() const
    {
        QStringList out;
        for (int quality : reported)
            out << QStringLiteral("reported %1").arg(quality);
        for (auto sound : sounds.played)
            out << QLatin1String(sound == correctSound ? "heard correct" : "heard incorrect");
        if (const auto result = state->result())
            out << QLatin1String(*result == TypingResult::correct ? "result correct"
                                 : *result == TypingResult::close ? "result close"
                                                                  : "result wrong");
        if (state->recommendCorrect())
            out << QStringLiteral("offer %1 at %2").arg(state->matchedPart()).arg(state->recommendedQuality());
        const std::pair<bool, const char*> flagged[] = {
            {state->submitted(), "submitted"},       {state->confirmMode(), "confirming"},
            {state->recommendCorrect(), "recommending"}, {state->answerFieldEnabled(), "field"},
            {state->showsActionRow(), "actions"},    {state->showsPartialMatch(), "offer"},
            {state->showsConfirmation(), "confirmation"}, {state->showsResult(), "result"}};
        QStringList flags;
        for (const auto& [set, name] : flagged) {
            if (set)
                flags << QLatin1String(name);
        }
        return (out << flags.join(u' ')).join(QStringLiteral("; ")).toStdString();
    }

    SoundRecorder sounds;
    std::optional<TypingState> state;
    std::vector<int> reported;
};

TEST_F(TypingStateTest, LearnerWalks)
{
    const char* const right = "reported 4; heard correct; result correct; submitted result";
    const char* const close = "reported 3; heard incorrect; result close; submitted result";
    const char* const confirming = "heard incorrect; result wrong; confirming confirmation";
    const char* const confirmed = "reported 1; heard incorrect; result wrong; submitted confirming result";
    struct Row {
        const char* expected;
        const char* steps;
        const char* outcome;
    };
    const Row rows[] = {
        // Right and close answers report at once.
        {"apple", "apple", right},
        {"abcdefghij", "abcdefghiX", right}, // exactly 0.9
        {"apple (n.)", "apple", right},
        {"apple", "aple", close},
        {"apple", "appel", close}, // exactly 0.6
        {"to run (v.)", "to rn", close}, // close to the answer without its marker
        // Blank input is ignored entirely.
        {"apple", "| |\t \u00A0\u3000", "field actions"},
        {"apple", "\n", confirming}, // a line feed is no horizontal whitespace, so it is an answer
        // Wrong answers must be confirmed with a score of 0.9 against the stored answer.
        {"apple", "pear", confirming},
        {"large", "big", confirming},                     // a single part without parenthesis offers nothing
        {"big, large", "lxxxe", confirming},              // 0.4 against "large"
        {"to fall, to drop (v.)", "to drop", confirming}, // parts lose only leading markers: at best 7/12
        {"apple", "pear|confirm appl", confirming},
        {"apple", "pear|confirm   APPLE\t", confirmed},
        {"abcdefghij", "zzz|confirm abcdefghXY", confirming},
        {"abcdefghij", "zzz|confirm abcdefghiX", confirmed}, // exactly 0.9
        {"apple (n.)", "zzz|confirm apple", confirming},     // the marker counts
        {"apple (n.)", "zzz|confirm apple (n.)", confirmed},
        {"apple", "pear|apple", confirming}, // a Return queued for the field disabled by the confirmation
        {"apple", "confirm apple", "field actions"},
        // "Don't Know" confirms without result or sound.
        {"bonjour", "don't know", "confirming confirmation"},
        {"bonjour", "don't know|confirm Bonjour", "reported 1; submitted confirming"},
        // A partial match is offered, the best and earliest part, without sound or report.
        {"big, large", "large|don't know", "result wrong; offer large at 4; recommending field offer"}, // no action row
        {"(n.) apple, (v.) to fall", "(n.) apple", "result wrong; offer (n.) apple at 4; recommending field offer"},
        {"cat, bat", "hat", "result wrong; offer cat at 3; recommending field offer"},
        {"(n.) apple", "apple", "result wrong; offer apple at 4; recommending field offer"},
        // Accepting it reports its quality.
        {"big, large", "large|accept",
         "reported 4; heard correct; result correct; offer large at 4; submitted recommending result"},
        {"big, large", "larg|accept",
         "reported 3; heard incorrect; result close; offer large at 3; submitted recommending result"},
        {"x and y, abcdefghij", "abcdefghiX|accept", // exactly 0.9
         "reported 4; heard correct; result correct; offer abcdefghij at 4; submitted recommending result"},
        {"x and y, apple", "appel|accept", // exactly 0.6
         "reported 3; heard incorrect; result close; offer apple at 3; submitted recommending result"},
        // Rejecting it asks for confirmation, and the offer is gone.
        {"big, large", "larg|mark wrong", confirming},
        {"big, large", "larg|mark wrong|accept|confirm big, large", confirmed},
        // Submitting again during the offer decides afresh; a wrong answer keeps the offer beside the confirmation.
        {"big, large", "larg|big, large",
         "reported 4; heard correct; result correct; offer large at 3; submitted recommending result"},
        {"big, large", "larg|zzz",
         "heard incorrect; result wrong; offer large at 3; confirming recommending offer confirmation"},
        {"big, large", "larg|zzz|accept",
         "reported 3; heard incorrect; heard incorrect; result close; offer large at 3; submitted confirming "
         "recommending result"},
    };
    for (const Row& r : rows) {
        walk(r.expected, r.steps);
        EXPECT_EQ(outcome(), r.outcome) << r.expected << " / " << r.steps;
    }
}

TEST_F(TypingStateTest, NoSecondReportWhateverIsPressedAfterwards)
{
    const std::tuple<const char*, const char*, int> paths[] = {
        {"apple", "apple", 4},
        {"apple", "aple", 3},
        {"big, large", "large|accept", 4},
        {"apple", "pear|confirm apple", 1},
        {"big, large", "larg|zzz|confirm big, large", 1},
    };
    for (const auto& [expected, steps, quality] : paths) {
        walk(expected, steps);
        ASSERT_EQ(reported, std::vector<int>{quality}) << steps;
        const std::string before = outcome();
        // A quick second click, key or Return on every control there was, twice.
        const auto again = "|accept|confirm " + std::string(expected) + "|" + expected + "|mark wrong|don't know";
        walk(expected, (steps + again + again).c_str());
        EXPECT_EQ(outcome(), before) << steps;
    }
}

} // namespace
