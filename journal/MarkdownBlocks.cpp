#include "journal/MarkdownBlocks.h"

#include <QStringView>

bool Markdown::isHorizontalSpace(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString Markdown::kindName(MarkdownBlock::Kind kind)
{
    switch (kind) {
    case MarkdownBlock::Kind::h1: return QStringLiteral("h1");
    case MarkdownBlock::Kind::h2: return QStringLiteral("h2");
    case MarkdownBlock::Kind::h3: return QStringLiteral("h3");
    case MarkdownBlock::Kind::bullet: return QStringLiteral("bullet");
    case MarkdownBlock::Kind::code: return QStringLiteral("code");
    case MarkdownBlock::Kind::blank: return QStringLiteral("blank");
    case MarkdownBlock::Kind::text: return QStringLiteral("text");
    }
    return {};
}

namespace {
bool isBlank(QStringView line)
{
    for (QChar c : line)
        if (!Markdown::isHorizontalSpace(c))
            return false;
    return true;
}
} // namespace

QList<MarkdownBlock> Markdown::parseBlocks(const QString& text)
{
    using Kind = MarkdownBlock::Kind;
    QList<MarkdownBlock> blocks;
    bool inCode = false;
    QStringList codeLines;
    const auto append = [&](Kind kind, QString content) {
        blocks.append(MarkdownBlock{int(blocks.size()), kind, std::move(content)});
    };

    // Lines end in LF, CR LF or a lone CR, as the note editor shows them.
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (QStringView line : QStringView(lines).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("```"))) {
            if (!inCode) {
                inCode = true;
            } else {
                append(Kind::code, codeLines.join(QLatin1Char('\n')));
                codeLines.clear();
                inCode = false;
            }
            continue;
        }
        if (inCode) {
            codeLines.append(line.toString());
            continue;
        }
        if (line.startsWith(QLatin1String("### ")))
            append(Kind::h3, line.mid(4).toString());
        else if (line.startsWith(QLatin1String("## ")))
            append(Kind::h2, line.mid(3).toString());
        else if (line.startsWith(QLatin1String("# ")))
            append(Kind::h1, line.mid(2).toString());
        else if (line.startsWith(QLatin1String("- ")) || line.startsWith(QLatin1String("* ")))
            append(Kind::bullet, line.mid(2).toString());
        else if (isBlank(line))
            append(Kind::blank, QString());
        else
            append(Kind::text, line.toString());
    }
    if (inCode && !codeLines.isEmpty())
        append(Kind::code, codeLines.join(QLatin1Char('\n')));
    return blocks;
}
