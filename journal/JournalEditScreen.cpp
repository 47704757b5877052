#include "journal/JournalEditScreen.h"

#include "api/JournalService.h"
#include "journal/EditDraftStore.h"
#include "journal/JournalText.h"
#include "journal/NoteEditorPane.h"
#include "ui/Glyphs.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

using namespace Theme;

JournalEditScreen::JournalEditScreen(QWidget* parent)
    : QWidget(parent)
{
    auto* edit = new QVBoxLayout(this);
    edit->setContentsMargins(24, 24, 24, 24);
    edit->setSpacing(12);

    auto* header = new QHBoxLayout;
    auto* back = new QPushButton(tr("Back"), this);
    back->setObjectName(QStringLiteral("backButton"));
    back->setIcon(Glyphs::icon(Glyph::chevronLeft, orange(), 18));
    back->setFlat(true);
    back->setCursor(Qt::PointingHandCursor);
    back->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 2px; text-align: left; }")
                            .arg(accentText(orange()).name()));
    connect(back, &QPushButton::clicked, this, &JournalEditScreen::leave);
    header->addWidget(back);
    header->addStretch(1);
    auto* heading = new QLabel(tr("Edit Entry"), this);
    heading->setObjectName(QStringLiteral("editHeading"));
    heading->setFont(Theme::font(TextStyle::headline));
    header->addWidget(heading);
    header->addStretch(1);
    // An invisible twin of Back keeps the heading centred.
    auto* twin = new QWidget(this);
    twin->setFixedSize(back->sizeHint());
    header->addWidget(twin);
    edit->addLayout(header);

    restoredBanner_ = new QWidget(this);
    restoredBanner_->setObjectName(QStringLiteral("restoredBanner"));
    auto* banner = new QHBoxLayout(restoredBanner_);
    banner->setContentsMargins(0, 0, 0, 0);
    restoredLabel_ = new QLabel(restoredBanner_);
    restoredLabel_->setObjectName(QStringLiteral("restoredLabel"));
    restoredLabel_->setWordWrap(true);
    restoredLabel_->setFont(Theme::font(TextStyle::caption));
    setTextColour(restoredLabel_, accentText(orange()));
    banner->addWidget(restoredLabel_, 1);
    discardButton_ = new QPushButton(tr("Discard Changes"), restoredBanner_);
    discardButton_->setObjectName(QStringLiteral("discardEditButton"));
    makeBordered(discardButton_);
    connect(discardButton_, &QPushButton::clicked, this, &JournalEditScreen::discardEditDraft);
    banner->addWidget(discardButton_);
    edit->addWidget(restoredBanner_);

    titleField_ = new QLineEdit(this);
    titleField_->setObjectName(QStringLiteral("titleField"));
    titleField_->setAccessibleName(tr("Title"));
    titleField_->setPlaceholderText(tr("Title"));
    titleField_->setFrame(false);
    QFont titleFont = Theme::font(TextStyle::title3);
    titleFont.setBold(true);
    titleField_->setFont(titleFont);
    titleField_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    edit->addWidget(titleField_);

    tagsField_ = new QLineEdit(this);
    tagsField_->setObjectName(QStringLiteral("tagsField"));
    tagsField_->setAccessibleName(tr("Tags"));
    tagsField_->setPlaceholderText(tr("Tags (comma separated)"));
    tagsField_->setFrame(false);
    tagsField_->setFont(Theme::font(TextStyle::caption));
    tagsField_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; color: %1; }")
                                  .arg(secondaryText().name()));
    edit->addWidget(tagsField_);

    pane_ = new NoteEditorPane(QStringLiteral("contentEditor"), this);
    connect(pane_, &NoteEditorPane::previewPicked, this, [this](bool preview) {
        showPreview_ = preview;
        refresh();
    });
    edit->addWidget(pane_, 1);

    errorLabel_ = new QLabel(this);
    errorLabel_->setObjectName(QStringLiteral("editErrorLabel"));
    errorLabel_->setWordWrap(true);
    errorLabel_->setTextFormat(Qt::PlainText);
    setTextColour(errorLabel_, accentText(red()));
    edit->addWidget(errorLabel_);

    auto* buttons = new ButtonRowLayout(12);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    makeBordered(cancel);
    connect(cancel, &QPushButton::clicked, this, &JournalEditScreen::leave);
    standardizeButton_ = new BusyButton(tr("AI Standardize"), this);
    standardizeButton_->setObjectName(QStringLiteral("standardizeButton"));
    standardizeButton_->setIcon(Glyphs::icon(Glyph::sparkles, purple(), 14));
    makeBordered(standardizeButton_);
    connect(standardizeButton_, &QPushButton::clicked, this, &JournalEditScreen::standardize);
    saveButton_ = new BusyButton(tr("Save"), this);
    saveButton_->setObjectName(QStringLiteral("saveButton"));
    makeProminent(saveButton_);
    connect(saveButton_, &QPushButton::clicked, this, &JournalEditScreen::save);
    buttons->addWidget(cancel);
    standardizeButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    saveButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    buttons->addWidget(standardizeButton_);
    buttons->addWidget(saveButton_);
    edit->addLayout(buttons);

    connect(titleField_, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (updatingFields_)
            return;
        title_ = t;
        refresh();
    });
    connect(tagsField_, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (!updatingFields_)
            tags_ = t;
    });
    connect(pane_, &NoteEditorPane::edited, this, [this](const QString& text) {
        content_ = text;
        refresh();
    });
    // At quit the panel may never be deleted.
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &JournalEditScreen::keepUnsavedEdit);
}

JournalEditScreen::~JournalEditScreen()
{
    keepUnsavedEdit();
}

void JournalEditScreen::startEditing(const JournalEntryData& entry)
{
    keepUnsavedEdit();
    ++session_;
    id_ = entry.id;
    entry_ = entry;
    title_ = entry.title;
    content_ = entry.content;
    tags_ = JournalText::joinTags(entry.tags);
    showPreview_ = false;
    saving_ = false;
    normalizing_ = false;
    error_.reset();
    restoredFrom_.reset();
    const EditDraftStore::Lookup stored = EditDraftStore::shared().get(entry.id);
    if (stored.unreadable) {
        error_ = tr("Unsaved changes kept earlier could not be read.");
    } else if (stored.draft) {
        title_ = stored.draft->title;
        content_ = stored.draft->content;
        tags_ = stored.draft->tags;
        restoredFrom_ = stored.draft->updatedAt;
        // The save of that edit may have reached the service after all.
        if (!hasUnsavedChanges())
            discardEditDraft();
    }
    showFields();
    refresh();
}

bool JournalEditScreen::hasUnsavedChanges() const
{
    return id_ && (title_ != entry_.title || content_ != entry_.content || tags_ != JournalText::joinTags(entry_.tags));
}

void JournalEditScreen::keepUnsavedEdit()
{
    if (!id_)
        return;
    if (hasUnsavedChanges())
        EditDraftStore::shared().save({*id_, title_, content_, tags_, QDateTime::currentDateTimeUtc()});
    else
        EditDraftStore::shared().remove(*id_); // changed back by hand
}

void JournalEditScreen::discardEditDraft()
{
    if (!id_)
        return;
    EditDraftStore::shared().remove(*id_);
    title_ = entry_.title;
    content_ = entry_.content;
    tags_ = JournalText::joinTags(entry_.tags);
    restoredFrom_.reset();
    showFields();
    refresh();
}

void JournalEditScreen::leave()
{
    // Back, Cancel and a save end the edit: nothing of it is kept.
    if (id_)
        EditDraftStore::shared().remove(*id_);
    id_.reset();
    restoredFrom_.reset();
    emit closed();
}

void JournalEditScreen::showFields()
{
    const QScopedValueRollback guard(updatingFields_, true);
    titleField_->setText(title_);
    // A long title shows its start, not its end.
    titleField_->setCursorPosition(0);
    tagsField_->setText(tags_);
    pane_->setEditorText(content_);
}

void JournalEditScreen::standardize()
{
    const QString trimmed = content_.trimmed();
    if (trimmed.isEmpty() || normalizing_ || saving_)
        return;
    normalizing_ = true;
    error_.reset();
    refresh();
    const quint64 session = session_;
    JournalService::normalizeText(trimmed, this, [this, session](Result<NormalizeResult> result) {
        if (session != session_)
            return; // another entry was opened meanwhile; nothing of this one is stored yet
        normalizing_ = false;
        if (!result.ok()) {
            error_ = tr("Normalize failed: %1").arg(JournalText::errorDescription(result.error()));
            refresh();
            return;
        }
        const NormalizeResult& r = result.value();
        title_ = r.title;
        content_ = r.content;
        if (r.tags)
            tags_ = JournalText::joinTags(r.tags);
        showPreview_ = true;
        showFields();
        refresh();
    });
}

void JournalEditScreen::save()
{
    if (!id_ || title_.isEmpty() || content_.trimmed().isEmpty() || saving_ || normalizing_)
        return;
    saving_ = true;
    error_.reset();
    refresh();
    const std::int64_t id = *id_;
    const quint64 session = session_;
    JournalService::updateEntry(id, title_, content_, JournalText::parseTags(tags_), this,
                                [this, id, session](Result<JournalEntryData> result) {
        const bool current = session == session_;
        if (result.ok()) {
            // The list learns of the saved entry whatever screen is up now.
            emit saved(id, result.value());
            if (current) {
                saving_ = false;
                leave();
            }
        } else if (current) {
            saving_ = false;
            error_ = tr("Save failed: %1").arg(JournalText::errorDescription(result.error()));
        }
        refresh();
    });
}

void JournalEditScreen::refresh()
{
    if (showPreview_)
        pane_->showPreview(content_);
    else
        pane_->showEditor();
    restoredBanner_->setVisible(restoredFrom_.has_value());
    if (restoredFrom_)
        restoredLabel_->setText(tr("Unsaved changes from %1 restored.")
                                    .arg(QLocale().toString(restoredFrom_->toLocalTime(), QLocale::ShortFormat)));
    errorLabel_->setVisible(error_.has_value());
    errorLabel_->setText(error_.value_or(QString()));
    // Typing while the entry is out would be overwritten by the answer.
    const bool out = saving_ || normalizing_;
    titleField_->setReadOnly(out);
    tagsField_->setReadOnly(out);
    pane_->editor()->setReadOnly(out);
    discardButton_->setEnabled(!out);
    const bool blankContent = content_.trimmed().isEmpty();
    standardizeButton_->setEnabled(!blankContent && !normalizing_ && !saving_);
    saveButton_->setEnabled(!title_.isEmpty() && !blankContent && !saving_ && !normalizing_);
    standardizeButton_->setBusy(normalizing_);
    saveButton_->setBusy(saving_);
}
