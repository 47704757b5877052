#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

// Multiple-choice form of a card review: the learner picks one option and the
// view reports quality 4 (right) or 1 (wrong) through onAnswer, exactly once.
class QuizView : public QWidget {
    Q_OBJECT
public:
    QuizView(const QString& question, const QStringList& options, const QString& correctAnswer,
             std::function<void(int)> onAnswer, QWidget* parent = nullptr);
    ~QuizView() override;

private:
    void pick(int index);

    QString m_question;
    QStringList m_options;
    QString m_correctAnswer;
    std::function<void(int)> m_onAnswer;
    bool m_submitted = false;
    int m_selected = -1;
};
