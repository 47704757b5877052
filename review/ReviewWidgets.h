#pragma once
// The pieces both card views are built from.
#include "ui/Widgets.h"

#include <QLabel>
#include <QLineEdit>

class QToolButton;

// A text field with centred text whose placeholder stays in view while it has
// the focus, with the cursor at the placeholder's start.
class CentredField : public QLineEdit {
    Q_OBJECT
public:
    explicit CentredField(QWidget* parent = nullptr);
    // Lays the text out again after the placeholder was set.
    void placeText();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
};

// The card text at the top of both views, with the speaker button beside it.
class PromptPanel : public RoundedPanel {
    Q_OBJECT
public:
    PromptPanel(const QString& text, QWidget* parent = nullptr);
    QLabel* label() const { return label_; }
    QToolButton* speakerButton() const { return speaker_; }

signals:
    void speakRequested();

private:
    QLabel* label_;
    QToolButton* speaker_;
};
