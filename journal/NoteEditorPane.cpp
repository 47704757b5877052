#include "journal/NoteEditorPane.h"

#include "journal/MarkdownPreview.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Theme;

NoteEditorPane::NoteEditorPane(const QString& editorName, QWidget* parent)
    : QWidget(parent)
{
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    // The same gap as between the other rows of the forms around the pane.
    col->setSpacing(12);

    segments_ = new SegmentedControl(tr("Edit"), tr("Preview"), this);
    segments_->first()->setObjectName(QStringLiteral("editSegment"));
    segments_->second()->setObjectName(QStringLiteral("previewSegment"));
    connect(segments_, &SegmentedControl::picked, this, &NoteEditorPane::previewPicked);
    col->addWidget(segments_);

    stack_ = new QStackedWidget(this);
    editor_ = new QPlainTextEdit(stack_);
    editor_->setObjectName(editorName);
    editor_->setAccessibleName(tr("Note"));
    editor_->setFont(monospaced(TextStyle::body));
    editor_->setTabChangesFocus(true);
    editor_->setStyleSheet(QStringLiteral("QPlainTextEdit#%1 { background: palette(base);"
                                          " border: 1px solid palette(mid); border-radius: 8px; padding: 8px; }")
                               .arg(editorName));
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (!settingText_)
            emit edited(editor_->toPlainText());
    });
    preview_ = new MarkdownPreview(stack_);
    stack_->addWidget(editor_);
    stack_->addWidget(preview_);
    col->addWidget(stack_, 1);
}

void NoteEditorPane::setEditorText(const QString& text)
{
    const QScopedValueRollback guard(settingText_, true);
    editor_->setPlainText(text);
}

void NoteEditorPane::showEditor()
{
    segments_->selectSecond(false);
    stack_->setCurrentWidget(editor_);
}

void NoteEditorPane::showPreview(const QString& markdown)
{
    segments_->selectSecond(true);
    // Rendering is the costly part; the same text is not rendered twice.
    if (preview_->text() != markdown)
        preview_->setText(markdown);
    stack_->setCurrentWidget(preview_);
}
