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
    void setInput(const QString& text) { input_ = text; }
    void setConfirmInput(const QString& text) { confirmInput_ = text; }

    // Actions. Each does nothing when it is not available in the current state.
    void handleSubmit();       // "Submit" or Return in the answer field
    void dontKnow();           // "Don't Know"
    void acceptPartialMatch(); // "Accept as Correct"
    void markWrong();          // "Mark Wrong"
    void confirm();            // "Confirm" or Return in the confirmation field

    // State.
    const QString& expectedAnswer() const { return expectedAnswer_; }
    const QString& input() const { return input_; }
    const QString& confirmInput() const { return confirmInput_; }
    bool submitted() const { return submitted_; }
    std::optional<TypingResult> result() const { return result_; }
    bool confirmMode() const { return confirmMode_; }
    int pendingQuality() const { return pendingQuality_; }
    bool recommendCorrect() const { return recommendCorrect_; }
    int recommendedQuality() const { return recommendedQuality_; }
    const QString& matchedPart() const { return matchedPart_; }

    // What the view shows and enables.
    bool canSubmit() const;
    bool canConfirm() const;
    bool answerFieldEnabled() const { return !submitted_ && !confirmMode_; }
    bool showsActionRow() const { return !submitted_ && !confirmMode_ && !recommendCorrect_; }
    bool showsPartialMatch() const { return !submitted_ && recommendCorrect_; }
    bool showsConfirmation() const { return !submitted_ && confirmMode_; }
    bool showsResult() const { return submitted_ && result_.has_value(); }

private:
    void report(int quality);

    QString expectedAnswer_;
    std::function<void(int)> onAnswer_;

    QString input_;
    bool submitted_ = false;
    std::optional<TypingResult> result_;
    bool confirmMode_ = false;
    QString confirmInput_;
    int pendingQuality_ = 1;
    bool recommendCorrect_ = false;
    int recommendedQuality_ = 3;
    QString matchedPart_;
};
