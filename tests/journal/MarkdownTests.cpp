// The preview's line parser over every line kind and their mixtures, and the
// inline markup inside the rendered document.

#include "journal/MarkdownBlocks.h"
#include "journal/MarkdownPreview.h"
#include "TestSupport.h"

#include <QTextDocument>

#include <gtest/gtest.h>

// How gtest shows a block when a parse differs.
void PrintTo(const MarkdownBlock& b, std::ostream* os)
{
    *os << b.id << ":" << Markdown::kindName(b.kind).toStdString() << "[" << b.content.toStdString() << "]";
}

namespace {

using Kind = MarkdownBlock::Kind;

TEST(MarkdownParse, EveryLineKindAndMixture)
{
    const QString fence = QStringLiteral("```");
    const struct { const char* name; QString text; QList<MarkdownBlock> blocks; } cases[] = {
        {"h1 keeps extra spaces", "#   Title", {{0, Kind::h1, "  Title"}}},
        {"four hashes, markers without their space, indented, numbered list, quote and rule are text",
         "#### Deep\n#Title\n-item\n  - x\n1. one\n> quote\n---",
         {{0, Kind::text, "#### Deep"}, {1, Kind::text, "#Title"}, {2, Kind::text, "-item"}, {3, Kind::text, "  - x"},
          {4, Kind::text, "1. one"}, {5, Kind::text, "> quote"}, {6, Kind::text, "---"}}},
        {"empty bullet", "- ", {{0, Kind::bullet, ""}}},
        {"spaces, tabs, no-break and ideographic spaces are blank", QStringLiteral(" \t  \n\u00a0\u3000"),
         {{0, Kind::blank, ""}, {1, Kind::blank, ""}}},
        {"empty text is one blank", "", {{0, Kind::blank, ""}}},
        {"fenced code", fence + "plain\nlet a = 1\n# not a heading\n" + fence,
         {{0, Kind::code, "let a = 1\n# not a heading"}}},
        {"unterminated fence keeps its lines", "intro\n" + fence + "\nline 1\nline 2",
         {{0, Kind::text, "intro"}, {1, Kind::code, "line 1\nline 2"}}},
        {"opening fence on the last line gives nothing", "intro\n" + fence, {{0, Kind::text, "intro"}}},
        {"text after a closing fence is dropped", fence + "\ncode\n" + fence + " trailing\nafter",
         {{0, Kind::code, "code"}, {1, Kind::text, "after"}}},
        {"empty code block", fence + "\n" + fence, {{0, Kind::code, ""}}},
        {"CR LF and a lone CR end lines like LF", "# T\r\nline\r\n\rx",
         {{0, Kind::h1, "T"}, {1, Kind::text, "line"}, {2, Kind::blank, ""}, {3, Kind::text, "x"}}},
        {"mixture", "# Top\n\n- a\n* b\n## Mid\ntext **bold**\n" + fence + "\n- not a bullet\n" + fence + "\n### End\n",
         {{0, Kind::h1, "Top"}, {1, Kind::blank, ""}, {2, Kind::bullet, "a"}, {3, Kind::bullet, "b"},
          {4, Kind::h2, "Mid"}, {5, Kind::text, "text **bold**"}, {6, Kind::code, "- not a bullet"},
          {7, Kind::h3, "End"}, {8, Kind::blank, ""}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MarkdownPreview::parse(c.text), c.blocks) << c.name;
}

QString runsText(const QList<MarkdownPreview::Run>& runs)
{
    QString s;
    for (const auto& r : runs)
        s += r.text;
    return s;
}

// Inline only: block syntax inside a heading's or paragraph's text, and raw
// HTML, come out as the characters typed.
TEST(MarkdownInline, BlockSyntaxAndHtmlStayLiteral)
{
    for (const char* line : {"# still text", "> not a quote", "1. not a list", "2) nor this", "- nor this",
                             "+ nor this", "***", "___", "~~~ fence", "[ref]: http://example.com",
                             "<b>raw</b> & <script>x</script>", "* star"}) {
        SCOPED_TRACE(line);
        const auto runs = MarkdownPreview::inlineRuns(QString::fromUtf8(line));
        ASSERT_TRUE(runs.has_value());
        EXPECT_EQ(runsText(*runs), QString::fromUtf8(line));
    }
    // A line break inside is no longer inline Markdown.
    EXPECT_FALSE(MarkdownPreview::inlineRuns(QStringLiteral("**a**\rb")).has_value());
    // A note written with CR LF renders as the same note written with LF.
    MarkdownPreview crlf(QStringLiteral("# T\r\n**a**\r\n\r\n- b\r\n"));
    EXPECT_EQ(crlf.document()->toPlainText(), MarkdownPreview(QStringLiteral("# T\n**a**\n\n- b\n")).document()->toPlainText());
}

// Headings, bullets and paragraphs get their inline markup, the whitespace
// around it kept; code stays verbatim. Links keep their target for a click;
// images are never fetched, only named.
TEST(MarkdownPreviewDoc, RendersInlineMarkupButCodeVerbatim)
{
    MarkdownPreview preview(QStringLiteral("# Head **bold**\n- item `code`\n```\n**not bold**\n```\n"
                                           "![pic](http://ex.com/p.png)\na **b** *c* `d` ~~e~~ [f](https://ex.com/a) _g_"));
    const QTextDocument* doc = preview.document();
    for (const char* s : {"Head bold", "\u2022\u2002item code", "**not bold**", "a b c d e f g", "[http://ex.com/p.png]"})
        EXPECT_TRUE(doc->toPlainText().contains(QString::fromUtf8(s))) << s;
    EXPECT_FALSE(doc->toPlainText().contains(QStringLiteral("```")));
    EXPECT_FALSE(doc->toPlainText().contains(QChar::ObjectReplacementCharacter));
    const auto format = [&](const char* w) { return doc->find(w, 0, QTextDocument::FindWholeWords).charFormat(); };
    EXPECT_GE(format("b").fontWeight(), QFont::Bold);
    EXPECT_TRUE(format("c").fontItalic());
    EXPECT_TRUE(format("d").fontFixedPitch());
    EXPECT_TRUE(format("e").fontStrikeOut());
    EXPECT_TRUE(format("f").isAnchor());
    EXPECT_EQ(format("f").anchorHref(), QStringLiteral("https://ex.com/a"));
    EXPECT_TRUE(format("g").fontItalic());
    EXPECT_LT(doc->find(QStringLiteral("**not bold**")).charFormat().fontWeight(), QFont::Bold);
    EXPECT_TRUE(doc->find(QStringLiteral("**not bold**")).charFormat().fontFixedPitch());
    EXPECT_EQ(runsText(MarkdownPreview::inlineRuns(QStringLiteral("  a **b**  ")).value()), QStringLiteral("  a b  "));
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
    ASSERT_TRUE(waitUntil([&] { return preview.isComplete(); }, 10000));
    EXPECT_TRUE(preview.document()->toPlainText().endsWith(QStringLiteral("the last line")));
    EXPECT_EQ(preview.document()->blockCount(), MarkdownPreview::parse(note).size());

    preview.setText(note);
    preview.setText(QStringLiteral("short"));
    drainEvents(20); // the slices the long text had queued
    EXPECT_EQ(preview.document()->toPlainText(), QStringLiteral("short"));
}

} // namespace
