#include "ServiceTestSupport.h"

#include <QDateTime>
#include <QTextBoundaryFinder>

namespace {

using Journal = ServiceTest;

QJsonObject entryBody(const QString& title, const QString& content, const QStringList& tags)
{
    return {{"entry", QJsonObject{{"title", title}, {"content", content}, {"tags", QJsonArray::fromStringList(tags)}}}};
}

QStringList strings(const QJsonValue& v)
{
    QStringList out;
    for (const QJsonValue& s : v.toArray())
        out << s.toString();
    return out;
}

QDateTime parseIso(const QString& s)
{
    QDateTime t = QDateTime::fromString(s, Qt::ISODateWithMs);
    return t.isValid() ? t : QDateTime::fromString(s, Qt::ISODate);
}

TEST_F(Journal, SeededEntriesAreNewestFirstWithTagsAndTimes)
{
    const auto r = get("/api/journal");
    ASSERT_EQ(r.status, 200);
    const QJsonArray entries = dataArray(r);
    ASSERT_GE(entries.size(), 3);
    bool fractional = false, whole = false;
    QDateTime previous;
    for (const QJsonValue& v : entries) {
        const QJsonObject e = v.toObject();
        EXPECT_TRUE(e.value("id").isDouble());
        EXPECT_TRUE(e.value("title").isString());
        EXPECT_TRUE(e.value("content").isString());
        EXPECT_TRUE(e.value("tags").isArray());
        const QString inserted = e.value("inserted_at").toString();
        const QDateTime t = parseIso(inserted);
        ASSERT_TRUE(t.isValid()) << inserted.toStdString();
        EXPECT_TRUE(parseIso(e.value("updated_at").toString()).isValid());
        if (previous.isValid()) {
            EXPECT_LE(t, previous);
        }
        previous = t;
        (inserted.contains('.') ? fractional : whole) = true;
    }
    EXPECT_TRUE(fractional);
    EXPECT_TRUE(whole);
}

TEST_F(Journal, CreateReadUpdateDelete)
{
    const auto created = post("/api/journal", entryBody("Verbos", "*ir*: to go; **ser**: to be", {"spanish", "verbs"}));
    ASSERT_EQ(created.status, 201) << created.body.toStdString();
    const QJsonObject e = dataObject(created);
    const qint64 id = e.value("id").toInteger();
    EXPECT_EQ(e.value("title").toString(), "Verbos");
    EXPECT_EQ(e.value("content").toString(), "*ir*: to go; **ser**: to be");
    EXPECT_EQ(strings(e.value("tags")), (QStringList{"spanish", "verbs"}));
    const QDateTime inserted = parseIso(e.value("inserted_at").toString());
    EXPECT_LT(qAbs(inserted.secsTo(QDateTime::currentDateTimeUtc())), 60);

    // The newest entry leads the list.
    EXPECT_EQ(dataArray(get("/api/journal")).at(0).toObject(), e);
    EXPECT_EQ(dataObject(get(QStringLiteral("/api/journal/%1").arg(id))), e);

    const auto updated = svc().send("PUT", QStringLiteral("/api/journal/%1").arg(id),
                                    compact(entryBody("Verbos irregulares", "ir, ser", {})), token);
    ASSERT_EQ(updated.status, 200) << updated.body.toStdString();
    const QJsonObject u = dataObject(updated);
    EXPECT_EQ(u.value("id").toInteger(), id);
    EXPECT_EQ(u.value("title").toString(), "Verbos irregulares");
    EXPECT_EQ(u.value("content").toString(), "ir, ser");
    EXPECT_EQ(u.value("tags").toArray(), QJsonArray());
    EXPECT_EQ(u.value("inserted_at"), e.value("inserted_at"));
    EXPECT_GE(parseIso(u.value("updated_at").toString()), inserted);
    EXPECT_EQ(dataArray(get("/api/journal")).at(0).toObject(), u);

    const auto deleted = svc().send("DELETE", QStringLiteral("/api/journal/%1").arg(id), {}, token);
    EXPECT_EQ(deleted.status, 200);
    EXPECT_EQ(get(QStringLiteral("/api/journal/%1").arg(id)).status, 404);
    EXPECT_EQ(svc().send("DELETE", QStringLiteral("/api/journal/%1").arg(id), {}, token).status, 404);
    for (const QJsonValue& v : dataArray(get("/api/journal")))
        EXPECT_NE(v.toObject().value("id").toInteger(), id);
}

TEST_F(Journal, CreateWithoutTagsGivesAnEmptyTagList)
{
    const auto r = post("/api/journal", {{"entry", QJsonObject{{"title", ""}, {"content", "x"}}}});
    ASSERT_EQ(r.status, 201);
    EXPECT_EQ(dataObject(r).value("tags").toArray(), QJsonArray());
    EXPECT_EQ(dataObject(r).value("title").toString(), "");
}

TEST_F(Journal, TextIsKeptExactlyIncludingNonAscii)
{
    const QString content = QStringLiteral("  Привет, 世界! café\n\n- ñ  ");
    const auto r = post("/api/journal", entryBody(QStringLiteral(" Ünïcödé "), content, {QStringLiteral("русский")}));
    ASSERT_EQ(r.status, 201);
    EXPECT_EQ(dataObject(r).value("content").toString(), content);
    EXPECT_EQ(dataObject(r).value("title").toString(), QStringLiteral(" Ünïcödé "));
    EXPECT_EQ(strings(dataObject(r).value("tags")), QStringList{QStringLiteral("русский")});
}

TEST_F(Journal, AnotherAccountsEntriesAreNotFound)
{
    const qint64 mine = dataArray(get("/api/journal")).at(0).toObject().value("id").toInteger();
    const QString second = svc().login(StudyService::secondEmail(), StudyService::secondPassword());
    const QJsonObject before = svc().state().value("journal").toObject();

    const QString path = QStringLiteral("/api/journal/%1").arg(mine);
    for (const QByteArray& method : {QByteArray("GET"), QByteArray("PUT"), QByteArray("DELETE")}) {
        const QByteArray body = method == "PUT" ? compact(entryBody("mine now", "x", {})) : QByteArray();
        const auto r = svc().send(method, path, body, second);
        EXPECT_EQ(r.status, 404) << method.toStdString();
        EXPECT_TRUE(isJsonError(r));
    }
    for (const QJsonValue& v : dataArray(svc().send("GET", "/api/journal", {}, second)))
        EXPECT_NE(v.toObject().value("id").toInteger(), mine);
    EXPECT_EQ(svc().state().value("journal").toObject(), before);

    // And what the second account writes stays its own.
    const auto theirs = svc().send("POST", "/api/journal", compact(entryBody("Artikel", "der die das", {})), second);
    ASSERT_EQ(theirs.status, 201);
    const QJsonArray demoList = dataArray(get("/api/journal"));
    for (const QJsonValue& v : demoList)
        EXPECT_NE(v.toObject().value("id"), dataObject(theirs).value("id"));
}

TEST_F(Journal, UnknownIdsAre404)
{
    for (const char* path : {"/api/journal/999999", "/api/journal/0", "/api/journal/-3", "/api/journal/abc",
                             "/api/journal/1/extra"}) {
        const auto r = get(QString::fromLatin1(path));
        EXPECT_EQ(r.status, 404) << path;
        EXPECT_TRUE(isJsonError(r)) << path;
    }
}

struct BadEntry {
    const char* name;
    QByteArray body;
};

class BadEntries : public ServiceTest, public ::testing::WithParamInterface<BadEntry> {};

TEST_P(BadEntries, AreRefusedOnCreateAndUpdate)
{
    const QJsonObject before = svc().state().value("journal").toObject();
    const qint64 id = dataArray(get("/api/journal")).at(0).toObject().value("id").toInteger();
    const auto created = svc().send("POST", "/api/journal", GetParam().body, token);
    EXPECT_EQ(created.status, 400) << created.body.toStdString();
    EXPECT_TRUE(isJsonError(created));
    const auto updated = svc().send("PUT", QStringLiteral("/api/journal/%1").arg(id), GetParam().body, token);
    EXPECT_EQ(updated.status, 400) << updated.body.toStdString();
    EXPECT_TRUE(isJsonError(updated));
    EXPECT_EQ(svc().state().value("journal").toObject(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Journal, BadEntries,
    ::testing::Values(BadEntry{"NoEntryKey", R"({"title": "t", "content": "c"})"},
                      BadEntry{"EntryNotObject", R"({"entry": "t"})"},
                      BadEntry{"TitleNumber", R"({"entry": {"title": 5, "content": "c"}})"},
                      BadEntry{"ContentArray", R"({"entry": {"title": "t", "content": ["c"]}})"},
                      BadEntry{"TagsString", R"({"entry": {"title": "t", "content": "c", "tags": "a,b"}})"},
                      BadEntry{"TagsWithNumber", R"({"entry": {"title": "t", "content": "c", "tags": ["a", 1]}})"},
                      BadEntry{"NotJson", R"({"entry": {"title": "t",)"},
                      BadEntry{"EmptyBody", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Journal, CreateNeedsTitleAndContent)
{
    for (const char* body : {R"({"entry": {"content": "c"}})", R"({"entry": {"title": "t"}})"}) {
        const auto r = svc().send("POST", "/api/journal", body, token);
        EXPECT_EQ(r.status, 400) << body;
        EXPECT_TRUE(isJsonError(r));
    }
}

// ---- quick notes and the standardize step ----------------------------------

TEST_F(Journal, QuickNoteIsSavedWithAChosenTitleAndTags)
{
    const QString text = QStringLiteral("Remember: \"sin embargo\" means however. Use it in essays. #spanish #connectors");
    const auto r = post("/api/journal/quick-note", {{"text", text}});
    ASSERT_EQ(r.status, 201) << r.body.toStdString();
    const QJsonObject e = dataObject(r);
    EXPECT_EQ(e.value("title").toString(), QStringLiteral("Remember: \"sin embargo\" means however"));
    EXPECT_EQ(strings(e.value("tags")), (QStringList{"spanish", "connectors"}));
    EXPECT_EQ(e.value("content").toString(), text);
    EXPECT_EQ(dataArray(get("/api/journal")).at(0).toObject(), e);
}

struct NormalizeCase {
    const char* name;
    const char* text;
    const char* title;
    const char* content;
    QStringList tags;
};

class Normalize : public ServiceTest, public ::testing::WithParamInterface<NormalizeCase> {};

TEST_P(Normalize, GivesTheSameProposalEveryTime)
{
    const NormalizeCase& c = GetParam();
    const auto first = post("/api/journal/normalize", {{"text", QString::fromUtf8(c.text)}});
    ASSERT_EQ(first.status, 200) << first.body.toStdString();
    const QJsonObject d = dataObject(first);
    EXPECT_EQ(d.value("title").toString(), QString::fromUtf8(c.title));
    EXPECT_EQ(d.value("content").toString(), QString::fromUtf8(c.content));
    EXPECT_EQ(strings(d.value("tags")), c.tags);
    EXPECT_EQ(post("/api/journal/normalize", {{"text", QString::fromUtf8(c.text)}}).body, first.body);
}

INSTANTIATE_TEST_SUITE_P(
    Journal, Normalize,
    ::testing::Values(
        NormalizeCase{"FirstSentenceAndHashtags", "learned that ser is for identity. estar for states! #spanish #grammar",
                      "Learned that ser is for identity",
                      "# Learned that ser is for identity\n\nlearned that ser is for identity. estar for states! #spanish #grammar\n",
                      {"spanish", "grammar"}},
        NormalizeCase{"FrequentWordsBecomeTags",
                      "Kanji practice\n\nkanji strokes: practice the kanji for library daily.\n* strokes order matters",
                      "Kanji practice",
                      "# Kanji practice\n\nkanji strokes: practice the kanji for library daily.\n- strokes order matters\n",
                      {"kanji", "practice", "strokes"}},
        NormalizeCase{"HashtagOnlyLinesAreDropped", "  Vocabulario nuevo  \r\n\r\n\r\n#Spanish #spanish #vocab\n",
                      "Vocabulario nuevo", "# Vocabulario nuevo\n", {"spanish", "vocab"}},
        NormalizeCase{"MarkupIsNotTitle", "## Падежи и глаголы\nтекст", "Падежи и глаголы",
                      "# Падежи и глаголы\n\nтекст\n", {"падежи", "глаголы", "текст"}},
        NormalizeCase{"LongLinesAreCutAtAWord",
                      "this is a rather long first line that keeps going well beyond sixty characters of text",
                      "This is a rather long first line that keeps going well…",
                      "# This is a rather long first line that keeps going well…\n\nthis is a rather long first line "
                      "that keeps going well beyond sixty characters of text\n",
                      {"rather", "long", "first"}},
        NormalizeCase{"OnlyHashtags", "#spanish #grammar", "Untitled note", "# Untitled note\n", {"spanish", "grammar"}},
        NormalizeCase{"UrlsGiveNoTags", "see https://example.com/#anchor. The subjunctive mood; the subjunctive rules",
                      "See https://example.com/#anchor",
                      "# See https://example.com/#anchor\n\nsee https://example.com/#anchor. The subjunctive mood; "
                      "the subjunctive rules\n",
                      {"subjunctive", "mood", "rules"}},
        NormalizeCase{"JapaneseSentences", "今日は図書館で勉強しました。とても静かでした。 #日本語", "今日は図書館で勉強しました",
                      "# 今日は図書館で勉強しました\n\n今日は図書館で勉強しました。とても静かでした。 #日本語\n",
                      {"日本語"}},
        NormalizeCase{"JapaneseWithoutHashtagsHasNoTags", "静かな図書館", "静かな図書館", "# 静かな図書館\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Journal, TitlesCountUserPerceivedCharacters)
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

TEST_F(Journal, NotesNeedText)
{
    for (const QString& path : {QStringLiteral("/api/journal/normalize"), QStringLiteral("/api/journal/quick-note")}) {
        for (const QByteArray& body : {QByteArray(R"({"text": "  \n\t "})"), QByteArray(R"({"text": 3})"),
                                      QByteArray(R"({})"), QByteArray(R"({"note": "x"})"), QByteArray("x")}) {
            const auto r = svc().send("POST", path, body, token);
            EXPECT_EQ(r.status, 400) << path.toStdString() << " " << body.toStdString();
            EXPECT_TRUE(isJsonError(r));
        }
    }
    EXPECT_EQ(svc().state().value("journal").toObject().value("demo@tavlo.app").toArray().size(),
              dataArray(get("/api/journal")).size());
}

} // namespace
