// The standardize step behind /api/journal/normalize and quick notes: title,
// tidy markdown and tags, the same for the same text every time.
#include "ServiceTest.h"

#include <QTextBoundaryFinder>

namespace {

using Normalize = ServiceTest;

struct Case {
    const char* text;
    const char* title;
    const char* content;
    QJsonArray tags;
};

TEST_F(Normalize, GivesTheSameProposalEveryTime)
{
    const Case cases[] = {
        // The first sentence is the title; hashtags are the tags.
        {"learned that ser is for identity. estar for states! #spanish #grammar", "Learned that ser is for identity",
         "# Learned that ser is for identity\n\nlearned that ser is for identity. estar for states! #spanish #grammar\n",
         {"spanish", "grammar"}},
        // Without hashtags the most frequent words are; bullets become dashes.
        {"Kanji practice\n\nkanji strokes: practice the kanji for library daily.\n* strokes order matters", "Kanji practice",
         "# Kanji practice\n\nkanji strokes: practice the kanji for library daily.\n- strokes order matters\n",
         {"kanji", "practice", "strokes"}},
        // Lines of hashtags only are dropped; tags are lower case and unique.
        {"  Vocabulario nuevo  \r\n\r\n\r\n#Spanish #spanish #vocab\n", "Vocabulario nuevo", "# Vocabulario nuevo\n",
         {"spanish", "vocab"}},
        {"## Падежи и глаголы\nтекст", "Падежи и глаголы", "# Падежи и глаголы\n\nтекст\n", {"падежи", "глаголы", "текст"}},
        // Long titles are cut at a word.
        {"this is a rather long first line that keeps going well beyond sixty characters of text",
         "This is a rather long first line that keeps going well…",
         "# This is a rather long first line that keeps going well…\n\nthis is a rather long first line "
         "that keeps going well beyond sixty characters of text\n",
         {"rather", "long", "first"}},
        {"#spanish #grammar", "Untitled note", "# Untitled note\n", {"spanish", "grammar"}},
        // URLs give no tags, and their anchors are no hashtags.
        {"see https://example.com/#anchor. The subjunctive mood; the subjunctive rules", "See https://example.com/#anchor",
         "# See https://example.com/#anchor\n\nsee https://example.com/#anchor. The subjunctive mood; the subjunctive rules\n",
         {"subjunctive", "mood", "rules"}},
        {"今日は図書館で勉強しました。とても静かでした。 #日本語", "今日は図書館で勉強しました",
         "# 今日は図書館で勉強しました\n\n今日は図書館で勉強しました。とても静かでした。 #日本語\n", {"日本語"}},
        // Japanese cannot be cut into words here: no tags.
        {"静かな図書館", "静かな図書館", "# 静かな図書館\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto first = post("/api/journal/normalize", {{"text", QString::fromUtf8(c.text)}});
        ASSERT_EQ(first.status, 200) << first.body.toStdString();
        const QJsonObject d = dataObject(first);
        EXPECT_EQ(d.value("title").toString(), QString::fromUtf8(c.title));
        EXPECT_EQ(d.value("content").toString(), QString::fromUtf8(c.content));
        EXPECT_EQ(d.value("tags").toArray(), c.tags);
        EXPECT_EQ(post("/api/journal/normalize", {{"text", QString::fromUtf8(c.text)}}).body, first.body);
    }
}

TEST_F(Normalize, TitlesCountUserPerceivedCharacters)
{
    // 70 flags: each is one character of two code points.
    QString flags;
    for (int i = 0; i < 70; ++i)
        flags += QStringLiteral("\U0001F1EA\U0001F1F8");
    const QString title = dataObject(post("/api/journal/normalize", {{"text", flags}})).value("title").toString();
    QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, title);
    int n = 0;
    while (f.toNextBoundary() != -1)
        ++n;
    EXPECT_EQ(n, 60);
    EXPECT_TRUE(title.endsWith(QChar(0x2026)));
}

TEST_F(Normalize, QuickNoteIsSavedWithAChosenTitleAndTags)
{
    const QString text = QStringLiteral("Remember: \"sin embargo\" means however. Use it in essays. #spanish #connectors");
    const auto r = post("/api/journal/quick-note", {{"text", text}});
    ASSERT_EQ(r.status, 201) << r.body.toStdString();
    const QJsonObject e = dataObject(r);
    EXPECT_EQ(e.value("title").toString(), QStringLiteral("Remember: \"sin embargo\" means however"));
    EXPECT_EQ(e.value("tags").toArray(), (QJsonArray{"spanish", "connectors"}));
    EXPECT_EQ(e.value("content").toString(), text);
    EXPECT_EQ(dataArray(get("/api/journal")).at(0).toObject(), e);
}

} // namespace
