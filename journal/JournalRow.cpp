#include "journal/JournalRow.h"

#include "journal/JournalText.h"
#include "ui/Glyphs.h"
#include "ui/Theme.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>

using namespace Theme;

namespace {

// Tags shown as chips; the rest are counted as "+N".
constexpr qsizetype chipCount = 4;

} // namespace

JournalRow::JournalRow(const JournalEntryData& entry, QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("entryRow"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(entry.title);

    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(10, 10, 10, 10);
    col->setSpacing(4);

    auto* top = new QHBoxLayout;
    auto* title = new QLabel(this);
    title->setObjectName(QStringLiteral("rowTitle"));
    title->setTextFormat(Qt::PlainText);
    title->setFont(Theme::font(TextStyle::headline));
    const QString firstLine = entry.title.section(QLatin1Char('\n'), 0, 0);
    title->setText(QFontMetrics(title->font()).elidedText(firstLine, Qt::ElideRight, entry.insertedAt ? 250 : 340));
    title->setToolTip(entry.title);
    top->addWidget(title, 1);
    if (entry.insertedAt) {
        auto* date = new QLabel(JournalText::formatEntryDate(*entry.insertedAt), this);
        date->setObjectName(QStringLiteral("rowDate"));
        date->setTextFormat(Qt::PlainText);
        date->setFont(Theme::font(TextStyle::caption));
        setTextColour(date, secondaryText());
        top->addWidget(date);
    }
    col->addLayout(top);

    if (entry.tags && !entry.tags->isEmpty()) {
        auto* chips = new QHBoxLayout;
        chips->setSpacing(4);
        const QStringList& tags = *entry.tags;
        for (qsizetype i = 0; i < qMin(chipCount, tags.size()); ++i) {
            auto* chip = new QLabel(this);
            chip->setObjectName(QStringLiteral("tagChip"));
            chip->setTextFormat(Qt::PlainText);
            chip->setFont(Theme::font(TextStyle::caption2));
            chip->setText(QFontMetrics(chip->font()).elidedText(tags.at(i), Qt::ElideRight, 80));
            chips->addWidget(chip);
        }
        if (tags.size() > chipCount) {
            auto* more = new QLabel(QStringLiteral("+%1").arg(tags.size() - chipCount), this);
            more->setObjectName(QStringLiteral("moreTags"));
            more->setFont(Theme::font(TextStyle::caption2));
            setTextColour(more, secondaryText());
            chips->addWidget(more);
        }
        chips->addStretch(1);
        col->addLayout(chips);
    }
}

QString JournalRow::styleSheet()
{
    return QStringLiteral("QFrame#entryRow { background: palette(base); border: 1px solid palette(midlight);"
                          " border-radius: 8px; }"
                          "QFrame#entryRow:focus { border: 2px solid %3; }"
                          "QLabel#tagChip { color: %1; background: %2; padding: 2px 6px;"
                          " border-radius: 4px; border: none; }"
                          "QLabel#rowTitle, QLabel#rowDate, QLabel#moreTags { border: none; background: transparent; }")
        .arg(accentText(orange()).name(), css(withAlpha(orange(), 0.15)), accent().name());
}

void JournalRow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit openRequested();
    QFrame::mouseReleaseEvent(event);
}

void JournalRow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace: emit deleteRequested(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: emit openRequested(); break;
    default: QFrame::keyPressEvent(event); return;
    }
    event->accept();
}

void JournalRow::contextMenuEvent(QContextMenuEvent* event)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("entryMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Edit"), this, &JournalRow::openRequested);
    menu->addSeparator();
    // Marked in red as the one that destroys something; the alert still asks.
    QAction* remove = menu->addAction(tr("Delete"), this, &JournalRow::deleteRequested);
    remove->setIcon(Glyphs::icon(Glyph::xmarkCircle, accentText(red(), menu->palette()), 16));
    menu->popup(event->globalPos());
}
