#include "review/TypingState.h"

#include "review/SoundEffects.h"

#include <QStringList>

#include <algorithm>

using namespace AnswerMatching;

TypingState::TypingState(const QString& expectedAnswer, std::function<void(int)> onAnswer)
    : m_expectedAnswer(expectedAnswer)
    , m_onAnswer(std::move(onAnswer))
{
}

bool TypingState::canSubmit() const
{
    return !trimHorizontal(m_input).isEmpty();
}

bool TypingState::canConfirm() const
{
    return similarity(trimHorizontal(m_confirmInput), m_expectedAnswer) >= correctThreshold;
}

void TypingState::handleSubmit()
{
    const QString typed = trimHorizontal(m_input);
    // In confirmation the answer field is disabled; a Return still queued for
    // it must not classify the answer a second time.
    if (typed.isEmpty() || m_submitted || m_confirmMode)
        return;

    double best = similarity(typed, m_expectedAnswer);
    const QString stripped = stripPOS(m_expectedAnswer);
    if (!canonicallyEqual(stripped, m_expectedAnswer))
        best = std::max(best, similarity(typed, stripped));

    const TypingResult result = classify(best);
    m_result = result;
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
    for (const QString& part : splitIntoParts(m_expectedAnswer)) {
        const double score = similarity(typed, part);
        if (score > bestPartScore) {
            bestPartScore = score;
            bestPart = part;
        }
    }
    if (bestPartScore >= closeThreshold) {
        m_recommendCorrect = true;
        m_recommendedQuality = bestPartScore >= correctThreshold ? 4 : 3;
        m_matchedPart = bestPart;
        return;
    }

    SoundEffects::playIncorrect();
    m_pendingQuality = 1;
    m_confirmMode = true;
}

void TypingState::dontKnow()
{
    if (!showsActionRow())
        return;
    m_confirmMode = true;
}

void TypingState::acceptPartialMatch()
{
    if (m_submitted || !m_recommendCorrect)
        return;
    const bool right = m_recommendedQuality >= 4;
    m_result = right ? TypingResult::correct : TypingResult::close;
    if (right)
        SoundEffects::playCorrect();
    else
        SoundEffects::playIncorrect();
    report(m_recommendedQuality);
}

void TypingState::markWrong()
{
    if (m_submitted || !m_recommendCorrect)
        return;
    m_recommendCorrect = false;
    m_result = TypingResult::wrong;
    SoundEffects::playIncorrect();
    m_pendingQuality = 1;
    m_confirmMode = true;
}

void TypingState::confirm()
{
    if (m_submitted || !m_confirmMode || !canConfirm())
        return;
    report(m_pendingQuality);
}

void TypingState::report(int quality)
{
    m_submitted = true;
    if (m_onAnswer)
        m_onAnswer(quality);
}
