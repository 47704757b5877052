#pragma once
#include <QWidget>

#include <functional>

// The journal browser shown in the floating panel (420 x 520).
class JournalListView : public QWidget {
    Q_OBJECT
public:
    explicit JournalListView(std::function<void()> onDismiss, QWidget* parent = nullptr);
    ~JournalListView() override;

private:
    std::function<void()> onDismiss_;
};
