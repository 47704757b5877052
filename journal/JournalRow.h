#pragma once
// One entry in the journal browser's list: its title, date and first tags.
// A tap opens it; the context menu edits or deletes it.

#include "api/JournalRecords.h"

#include <QFrame>

class JournalRow : public QFrame {
    Q_OBJECT
public:
    explicit JournalRow(const JournalEntryData& entry, QWidget* parent = nullptr);

    // The look of the rows, for the widget that holds them all: a sheet per
    // row would cost a style object per row on every keystroke.
    static QString styleSheet();

signals:
    void openRequested();
    void deleteRequested();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
