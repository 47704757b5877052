#pragma once
// The body of the note editors (the quick note and the journal's edit
// screen): an "Edit" / "Preview" switch over a plain text editor and the
// rendered Markdown of the note.

#include <QWidget>

class QPlainTextEdit;
class QStackedWidget;
class MarkdownPreview;
class SegmentedControl;

class NoteEditorPane : public QWidget {
    Q_OBJECT
public:
    // The editor is named editorName; its style sheet and the tests find it by that name.
    explicit NoteEditorPane(const QString& editorName, QWidget* parent = nullptr);

    QPlainTextEdit* editor() const { return editor_; }
    MarkdownPreview* preview() const { return preview_; }

    // Replaces the editor's text without reporting it as edited.
    void setEditorText(const QString& text);
    // Selects "Edit" and brings up the editor.
    void showEditor();
    // Selects "Preview" and brings up the rendering of markdown.
    void showPreview(const QString& markdown);

signals:
    // The learner picked a segment (true: "Preview").
    void previewPicked(bool preview);
    // The editor's text changed other than through setEditorText.
    void edited(const QString& text);

private:
    SegmentedControl* segments_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    MarkdownPreview* preview_ = nullptr;
    bool settingText_ = false;
};
