#pragma once
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QSlider;

// The two bounds of the random popup delay, in whole minutes. Keeps nothing
// itself: Save hands (minimum, max(minimum + 5, maximum)) to onSave.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    SettingsView(int minMinutes, int maxMinutes, std::function<void(int, int)> onSave,
                 std::function<void()> onCancel, QWidget* parent = nullptr);

    int minMinutes() const { return minMinutes_; }
    int maxMinutes() const { return maxMinutes_; }

    QSlider* minSlider() const { return minSlider_; }
    QSlider* maxSlider() const { return maxSlider_; }
    QLabel* minLabel() const { return minLabel_; }
    QLabel* maxLabel() const { return maxLabel_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

    void save();
    void cancel();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateLabels();

    int minMinutes_;
    int maxMinutes_;
    std::function<void(int, int)> onSave_;
    std::function<void()> onCancel_;
    QLabel* minLabel_ = nullptr;
    QLabel* maxLabel_ = nullptr;
    QSlider* minSlider_ = nullptr;
    QSlider* maxSlider_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};
