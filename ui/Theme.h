#pragma once
// The one look of the agent's panels: the accent colours, the colours taken
// from the desktop's palette, the named text styles and the two push-button
// looks. Views ask here and define no colours or font sizes of their own.
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QString>

class QPushButton;
class QWidget;

namespace Theme {

// Accents, the same in every view.
QColor green();   // right answers, a saved note
QColor red();     // wrong answers, failures
QColor orange();  // close answers, the agent's own mark, journal accents
QColor purple();  // the standardize step
QColor accent();  // primary buttons and focus rings

QColor withAlpha(QColor colour, qreal alpha);

// An accent as the colour of text: the hue darkened (lightened on a dark
// palette) until it reads at 4.5:1 on the window, on the text fields and on
// the accent's own tinted fills.
QColor accentText(const QColor& hue, const QPalette& palette = QGuiApplication::palette());
// The fill of primary buttons: white text on it reads at 4.5:1.
QColor prominentFill();
// WCAG 2 contrast ratio of two opaque colours (1 to 21).
double contrast(const QColor& a, const QColor& b);
// `top` painted over the opaque `bottom`.
QColor over(const QColor& top, const QColor& bottom);

// The desktop's light or dark choice: the appearance portal's colour scheme
// when it has one, else the lightness of the palette's window colour.
bool isDark(const QPalette& palette = QGuiApplication::palette());
// Asks the desktop's settings portal for its colour scheme (asynchronously)
// and keeps following it: a dark choice on a light palette puts the agent on
// darkPalette(), a light one takes it back.
void followDesktop();
QPalette darkPalette();

// Taken from the desktop's palette.
QColor windowBackground(const QPalette& palette = QGuiApplication::palette());
QColor controlBackground(const QPalette& palette = QGuiApplication::palette());
QColor primaryText(const QPalette& palette = QGuiApplication::palette());
QColor secondaryText(const QPalette& palette = QGuiApplication::palette());
QColor separator(const QPalette& palette = QGuiApplication::palette());

// The colour a widget draws its text in.
void setTextColour(QWidget* widget, const QColor& colour);

// Named text styles, sized relative to each other as on the desktop the panels
// were designed for (body 13, title-2 17, title-3 15, headline 13 semibold),
// scaled to the application font.
enum class TextStyle { title2, title3, headline, subheadline, body, caption, caption2 };
QFont font(TextStyle style);
QFont monospaced(TextStyle style);

// The primary (filled with the accent) and the secondary button look.
void makeProminent(QPushButton* button);
void makeBordered(QPushButton* button);
// Single-line text fields with a rounded border.
QString textFieldStyle(const QPalette& palette = QGuiApplication::palette());
// "rgba(r, g, b, a)" for style sheets.
QString css(const QColor& colour);

} // namespace Theme
