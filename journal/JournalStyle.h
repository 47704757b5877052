#pragma once
// Shared looks of the notes and journal forms: named text styles scaled
// from the application font, the accent colours and the glyphs standing in
// for the forms' icons.

#include <QColor>
#include <QFont>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>

namespace JournalStyle {

enum class TextStyle { title2, title3, headline, subheadline, body, caption, caption2 };

QFont textFont(TextStyle style, const QFont& base = QFont());
QFont monospaced(TextStyle style);

QColor orange();
QColor purple();
QColor green();
QColor red();
QColor secondary();

// An icon drawn from one glyph, for buttons.
QIcon glyphIcon(const QString& text, const QColor& color, int pixelSize = 14);

// A label showing one glyph at a pixel size, in a colour.
QLabel* glyph(const QString& text, int pixelSize, const QColor& color, QWidget* parent = nullptr);

// The style of a bordered and of a prominent (filled accent) button.
void makeBordered(QPushButton* button);
void makeProminent(QPushButton* button);

// The two-segment "Edit" / "Preview" control; returns its row.
QHBoxLayout* editPreviewSegments(QWidget* parent, QPushButton*& edit, QPushButton*& preview);
// A label in a colour, style and text format plain.
void tint(QWidget* widget, const QColor& color);

// A button that can show a small progress indicator in place of its label.
class BusyButton : public QPushButton {
public:
    explicit BusyButton(const QString& text, QWidget* parent = nullptr);
    void setBusy(bool busy);
    bool isBusy() const { return busy_; }
    QString label() const { return label_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString label_;
    QProgressBar* indicator_;
    bool busy_ = false;
};

} // namespace JournalStyle
