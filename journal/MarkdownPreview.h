#pragma once
// Read-only, formatted preview of a note: the line-based blocks of
// MarkdownBlocks, with inline emphasis, strong emphasis, code spans,
// strikethrough and links inside headings, bullets and paragraphs.
// Raw HTML is never interpreted, no image or other resource is loaded, and
// a link opens only when clicked.

#include "MarkdownBlocks.h"

#include <QList>
#include <QTextBrowser>
#include <QTextCharFormat>

#include <optional>

class MarkdownPreview : public QTextBrowser {
    Q_OBJECT
public:
    explicit MarkdownPreview(QWidget* parent = nullptr);
    explicit MarkdownPreview(const QString& text, QWidget* parent = nullptr);

    static QList<MarkdownBlock> parse(const QString& text) { return Markdown::parseBlocks(text); }

    struct Run {
        QString text;
        QTextCharFormat format; // only what the inline markup sets
    };
    // The styled runs of one line of inline Markdown, whitespace kept; none
    // when the line cannot be read as inline Markdown alone, in which case
    // the preview shows the raw text.
    static std::optional<QList<Run>> inlineRuns(const QString& text);

    void setText(const QString& text);
    QString text() const { return text_; }

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void render();

    QString text_;
};
