#pragma once
// Read-only, formatted preview of a note: the line-based blocks of
// MarkdownBlocks, with inline emphasis, strong emphasis, code spans,
// strikethrough and links inside headings, bullets and paragraphs.
// Raw HTML is never interpreted, no image or other resource is loaded, and
// a link opens only when clicked.

#include "journal/MarkdownBlocks.h"

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

    // A long note is shown from the top at once and the rest follows from
    // the event loop; these tell whether all of it is in, or put it all in now.
    bool isComplete() const { return next_ >= blocks_.size(); }
    void finishRendering();

    // Characters of note text rendered per slice.
    static constexpr qsizetype chunkCharacters = 12 * 1024;

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void render();
    void renderChunk(QTextDocument* doc);
    void scheduleRest();

    QString text_;
    QList<MarkdownBlock> blocks_;
    qsizetype next_ = 0;
    bool reuse_ = true;
    bool any_ = false;
    quint64 generation_ = 0;
};
