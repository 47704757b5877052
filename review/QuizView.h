#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class OptionRow;
class PromptPanel;
class SpeechChannel;

// Multiple-choice form of a card review: the learner picks one option (by
// click or with the keys 1 to 4) and the view reports quality 4 (right) or 1
// (wrong) through onAnswer, exactly once.
class QuizView : public QWidget {
    Q_OBJECT
public:
    QuizView(const QString& question, const QStringList& options, const QString& correctAnswer,
             std::function<void(int)> onAnswer, QWidget* parent = nullptr);
    ~QuizView() override;

    // How an option row is drawn in the current state.
    struct RowAppearance {
        enum class Kind { unanswered, right, wrongPick, other };
        Kind kind;
        QColor text;
        QColor fill;
        QColor border;
        bool checkmark = false;
        bool cross = false;
    };
    RowAppearance rowAppearance(int index) const;

    bool submitted() const { return submitted_; }
    // Position of the picked option; options are kept by position because
    // the same text may appear more than once.
    std::optional<int> selectedIndex() const { return selected_; }

    // Picks the option at `index`, as its button or number key does.
    void pick(int index);

    // Speech of all multiple-choice views, one process at a time.
    static void speak(const QString& text);
    static SpeechChannel& speechChannel();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool isCorrect(int index) const;

    QString question_;
    QStringList options_;
    QString correctAnswer_;
    std::function<void(int)> onAnswer_;
    bool submitted_ = false;
    std::optional<int> selected_;

    PromptPanel* prompt_ = nullptr;
    QList<OptionRow*> rows_;
};
