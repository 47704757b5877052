#include "QuizView.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QuizView::QuizView(const QString& question, const QStringList& options, const QString& correctAnswer,
                   std::function<void(int)> onAnswer, QWidget* parent)
    : QWidget(parent)
    , m_question(question)
    , m_options(options)
    , m_correctAnswer(correctAnswer)
    , m_onAnswer(std::move(onAnswer))
{
    setFixedSize(420, 340);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(question, this));
    for (int i = 0; i < options.size(); ++i) {
        auto* button = new QPushButton(options.at(i), this);
        connect(button, &QPushButton::clicked, this, [this, i] { pick(i); });
        layout->addWidget(button);
    }
}

QuizView::~QuizView() = default;

void QuizView::pick(int index)
{
    if (m_submitted)
        return;
    m_submitted = true;
    m_selected = index;
    const bool right = m_options.at(index).normalized(QString::NormalizationForm_C)
        == m_correctAnswer.normalized(QString::NormalizationForm_C);
    if (m_onAnswer)
        m_onAnswer(right ? 4 : 1);
}
