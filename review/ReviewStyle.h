#pragma once

// Shared look of the review views: fonts, colours, painted glyphs and the
// rounded panels both views are built from.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

class QToolButton;

namespace ReviewStyle {

QColor green();
QColor red();
QColor orange();
QColor accent();
QColor withAlpha(QColor colour, qreal alpha);

QColor windowBackground(const QPalette& palette);
QColor controlBackground(const QPalette& palette);
QColor primaryLabel(const QPalette& palette);
QColor secondaryLabel(const QPalette& palette);
QColor separator(const QPalette& palette);

// Named text styles, sized relative to each other as on the desktop the
// cards were designed for (body 13, title-2 17, title-3 15, headline 13
// semibold, subheadline 11, caption 10), scaled to the application font.
QFont body();
QFont title2();
QFont title3();
QFont headline();
QFont subheadline();

enum class Glyph { checkmarkCircle, xmarkCircle, exclamationCircle, speaker };
QPixmap glyphPixmap(Glyph glyph, const QColor& colour, int size, qreal devicePixelRatio);
QIcon glyphIcon(Glyph glyph, const QColor& colour, int size);

// Stylesheets for the two push-button looks: filled with the accent colour,
// and a quiet grey "bordered" one.
QString prominentButtonStyle(const QPalette& palette);
QString borderedButtonStyle(const QPalette& palette);
QString textFieldStyle(const QPalette& palette);

} // namespace ReviewStyle

// A widget that paints a filled, optionally stroked rounded rectangle behind
// its children.
class RoundedPanel : public QWidget {
    Q_OBJECT
public:
    explicit RoundedPanel(qreal radius, QWidget* parent = nullptr);
    void setFill(const QColor& fill);
    void setBorder(const QColor& colour, qreal width);
    QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_radius;
    QColor m_fill;
    QColor m_border;
    qreal m_borderWidth = 0;
};

// A small label showing one painted glyph.
class GlyphLabel : public QLabel {
    Q_OBJECT
public:
    GlyphLabel(ReviewStyle::Glyph glyph, const QColor& colour, int size, QWidget* parent = nullptr);
    void setGlyph(ReviewStyle::Glyph glyph, const QColor& colour);
    ReviewStyle::Glyph glyph() const { return m_glyph; }
    QColor colour() const { return m_colour; }

private:
    ReviewStyle::Glyph m_glyph;
    QColor m_colour;
    int m_size;
};

// A text field with centred text that keeps showing its placeholder while it
// has the focus (Qt hides a centred placeholder under the cursor).
class CentredField : public QLineEdit {
    Q_OBJECT
public:
    explicit CentredField(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The card text at the top of both views, with the speaker button beside it.
class PromptPanel : public RoundedPanel {
    Q_OBJECT
public:
    PromptPanel(const QString& text, QWidget* parent = nullptr);
    QLabel* label() const { return m_label; }
    QToolButton* speakerButton() const { return m_speaker; }

signals:
    void speakRequested();

private:
    QLabel* m_label;
    QToolButton* m_speaker;
};
