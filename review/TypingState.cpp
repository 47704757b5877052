#include "review/TypingState.h"

#include "review/SoundEffects.h"

#include <QStringList>

#include <algorithm>

using namespace AnswerMatching;

TypingState::TypingState(const QString& expectedAnswer, std::function<void(int)> onAnswer)
    : expectedAnswer_(expectedAnswer)
    , onAnswer_(std::move(onAnswer))
{
}

bool TypingState::canSubmit() const
{
    return !trimHorizontal(input_).isEmpty();
}

bool TypingState::canConfirm() const
{
    return similarity(trimHorizontal(confirmInput_), expectedAnswer_) >= correctThreshold;
}

void TypingState::handleSubmit()
{
    const QString typed = trimHorizontal(input_);
    // In confirmation the answer field is disabled; a Return still queued for
    // it must not classify the answer a second time.
    if (typed.isEmpty() || submitted_ || confirmMode_)
        return;

    double best = similarity(typed, expectedAnswer_);
    const QString stripped = stripPOS(expectedAnswer_);
    if (!canonicallyEqual(stripped, expectedAnswer_))
        best = std::max(best, similarity(typed, stripped));

    const TypingResult result = classify(best);
    result_ = result;
    if (result != TypingResult::wrong) {
        if (result == TypingResult::correct)
            SoundEffects::playCorrect();
        else
            SoundEffects::playIncorrect();
        report(qualityFor(result));
        return;
    }

    // Wrong as a whole; maybe the learner gave one of several accepted parts.
    double bestPartScore = 0.0;
    QString bestPart;
    for (const QString& part : splitIntoParts(expectedAnswer_)) {
        const double score = similarity(typed, part);
        if (score > bestPartScore) {
            bestPartScore = score;
            bestPart = part;
        }
    }
    if (bestPartScore >= closeThreshold) {
        recommendCorrect_ = true;
        recommendedQuality_ = bestPartScore >= correctThreshold ? 4 : 3;
        matchedPart_ = bestPart;
        return;
    }

    SoundEffects::playIncorrect();
    pendingQuality_ = 1;
    confirmMode_ = true;
}

void TypingState::dontKnow()
{
    if (!showsActionRow())
        return;
    confirmMode_ = true;
}

void TypingState::acceptPartialMatch()
{
    if (submitted_ || !recommendCorrect_)
        return;
    const bool right = recommendedQuality_ >= 4;
    result_ = right ? TypingResult::correct : TypingResult::close;
    if (right)
        SoundEffects::playCorrect();
    else
        SoundEffects::playIncorrect();
    report(recommendedQuality_);
}

void TypingState::markWrong()
{
    if (submitted_ || !recommendCorrect_)
        return;
    recommendCorrect_ = false;
    result_ = TypingResult::wrong;
    SoundEffects::playIncorrect();
    pendingQuality_ = 1;
    confirmMode_ = true;
}

void TypingState::confirm()
{
    if (submitted_ || !confirmMode_ || !canConfirm())
        return;
    report(pendingQuality_);
}

void TypingState::report(int quality)
{
    submitted_ = true;
    if (onAnswer_)
        onAnswer_(quality);
}
