#pragma once
#include <QWidget>

#include <functional>

// The quick note form shown in the floating panel (420 x 480).
class QuickNoteView : public QWidget {
    Q_OBJECT
public:
    explicit QuickNoteView(std::function<void()> onDismiss, QWidget* parent = nullptr);
    ~QuickNoteView() override;

private:
    std::function<void()> onDismiss_;
};
