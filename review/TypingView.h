#pragma once

#include <QWidget>

#include <functional>

// Typed-answer form of a card review: the typed text is matched leniently
// against the expected answer; onAnswer receives 4, 3 or 1, at most once.
class TypingView : public QWidget {
    Q_OBJECT
public:
    TypingView(const QString& prompt, const QString& expectedAnswer, std::function<void(int)> onAnswer,
               QWidget* parent = nullptr);
    ~TypingView() override;

private:
    QString m_prompt;
    QString m_expectedAnswer;
    std::function<void(int)> m_onAnswer;
};
