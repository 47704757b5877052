#include "JournalListView.h"

JournalListView::JournalListView(std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), onDismiss_(std::move(onDismiss))
{
    setFixedSize(420, 520);
}

JournalListView::~JournalListView() = default;
