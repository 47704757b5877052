#pragma once
// The journal browser shown in the floating panel (420 x 520): the learner's
// entries with a live search over titles and tags, an edit screen with the
// "AI Standardize" step, and deletion after a confirmation.

#include "api/JournalRecords.h"
#include "journal/JournalText.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class JournalEditScreen;

class JournalListView : public QWidget {
    Q_OBJECT
public:
    explicit JournalListView(std::function<void()> onDismiss, QWidget* parent = nullptr);
    ~JournalListView() override;

    struct ViewMode {
        bool editing = false;
        std::int64_t id = 0; // meaningful only while editing
        bool operator==(const ViewMode& o) const { return editing == o.editing && (!editing || id == o.id); }
    };

    ViewMode mode() const { return mode_; }
    const QList<JournalEntryData>& entries() const { return entries_; }
    QList<JournalEntryData> filteredEntries() const;
    // The confirmation on screen, if any; tests press its buttons.
    QMessageBox* deleteAlert() const { return deleteAlert_; }

    // Shows these entries as if Load had returned them (benchmarks, tools).
    void showEntries(QList<JournalEntryData> entries);

    // Runs Load again (the form does it each time it is shown).
    void fetchEntries();
    void startEditing(const JournalEntryData& entry);
    // What the row's "Delete" action does: ask before deleting.
    void confirmDelete(const JournalEntryData& entry);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setEntries(QList<JournalEntryData> entries);
    void rebuildRows(bool entriesChanged = false);
    void addMoreRows();
    const JournalEntryData* findEntry(std::int64_t id) const;
    QWidget* makeRow(const JournalEntryData& entry);
    void performDelete(const JournalEntryData& entry);
    void applySaved(std::int64_t id, const JournalEntryData& entry);
    void backToList();
    void refresh();

    std::function<void()> onDismiss_;

    // The form's state.
    ViewMode mode_;
    QList<JournalEntryData> entries_;
    bool loading_ = true;
    std::optional<QString> error_;
    QString searchText_;
    std::optional<JournalEntryData> entryToDelete_;

    JournalText::SearchIndex index_;
    QList<qsizetype> shown_; // indexes into entries_ the rows show
    int builtRows_ = 0;

    QStackedWidget* screens_ = nullptr;
    QWidget* listScreen_ = nullptr;
    JournalEditScreen* editScreen_ = nullptr;
    QWidget* missingScreen_ = nullptr;
    QLineEdit* search_ = nullptr;
    QToolButton* clearSearch_ = nullptr;
    QStackedWidget* content_ = nullptr;
    QWidget* loadingPage_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QWidget* emptyPage_ = nullptr;
    QLabel* emptyLabel_ = nullptr;
    QScrollArea* rowsArea_ = nullptr;
    QWidget* rowsHost_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;

    QPointer<QMessageBox> deleteAlert_;
};
