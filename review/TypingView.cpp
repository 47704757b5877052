#include "TypingView.h"

#include <QLabel>
#include <QVBoxLayout>

TypingView::TypingView(const QString& prompt, const QString& expectedAnswer, std::function<void(int)> onAnswer,
                       QWidget* parent)
    : QWidget(parent)
    , m_prompt(prompt)
    , m_expectedAnswer(expectedAnswer)
    , m_onAnswer(std::move(onAnswer))
{
    setFixedWidth(420);
    setMinimumHeight(340);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(prompt, this));
}

TypingView::~TypingView() = default;
