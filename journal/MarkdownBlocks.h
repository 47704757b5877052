#pragma once
// The line-based subset of Markdown the note preview understands, parsed
// without any widget so it can be tested and measured on its own.

#include <QList>
#include <QString>

struct MarkdownBlock {
    enum class Kind { h1, h2, h3, bullet, code, blank, text };

    int id = 0;      // position in the parse result, from 0
    Kind kind = Kind::text;
    QString content; // the line without its marker; code: the lines joined with "\n"

    bool operator==(const MarkdownBlock&) const = default;
};

namespace Markdown {
QList<MarkdownBlock> parseBlocks(const QString& text);
// Tabs and Unicode space separators only; line breaks are not horizontal.
bool isHorizontalSpace(QChar c);
QString kindName(MarkdownBlock::Kind kind);
} // namespace Markdown
