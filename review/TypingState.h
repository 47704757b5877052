#pragma once

#include "review/AnswerMatching.h"

#include <QString>

#include <functional>
#include <optional>

// The decision state of a typed-answer review, free of widgets: TypingView
// shows it and forwards the learner's actions to it. Every action refuses
// once a quality has been reported, so onAnswer runs at most once.
class TypingState {
public:
    TypingState(const QString& expectedAnswer, std::function<void(int)> onAnswer);

    // Learner input.
    void setInput(const QString& text) { m_input = text; }
    void setConfirmInput(const QString& text) { m_confirmInput = text; }

    // Actions. Each does nothing when it is not available in the current state.
    void handleSubmit();       // "Submit" or Return in the answer field
    void dontKnow();           // "Don't Know"
    void acceptPartialMatch(); // "Accept as Correct"
    void markWrong();          // "Mark Wrong"
    void confirm();            // "Confirm" or Return in the confirmation field

    // State.
    const QString& expectedAnswer() const { return m_expectedAnswer; }
    const QString& input() const { return m_input; }
    const QString& confirmInput() const { return m_confirmInput; }
    bool submitted() const { return m_submitted; }
    std::optional<TypingResult> result() const { return m_result; }
    bool confirmMode() const { return m_confirmMode; }
    int pendingQuality() const { return m_pendingQuality; }
    bool recommendCorrect() const { return m_recommendCorrect; }
    int recommendedQuality() const { return m_recommendedQuality; }
    const QString& matchedPart() const { return m_matchedPart; }

    // What the view shows and enables.
    bool canSubmit() const;
    bool canConfirm() const;
    bool answerFieldEnabled() const { return !m_submitted && !m_confirmMode; }
    bool showsActionRow() const { return !m_submitted && !m_confirmMode && !m_recommendCorrect; }
    bool showsPartialMatch() const { return !m_submitted && m_recommendCorrect; }
    bool showsConfirmation() const { return !m_submitted && m_confirmMode; }
    bool showsResult() const { return m_submitted && m_result.has_value(); }

private:
    void report(int quality);

    QString m_expectedAnswer;
    std::function<void(int)> m_onAnswer;

    QString m_input;
    bool m_submitted = false;
    std::optional<TypingResult> m_result;
    bool m_confirmMode = false;
    QString m_confirmInput;
    int m_pendingQuality = 1;
    bool m_recommendCorrect = false;
    int m_recommendedQuality = 3;
    QString m_matchedPart;
};
