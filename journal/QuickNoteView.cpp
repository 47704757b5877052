#include "journal/QuickNoteView.h"

#include "api/JournalService.h"
#include "core/Timing.h"
#include "journal/DraftStore.h"
#include "journal/JournalText.h"
#include "journal/MarkdownPreview.h"
#include "journal/NoteEditorPane.h"
#include "ui/Glyphs.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace Theme;

// Carries one save to the journal. It outlives the form on purpose: a save
// that succeeds after the panel was closed still deletes the draft, so the
// note does not come back as a draft that was already saved.
class QuickNoteSaveTask : public QObject {
public:
    QuickNoteSaveTask(QuickNoteView* view, std::optional<QUuid> draftId)
        : QObject(QCoreApplication::instance()), view_(view), draftId_(draftId)
    {
    }

    void finish(const Result<JournalEntryData>& result)
    {
        if (result.ok()) {
            if (view_)
                view_->applySaved(result.value().title); // also deletes the draft
            else if (draftId_)
                DraftStore::shared().remove(*draftId_);
        } else if (view_) {
            view_->applySaveFailed(JournalText::quickNoteFailure(result.error()));
        }
        deleteLater();
    }

private:
    QPointer<QuickNoteView> view_;
    std::optional<QUuid> draftId_;
};

QuickNoteView::QuickNoteView(std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), onDismiss_(std::move(onDismiss))
{
    setFixedSize(420, 480);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    debounce_ = new QTimer(this);
    debounce_->setSingleShot(true);
    connect(debounce_, &QTimer::timeout, this, &QuickNoteView::saveDraftNow);
    // Quitting the agent must not drop the last half second of typing.
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &QuickNoteView::flushPendingDraftSave);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(32, 32, 32, 32);
    root->setSpacing(12);

    // Header.
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new GlyphLabel(Glyph::note, orange(), 24, this));
    auto* title = new QLabel(tr("Quick Note"), this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(Theme::font(TextStyle::title2));
    header->addWidget(title);
    header->addStretch(1);
    badge_ = new QLabel(tr("AI Standardized"), this);
    badge_->setObjectName(QStringLiteral("badge"));
    badge_->setFont(Theme::font(TextStyle::caption));
    badge_->setStyleSheet(QStringLiteral("QLabel#badge { color: %1; background: %2;"
                                         " padding: 3px 8px; border-radius: 8px; }")
                              .arg(accentText(purple()).name(), css(withAlpha(purple(), 0.2))));
    header->addWidget(badge_);
    root->addLayout(header);

    body_ = new QStackedWidget(this);
    root->addWidget(body_, 1);

    // Editing page.
    auto* editing = new QWidget(body_);
    auto* col = new QVBoxLayout(editing);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(12);

    pane_ = new NoteEditorPane(QStringLiteral("noteEditor"), editing);
    pane_->editor()->setToolTip(tr("Return starts a new line; Ctrl+Return saves to the journal"));
    connect(pane_, &NoteEditorPane::previewPicked, this, &QuickNoteView::setShowPreview);
    connect(pane_, &NoteEditorPane::edited, this, &QuickNoteView::onEditorChanged);
    col->addWidget(pane_, 1);

    errorLabel_ = new QLabel(editing);
    errorLabel_->setObjectName(QStringLiteral("errorLabel"));
    errorLabel_->setFont(Theme::font(TextStyle::caption));
    errorLabel_->setWordWrap(true);
    errorLabel_->setTextFormat(Qt::PlainText);
    setTextColour(errorLabel_, accentText(red()));
    col->addWidget(errorLabel_);

    auto* buttons = new ButtonRowLayout(12);
    cancelButton_ = new QPushButton(tr("Cancel"), editing);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    cancelButton_->setToolTip(tr("Close (Esc); the draft is kept"));
    makeBordered(cancelButton_);
    standardizeButton_ = new BusyButton(tr("AI Standardize"), editing);
    standardizeButton_->setObjectName(QStringLiteral("standardizeButton"));
    standardizeButton_->setIcon(Glyphs::icon(Glyph::sparkles, purple(), 14));
    makeBordered(standardizeButton_);
    saveButton_ = new BusyButton(tr("Save to Journal"), editing);
    saveButton_->setObjectName(QStringLiteral("saveButton"));
    saveButton_->setToolTip(tr("Save to Journal (Ctrl+Return)"));
    makeProminent(saveButton_);
    buttons->addWidget(cancelButton_);
    standardizeButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    saveButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    buttons->addWidget(standardizeButton_);
    buttons->addWidget(saveButton_);
    col->addLayout(buttons);
    connect(cancelButton_, &QPushButton::clicked, this, &QuickNoteView::cancel);
    connect(standardizeButton_, &QPushButton::clicked, this, &QuickNoteView::normalizeNote);
    connect(saveButton_, &QPushButton::clicked, this, &QuickNoteView::saveNote);
    body_->addWidget(editing);

    // Confirmation page.
    auto* saved = new QWidget(body_);
    auto* savedCol = new QVBoxLayout(saved);
    savedCol->setSpacing(8);
    savedCol->addStretch(1);
    savedCol->addWidget(new GlyphLabel(Glyph::checkmarkCircle, green(), 32, saved), 0, Qt::AlignHCenter);
    auto* headline = new QLabel(tr("Saved to Journal"), saved);
    headline->setObjectName(QStringLiteral("savedHeadline"));
    headline->setFont(Theme::font(TextStyle::headline));
    headline->setAlignment(Qt::AlignCenter);
    savedCol->addWidget(headline);
    savedTitleLabel_ = new QLabel(saved);
    savedTitleLabel_->setObjectName(QStringLiteral("savedTitle"));
    savedTitleLabel_->setFont(Theme::font(TextStyle::subheadline));
    savedTitleLabel_->setAlignment(Qt::AlignCenter);
    savedTitleLabel_->setWordWrap(true);
    savedTitleLabel_->setTextFormat(Qt::PlainText);
    setTextColour(savedTitleLabel_, secondaryText());
    savedCol->addWidget(savedTitleLabel_);
    savedCol->addStretch(1);
    body_->addWidget(saved);

    // Escape cancels; Return saves from anywhere but the multi-line editor,
    // where it starts a new line; Ctrl+Return saves from everywhere.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (!savedTitle_)
            cancel();
    });
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter),
                                     QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (!savedTitle_ && saveButton_->isEnabled())
                saveNote();
        });
    }

    refresh();
}

QuickNoteView::~QuickNoteView()
{
    flushPendingDraftSave();
}

bool QuickNoteView::hasPendingDraftSave() const
{
    return debounce_->isActive();
}

void QuickNoteView::flushPendingDraftSave()
{
    if (!debounce_->isActive())
        return;
    debounce_->stop();
    saveDraftNow();
}

void QuickNoteView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!loaded_) {
        loaded_ = true;
        loadDraft();
    }
    pane_->editor()->setFocus();
}

void QuickNoteView::loadDraft()
{
    const std::optional<NoteDraft> draft = DraftStore::shared().mostRecent();
    if (draft && !JournalText::trimmedNote(draft->text).isEmpty()) {
        draftId_ = draft->id;
        normalizedTitle_ = draft->normalizedTitle;
        normalizedContent_ = draft->normalizedContent;
        normalizedTags_ = draft->normalizedTags;
        isNormalized_ = draft->isNormalized;
        if (isNormalized_)
            showPreview_ = true;
        setNoteText(draft->text);
        refresh();
        return;
    }
    // No draft, or a blank one, which stays stored as it is.
    draftId_ = QUuid::createUuid();
}

NoteDraft QuickNoteView::currentDraft()
{
    if (!draftId_)
        draftId_ = QUuid::createUuid();
    if (auto stored = DraftStore::shared().get(*draftId_))
        return *stored;
    return NoteDraft::make(*draftId_, noteText_);
}

void QuickNoteView::autoSaveDraft()
{
    debounce_->start(Timing::interval(Timing::draftSaveDelay)); // restarting drops the earlier pending save
}

void QuickNoteView::saveDraftNow()
{
    NoteDraft draft = currentDraft();
    draft.text = noteText_;
    draft.updatedAt = QDateTime::currentDateTimeUtc();
    DraftStore::shared().save(draft);
}

void QuickNoteView::immediateSave(const QString& content)
{
    normalizedContent_ = content;
    NoteDraft draft = currentDraft();
    draft.normalizedContent = content;
    draft.updatedAt = QDateTime::currentDateTimeUtc();
    DraftStore::shared().save(draft);
}

void QuickNoteView::setNoteText(const QString& text)
{
    const bool changed = text != noteText_;
    noteText_ = text;
    if (!isNormalized_)
        showInEditor(text);
    if (changed && !isNormalized_)
        autoSaveDraft();
}

void QuickNoteView::showInEditor(const QString& text)
{
    // Setting the same text again would move the cursor and drop the undo history.
    if (pane_->editor()->toPlainText() != text)
        pane_->setEditorText(text);
}

void QuickNoteView::onEditorChanged(const QString& text)
{
    if (isNormalized_) {
        // Edits of the standardized content are stored at once.
        immediateSave(text);
        pane_->preview()->setText(workingText());
    } else {
        noteText_ = text;
        autoSaveDraft();
    }
    refresh();
}

QString QuickNoteView::workingText() const
{
    if (isNormalized_ && normalizedContent_)
        return *normalizedContent_;
    return noteText_;
}

void QuickNoteView::setShowPreview(bool preview)
{
    showPreview_ = preview;
    refresh();
}

void QuickNoteView::cancel()
{
    // The draft stays stored; a pending delayed save still completes.
    if (onDismiss_)
        onDismiss_();
}

void QuickNoteView::normalizeNote()
{
    const QString trimmed = JournalText::trimmedNote(noteText_);
    if (trimmed.isEmpty() || normalizing_ || saving_)
        return;
    normalizing_ = true;
    error_.reset();
    refresh();
    JournalService::normalizeText(trimmed, this, [this](Result<NormalizeResult> result) {
        normalizing_ = false;
        if (!result.ok()) {
            error_ = JournalText::quickNoteFailure(result.error());
            refresh();
            return;
        }
        const NormalizeResult& r = result.value();
        normalizedTitle_ = r.title;
        normalizedContent_ = r.content;
        normalizedTags_ = r.tags;
        isNormalized_ = true;
        showPreview_ = true;
        NoteDraft draft = currentDraft();
        draft.normalizedTitle = normalizedTitle_;
        draft.normalizedContent = normalizedContent_;
        draft.normalizedTags = normalizedTags_;
        draft.isNormalized = true;
        draft.updatedAt = QDateTime::currentDateTimeUtc();
        DraftStore::shared().save(draft);
        refresh();
    });
}

void QuickNoteView::saveNote()
{
    const QString trimmed = JournalText::trimmedNote(noteText_);
    if (trimmed.isEmpty() || normalizing_ || saving_)
        return;
    saving_ = true;
    error_.reset();
    refresh();
    auto* task = new QuickNoteSaveTask(this, draftId_);
    const auto done = [task](Result<JournalEntryData> result) { task->finish(result); };
    if (isNormalized_ && normalizedTitle_ && normalizedContent_)
        JournalService::createEntry(*normalizedTitle_, *normalizedContent_, normalizedTags_.value_or(QStringList{}),
                                    task, done);
    else
        JournalService::createQuickNote(trimmed, task, done);
}

void QuickNoteView::applySaved(const QString& title)
{
    saving_ = false;
    savedTitle_ = title;
    // A delayed save still pending would bring the saved note back as a draft.
    debounce_->stop();
    if (draftId_)
        DraftStore::shared().remove(*draftId_);
    refresh();
    QTimer::singleShot(Timing::interval(Timing::noteSavedClose), this, [this] {
        if (onDismiss_)
            onDismiss_();
    });
}

void QuickNoteView::applySaveFailed(const QString& message)
{
    saving_ = false;
    error_ = message; // the draft stays stored and the form open
    refresh();
}

void QuickNoteView::refresh()
{
    badge_->setVisible(isNormalized_);
    if (savedTitle_) {
        savedTitleLabel_->setText(*savedTitle_);
        body_->setCurrentIndex(1);
        return;
    }
    body_->setCurrentIndex(0);

    if (showPreview_) {
        pane_->showPreview(workingText());
    } else {
        showInEditor(workingText());
        pane_->showEditor();
    }

    errorLabel_->setVisible(error_.has_value());
    errorLabel_->setText(error_.value_or(QString()));

    // What is typed while the note is out would be neither in the request
    // nor in the draft the answer deletes (or replaces by the standardized text).
    pane_->editor()->setReadOnly(saving_ || normalizing_);

    const bool blank = JournalText::trimmedNote(noteText_).isEmpty();
    const bool enabled = !blank && !normalizing_ && !saving_;
    standardizeButton_->setEnabled(enabled);
    saveButton_->setEnabled(enabled);
    standardizeButton_->setBusy(normalizing_);
    saveButton_->setBusy(saving_);
}
