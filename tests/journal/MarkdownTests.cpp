// The preview's line parser over every line kind and their mixtures, and the
// inline markup inside the rendered document.

#include "MarkdownBlocks.h"
#include "MarkdownPreview.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextFrame>

#include <gtest/gtest.h>

namespace {

using Kind = MarkdownBlock::Kind;

struct Expect {
    Kind kind;
    QString content;
};

struct ParseCase {
    const char* name;
    QString text;
    QList<Expect> blocks;
};

std::string dump(const QList<MarkdownBlock>& blocks)
{
    std::string out;
    for (const MarkdownBlock& b : blocks)
        out += std::to_string(b.id) + ":" + Markdown::kindName(b.kind).toStdString() + "[" +
               b.content.toStdString() + "] ";
    return out;
}

TEST(MarkdownParse, EveryLineKindAndMixture)
{
    const QString fence = QStringLiteral("```");
    const QList<ParseCase> cases = {
        {"h1", "# Title", {{Kind::h1, "Title"}}},
        {"h1 keeps extra spaces", "#   Title", {{Kind::h1, "  Title"}}},
        {"h3", "### Sub", {{Kind::h3, "Sub"}}},
        {"h2", "## Part", {{Kind::h2, "Part"}}},
        {"four hashes is text", "#### Deep", {{Kind::text, "#### Deep"}}},
        {"marker needs its space", "#Title", {{Kind::text, "#Title"}}},
        {"dash needs its space", "-item", {{Kind::text, "-item"}}},
        {"star bullet", "* x", {{Kind::bullet, "x"}}},
        {"dash bullet", "- x", {{Kind::bullet, "x"}}},
        {"indented dash is text", "  - x", {{Kind::text, "  - x"}}},
        {"empty bullet", "- ", {{Kind::bullet, ""}}},
        {"spaces and tabs are blank", " \t  ", {{Kind::blank, ""}}},
        {"no-break and ideographic spaces are blank", QStringLiteral("\u00a0\u3000"), {{Kind::blank, ""}}},
        {"empty text is one blank", "", {{Kind::blank, ""}}},
        {"numbered list, quote and rule are text", "1. one\n> quote\n---",
         {{Kind::text, "1. one"}, {Kind::text, "> quote"}, {Kind::text, "---"}}},
        {"fenced code", fence + "plain\nlet a = 1\n# not a heading\n" + fence,
         {{Kind::code, "let a = 1\n# not a heading"}}},
        {"unterminated fence keeps its lines", "intro\n" + fence + "\nline 1\nline 2",
         {{Kind::text, "intro"}, {Kind::code, "line 1\nline 2"}}},
        {"opening fence on the last line gives nothing", "intro\n" + fence, {{Kind::text, "intro"}}},
        {"text after a closing fence is dropped", fence + "\ncode\n" + fence + " trailing\nafter",
         {{Kind::code, "code"}, {Kind::text, "after"}}},
        {"empty code block", fence + "\n" + fence, {{Kind::code, ""}}},
        {"CRLF keeps the carriage return", "# T\r\nline\r\n\r",
         {{Kind::h1, "T\r"}, {Kind::text, "line\r"}, {Kind::text, "\r"}}},
        {"mixture", "# Top\n\n- a\n* b\n## Mid\ntext **bold**\n" + fence + "\n- not a bullet\n" + fence + "\n### End\n",
         {{Kind::h1, "Top"}, {Kind::blank, ""}, {Kind::bullet, "a"}, {Kind::bullet, "b"}, {Kind::h2, "Mid"},
          {Kind::text, "text **bold**"}, {Kind::code, "- not a bullet"}, {Kind::h3, "End"}, {Kind::blank, ""}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<MarkdownBlock> blocks = MarkdownPreview::parse(c.text);
        ASSERT_EQ(blocks.size(), c.blocks.size()) << dump(blocks);
        for (qsizetype i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks.at(i).id, i) << dump(blocks); // fences and code lines use no ids
            EXPECT_EQ(blocks.at(i).kind, c.blocks.at(i).kind) << dump(blocks);
            EXPECT_EQ(blocks.at(i).content, c.blocks.at(i).content) << dump(blocks);
        }
    }
}

QString runsText(const QList<MarkdownPreview::Run>& runs)
{
    QString s;
    for (const auto& r : runs)
        s += r.text;
    return s;
}

TEST(MarkdownInline, StylesAndKeepsWhitespace)
{
    auto runs = MarkdownPreview::inlineRuns(QStringLiteral("  a **b** *c* `d` ~~e~~  "));
    ASSERT_TRUE(runs.has_value());
    EXPECT_EQ(runsText(*runs), QStringLiteral("  a b c d e  "));
    bool bold = false, italic = false, code = false, strike = false;
    for (const auto& r : *runs) {
        bold |= r.text == QLatin1String("b") && r.format.fontWeight() >= QFont::Bold;
        italic |= r.text == QLatin1String("c") && r.format.fontItalic();
        code |= r.text == QLatin1String("d") && r.format.fontFixedPitch();
        strike |= r.text == QLatin1String("e") && r.format.fontStrikeOut();
    }
    EXPECT_TRUE(bold);
    EXPECT_TRUE(italic);
    EXPECT_TRUE(code);
    EXPECT_TRUE(strike);
}

// Inline only: block syntax inside a heading's or paragraph's text, and raw
// HTML, come out as the characters typed.
TEST(MarkdownInline, BlockSyntaxAndHtmlStayLiteral)
{
    const QStringList literal = {
        QStringLiteral("# still text"), QStringLiteral("> not a quote"), QStringLiteral("1. not a list"),
        QStringLiteral("2) nor this"),  QStringLiteral("- nor this"),    QStringLiteral("+ nor this"),
        QStringLiteral("***"),          QStringLiteral("___"),           QStringLiteral("~~~ fence"),
        QStringLiteral("[ref]: http://example.com"), QStringLiteral("<b>raw</b> & <script>x</script>"),
        QStringLiteral("* star"),
    };
    for (const QString& line : literal) {
        SCOPED_TRACE(line.toStdString());
        const auto runs = MarkdownPreview::inlineRuns(line);
        ASSERT_TRUE(runs.has_value());
        EXPECT_EQ(runsText(*runs), line);
    }
}

// Links keep their target for a click; images are never fetched, only named.
TEST(MarkdownInline, LinksAndImages)
{
    const auto runs = MarkdownPreview::inlineRuns(QStringLiteral("see [docs](https://example.com/a) ![pic](http://example.com/p.png)"));
    ASSERT_TRUE(runs.has_value());
    bool link = false;
    for (const auto& r : *runs)
        link |= r.text == QLatin1String("docs") && r.format.isAnchor()
            && r.format.anchorHref() == QLatin1String("https://example.com/a");
    EXPECT_TRUE(link);
    EXPECT_TRUE(runsText(*runs).contains(QStringLiteral("[http://example.com/p.png]")));

    MarkdownPreview preview(QStringLiteral("![pic](http://example.com/p.png)"));
    EXPECT_FALSE(preview.document()->toPlainText().contains(QChar::ObjectReplacementCharacter));
}

TEST(MarkdownInline, LineBreaksInsideFallBackToRawText)
{
    EXPECT_FALSE(MarkdownPreview::inlineRuns(QStringLiteral("**a**\rb")).has_value());
    MarkdownPreview preview(QStringLiteral("**a**\rb"));
    EXPECT_TRUE(preview.document()->toPlainText().contains(QStringLiteral("**a**")));
}

TEST(MarkdownPreviewDoc, RendersBlocksWithInlineMarkupButCodeVerbatim)
{
    MarkdownPreview preview(QStringLiteral("# Head **bold**\n- item `code`\n```\n**not bold**\n```\nplain _em_ **strong**"));
    const QString plain = preview.document()->toPlainText();
    EXPECT_TRUE(plain.contains(QStringLiteral("Head bold")));
    EXPECT_TRUE(plain.contains(QStringLiteral("\u2022\u2002item code")));
    EXPECT_TRUE(plain.contains(QStringLiteral("**not bold**")));
    EXPECT_TRUE(plain.contains(QStringLiteral("plain em")));
    EXPECT_FALSE(plain.contains(QStringLiteral("```")));
    // The code line is one unwrapped, shaded, monospaced block.
    const QTextBlock code = preview.document()->find(QStringLiteral("**not bold**")).block();
    ASSERT_TRUE(code.isValid());
    EXPECT_TRUE(code.blockFormat().nonBreakableLines());
    EXPECT_TRUE(code.blockFormat().hasProperty(QTextFormat::BackgroundBrush));
    EXPECT_TRUE(code.begin().fragment().charFormat().fontFixedPitch());

    // The paragraph's runs are styled; the code block's stars are not.
    bool strong = false, em = false, starsPlain = false;
    for (QTextBlock b = preview.document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            strong |= f.text() == QLatin1String("strong") && f.charFormat().fontWeight() >= QFont::Bold;
            em |= f.text() == QLatin1String("em") && f.charFormat().fontItalic();
            starsPlain |= f.text() == QLatin1String("**not bold**") && f.charFormat().fontWeight() < QFont::Bold;
        }
    EXPECT_TRUE(strong);
    EXPECT_TRUE(em);
    EXPECT_TRUE(starsPlain);
    EXPECT_FALSE(preview.openLinks());
    EXPECT_FALSE(preview.openExternalLinks());
}

// A long note shows its top at once and the rest from the event loop; a new
// text meanwhile replaces it entirely.
TEST(MarkdownPreviewDoc, LongNotesArriveInSlicesAndANewTextWins)
{
    QString note;
    for (int i = 0; note.size() < 5 * MarkdownPreview::chunkCharacters; ++i)
        note += QStringLiteral("- item **%1**\n").arg(i);
    note += QStringLiteral("the last line");
    MarkdownPreview preview(note);
    EXPECT_FALSE(preview.isComplete());
    EXPECT_TRUE(preview.document()->toPlainText().startsWith(QStringLiteral("\u2022\u2002item 0")));
    QDeadlineTimer deadline(10000);
    while (!preview.isComplete() && !deadline.hasExpired())
        QCoreApplication::processEvents();
    ASSERT_TRUE(preview.isComplete());
    EXPECT_TRUE(preview.document()->toPlainText().endsWith(QStringLiteral("the last line")));
    EXPECT_EQ(preview.document()->blockCount(), MarkdownPreview::parse(note).size());

    preview.setText(note);
    preview.setText(QStringLiteral("short"));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(preview.document()->toPlainText(), QStringLiteral("short"));

    preview.setText(note);
    preview.finishRendering();
    EXPECT_TRUE(preview.isComplete());
    EXPECT_TRUE(preview.document()->toPlainText().endsWith(QStringLiteral("the last line")));
}

} // namespace
