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

    const TypingState& state() const { return m_state; }

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

    QString m_prompt;
    std::function<void(int)> m_onAnswer;
    TypingState m_state;

    QScrollArea* m_scroll = nullptr;
    QWidget* m_content = nullptr;
    PromptPanel* m_promptPanel = nullptr;
    QLineEdit* m_answerField = nullptr;
    QWidget* m_actionRow = nullptr;
    QPushButton* m_submitButton = nullptr;
    QPushButton* m_dontKnowButton = nullptr;

    QWidget* m_partialBlock = nullptr;
    GlyphLabel* m_partialIcon = nullptr;
    QLabel* m_partialTitle = nullptr;
    QLabel* m_matchedPart = nullptr;
    QPushButton* m_acceptButton = nullptr;
    QPushButton* m_markWrongButton = nullptr;

    QWidget* m_confirmBlock = nullptr;
    QWidget* m_confirmHeader = nullptr;
    QLineEdit* m_confirmField = nullptr;
    QPushButton* m_confirmButton = nullptr;

    RoundedPanel* m_resultBlock = nullptr;
    GlyphLabel* m_resultIcon = nullptr;
    QLabel* m_resultTitle = nullptr;
    QLabel* m_resultDetail = nullptr;
};
