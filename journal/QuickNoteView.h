#pragma once
// The quick note form shown in the floating panel (420 x 480): free text kept
// as a local draft while typing, an optional "AI Standardize" step, and the
// save to the journal with a short confirmation.

#include "journal/NoteDraft.h"

#include <QPointer>
#include <QStringList>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class NoteEditorPane;
struct JournalEntryData;
template <class T> class Result;
class BusyButton;

class QuickNoteView : public QWidget {
    Q_OBJECT
public:
    explicit QuickNoteView(std::function<void()> onDismiss, QWidget* parent = nullptr);
    // Writes a delayed draft save that has not fired yet, so closing the
    // panel never loses the last keystrokes.
    ~QuickNoteView() override;

    std::optional<QUuid> draftId() const { return draftId_; }
    bool hasPendingDraftSave() const;
    // Stores the pending delayed save now (on close and on quit).
    void flushPendingDraftSave();

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class QuickNoteSaveTask;

    void loadDraft();
    NoteDraft currentDraft();
    void autoSaveDraft();
    void saveDraftNow();
    void immediateSave(const QString& content);
    void normalizeNote();
    void saveNote();
    void applySaved(const QString& title);
    void applySaveFailed(const QString& message);
    void cancel();

    void setNoteText(const QString& text);
    void showInEditor(const QString& text);
    void onEditorChanged(const QString& text);
    void setShowPreview(bool preview);
    QString workingText() const;
    void refresh();

    std::function<void()> onDismiss_;

    // The form's state.
    QString noteText_;
    bool saving_ = false;
    bool normalizing_ = false;
    std::optional<QString> error_;
    std::optional<QString> savedTitle_;
    bool showPreview_ = false;
    std::optional<QUuid> draftId_;
    std::optional<QString> normalizedTitle_;
    std::optional<QString> normalizedContent_;
    std::optional<QStringList> normalizedTags_;
    bool isNormalized_ = false;
    QTimer* debounce_ = nullptr; // the one pending delayed save

    bool loaded_ = false;

    QLabel* badge_ = nullptr;
    QStackedWidget* body_ = nullptr;
    NoteEditorPane* pane_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    BusyButton* standardizeButton_ = nullptr;
    BusyButton* saveButton_ = nullptr;
    QLabel* savedTitleLabel_ = nullptr;
};
