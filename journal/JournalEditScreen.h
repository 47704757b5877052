#pragma once
// The journal browser's edit screen: the title, tags and content of one entry,
// the "AI Standardize" step that rewrites them, and the save. The list it
// came from learns of saves and of the screen closing through signals.

#include "api/JournalRecords.h"

#include <QDateTime>
#include <QWidget>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class BusyButton;
class NoteEditorPane;

class JournalEditScreen : public QWidget {
    Q_OBJECT
public:
    explicit JournalEditScreen(QWidget* parent = nullptr);
    // An edit with changes that goes away without Save or Cancel (the panel
    // replaced) is kept as the entry's edit draft.
    ~JournalEditScreen() override;

    // Fills the fields from this entry, or from its edit draft, on the "Edit" side.
    void startEditing(const JournalEntryData& entry);
    // The open edit differs from the entry it started from.
    bool hasUnsavedChanges() const;

signals:
    // Back or Cancel, or the entry of this opening was saved.
    void closed();
    // The service stored the entry with this id; also sent when the answer
    // comes after another entry was opened.
    void saved(std::int64_t id, const JournalEntryData& entry);

private:
    void standardize();
    void save();
    void leave();
    void keepUnsavedEdit();
    void discardEditDraft();
    void showFields();
    void refresh();

    // The entry being edited; none once the screen was left by Back or Cancel.
    std::optional<std::int64_t> id_;
    JournalEntryData entry_; // as it was opened, for telling changes and discarding them
    std::optional<QDateTime> restoredFrom_; // when the restored edit draft was kept
    QString title_;
    QString content_;
    QString tags_;
    bool showPreview_ = false;
    bool saving_ = false;
    bool normalizing_ = false;
    std::optional<QString> error_;
    // Which opening a standardize or save belongs to, so a late answer never
    // lands in the fields of another entry.
    quint64 session_ = 0;
    bool updatingFields_ = false;

    QLineEdit* titleField_ = nullptr;
    QLineEdit* tagsField_ = nullptr;
    NoteEditorPane* pane_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QWidget* restoredBanner_ = nullptr;
    QLabel* restoredLabel_ = nullptr;
    QPushButton* discardButton_ = nullptr;
    BusyButton* standardizeButton_ = nullptr;
    BusyButton* saveButton_ = nullptr;
};
