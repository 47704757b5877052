#pragma once
// The small pictures of the panels, drawn by the agent itself rather than
// taken from an icon theme that may have nothing like them.
#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QPixmap>

enum class Glyph {
    checkmarkCircle,
    xmarkCircle,
    exclamationCircle,
    speaker,
    cards,       // the agent's mark: two overlapping cards
    note,        // the quick note
    book,        // the journal
    magnifier,   // search
    document,    // an empty journal
    chevronLeft, // back
    sparkles,    // the standardize step
    cross,       // close and clear
};

namespace Glyphs {
QPixmap pixmap(Glyph glyph, const QColor& colour, int size, qreal devicePixelRatio);
QIcon icon(Glyph glyph, const QColor& colour, int size);
} // namespace Glyphs

// A label showing one glyph at a fixed size.
class GlyphLabel : public QLabel {
    Q_OBJECT
public:
    GlyphLabel(Glyph glyph, const QColor& colour, int size, QWidget* parent = nullptr);
    void setGlyph(Glyph glyph, const QColor& colour);
    Glyph glyph() const { return glyph_; }
    QColor colour() const { return colour_; }

private:
    Glyph glyph_;
    QColor colour_;
    int size_;
};
