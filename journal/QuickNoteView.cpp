#include "QuickNoteView.h"

QuickNoteView::QuickNoteView(std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), onDismiss_(std::move(onDismiss))
{
    setFixedSize(420, 480);
}

QuickNoteView::~QuickNoteView() = default;
