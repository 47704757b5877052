#pragma once

#include "review/TypingState.h"

#include <QWidget>

#include <functional>

class GlyphLabel;
class PromptPanel;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class RoundedPanel;
class SpeechChannel;

// Typed-answer form of a card review: the typed text is matched leniently
// against the expected answer; onAnswer receives 4, 3 or 1, at most once.
// A wrong answer (or "Don't Know") must be confirmed by typing the expected
// answer before it is reported.
class TypingView : public QWidget {
    Q_OBJECT
public:
    TypingView(const QString& prompt, const QString& expectedAnswer, std::function<void(int)> onAnswer,
               QWidget* parent = nullptr);
    ~TypingView() override;

    const TypingState& state() const { return state_; }

    // As tall as the content wants (at least 340); given less, it scrolls.
    QSize sizeHint() const override;

    // Speech of all typed-answer views, one process at a time.
    static void speak(const QString& text);
    static SpeechChannel& speechChannel();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void run(void (TypingState::*action)());
    void refresh();
    QWidget* buildActionRow();
    QWidget* buildPartialMatchBlock();
    QWidget* buildConfirmationBlock();
    RoundedPanel* buildResultBlock();

    QString prompt_;
    std::function<void(int)> onAnswer_;
    TypingState state_;

    QScrollArea* scroll_ = nullptr;
    QWidget* content_ = nullptr;
    PromptPanel* promptPanel_ = nullptr;
    QLineEdit* answerField_ = nullptr;
    QWidget* actionRow_ = nullptr;
    QPushButton* submitButton_ = nullptr;
    QPushButton* dontKnowButton_ = nullptr;

    QWidget* partialBlock_ = nullptr;
    GlyphLabel* partialIcon_ = nullptr;
    QLabel* partialTitle_ = nullptr;
    QLabel* matchedPart_ = nullptr;
    QPushButton* acceptButton_ = nullptr;
    QPushButton* markWrongButton_ = nullptr;

    QWidget* confirmBlock_ = nullptr;
    QWidget* confirmHeader_ = nullptr;
    QLineEdit* confirmField_ = nullptr;
    QPushButton* confirmButton_ = nullptr;

    RoundedPanel* resultBlock_ = nullptr;
    GlyphLabel* resultIcon_ = nullptr;
    QLabel* resultTitle_ = nullptr;
    QLabel* resultDetail_ = nullptr;
};
