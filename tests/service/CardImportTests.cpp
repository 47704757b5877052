// Reading the learner's card files: what each row becomes, which rows are
// refused with which line and reason, and that an export reads back the same.
#include "service/CardExport.h"
#include "service/CardImport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <random>
#include <tuple>

namespace {

using namespace study;

// One line per card ("front|back|notes|tags@line", line breaks as "\n"), then
// the problems, then the duplicates.
std::string summary(const ParsedCards& parsed)
{
    QStringList out;
    for (const ParsedCard& c : parsed.cards) {
        const QString card = QStringLiteral("%1|%2|%3|%4").arg(c.front, c.back, c.notes, c.tags.join(QLatin1Char(' ')));
        out << QString(card).replace(QLatin1Char('\n'), QLatin1String("\\n")) + QLatin1Char('@') + QString::number(c.line);
    }
    for (const ImportProblem& p : parsed.problems)
        out << p.message();
    for (const SkippedDuplicate& d : parsed.duplicates)
        out << QStringLiteral("line %1: same as line %2").arg(d.line).arg(d.sameAs);
    return out.join(QLatin1Char('\n')).toStdString();
}

struct Case {
    const char* what;
    QByteArray input;
    const char* expected;
    const char* columns = "";
};

TEST(CardImport, ReadsEveryGoodRowAndNamesTheLineAndReasonOfEveryBadOne)
{
    const QByteArray huge(10 << 20, 'x');
    const Case cases[] = {
        {"csv", "casa,house\nperro,dog,a pet,animals noun\n", "casa|house||@1\nperro|dog|a pet|animals noun@2"},
        {"tsv guessed", "casa\thouse, home\n", "casa|house, home||@1"},
        {"semicolons, tags split on commas", "a;b;;x,y  x\n", "a|b||x y@1"},
        {"byte order marks inside", "a,b\n \xEF\xBB\xBF" "c,d\xEF\xBB\xBF\n", "a|b||@1\nc|d||@2"},
        {"control characters", QByteArray("a\x01,b\0c\x7f\n", 8), "a|bc||@1"},
        {"anki header not UTF-8", "#separator:tab\n#tags:a\xff\n#html:true\nx\ty&#1;\n", "x|y||@4\nline 2: not valid UTF-8"},
        {"header row, BOM, CRLF", "\xEF\xBB\xBFTags,Back,FRONT\r\nt1,house,casa\r\n", "casa|house||t1@2"},
        {"columns given", "house,casa,t1\n", "casa|house||t1@1", "back,front,tags"},
        {"header row skipped under given columns", "front,back\nhouse,casa\n", "casa|house||@2", "back,front"},
        {"quotes keep spaces, bare fields are trimmed", " \"a, \"\"b\"\"\" , \" c \" ,  n  \n", "a, \"b\"| c |n|@1"},
        {"CR line ends, line break in a field", "a,\"b\rc\"\r\rd,e\r", "a|b\\nc||@1\nd|e||@4"},
        {"blank lines", "\n  \n,,,\na,b\n", "a|b||@4"},
        {"anki html",
         "#separator:tab\n#html:true\n#tags column:3\nfront<br>two\t<div>a &amp; b</div><div>c&nbsp; &lt;d&gt;</div>\tt1 t2\n",
         "front\\ntwo|a & b\\nc <d>||t1 t2@4"},
        {"anki fixed columns, extra field to notes",
         "#separator:tab\n#html:false\n#guid column:1\n#notetype column:2\n#deck column:3\n#tags column:6\n"
         "ab12\tBasic\tES\tperro\tdog\tanimal\t<i>extra</i>\n",
         "perro|dog|<i>extra</i>|animal@7"},
        {"anki space separated", "#separator:space\n\"a\" b\n", "a|b||@2"},
        {"anki named columns", "#separator:semicolon\n#tags:all\n#columns:Back;Front;Extra\nhouse;casa;note\n",
         "casa|house|note|all@4"},
        {"html soup", "#html:true\n<b>x</b> &#233;&#x1F600; a < b &foo; &#0;<script>no</script><!-- c -->\ty<br/><br>z\n",
         "x é😀 a < b &foo; \xEF\xBF\xBD|y\\n\\nz||@2"},
        {"duplicates", "a,b\nA ,  b\nc,d\n\"c\",\"d \"\n", "a|b||@1\nc|d||@3\nline 2: same as line 1\nline 4: same as line 3"},
        {"unbalanced quote", "a,b\n\"c,d\ne,f\n", "a|b||@1\ne|f||@3\nline 2: unbalanced quote"},
        {"text after a closing quote", "\"Hola\" means hello,hi\n\"a\nb\"c,d\ne,f\n",
         "b\"c|d||@3\ne|f||@4\nline 1: text after the closing quote\nline 2: text after the closing quote on line 3"},
        {"column counts", "a\nb,c,d,e,f\n", "line 1: 1 column, expected 2 to 4\nline 2: 5 columns, expected 2 to 4"},
        {"column count under a header", "front,back\na,b,c\n", "line 2: 3 columns, expected 2"},
        {"a line of commas", "a" + QByteArray(299, ',') + "\n", "line 1: 300 columns, at most 256 are read"},
        {"invalid UTF-8 names its own line", "a,b\nc\xff,d\ne,\"f\ng\xc3\"\nh,\xed\xa0\x80\ni,\xc0\xaf\n",
         "a|b||@1\nline 2: not valid UTF-8\nline 4: not valid UTF-8\nline 5: not valid UTF-8\nline 6: not valid UTF-8"},
        {"empty front or back", ",b\na,\" \"\n", "line 1: empty front\nline 2: empty back"},
        {"inverted marks", "Â¿quÃ©?,what?\n", "Â¿quÃ©?|what?||@1"},
        {"front named twice", "front,front,back\na,b,c\n", "a|c||@2\nline 1: column \"front\" is named twice; it is left out"},
        {"unknown header column", "front,back,ipa\na,b,c\n",
         "a|b||@2\nline 1: column \"ipa\" is not one of front, back, notes, tags, deck; it is left out"},
        {"unknown given column", "a,b\n",
         "columns \"front,bak\": column \"bak\" is not one of front, back, notes, tags, deck", "front,bak"},
        {"given columns without back", "a,b\n", "columns \"front,notes\": front and back are both needed", "front,notes"},
        {"UTF-16", QByteArray("\xFF\xFE" "a\0,\0b\0", 8), "the file is UTF-16, not UTF-8; save it as UTF-8"},
        {"10 MB field", "a,b\nc," + huge + "\nd,e\n", "a|b||@1\nd|e||@3\nline 2: field 2 is longer than 64 KiB"},
        {"10 MB quoted field", "a,b\n\"" + huge + "\n\",c\nd,e\n", "a|b||@1\nd|e||@4\nline 2: field 1 is longer than 64 KiB"},
    };
    for (const Case& c : cases) {
        ImportOptions options;
        options.columns = QString::fromUtf8(c.columns);
        EXPECT_EQ(summary(parseCards(c.input, options)), c.expected) << c.what;
    }
}

TEST(CardImport, AnExportReadsBackToTheSameCards)
{
    const char* pieces[] = {"quote \"x\"", "comma, here", "line\nbreak", "tab\there", "😀", "漢字", "  leading",
                            "trailing ", "#separator:tab", "front", "\"", ";", "Ünïcödé", "<b>not html</b>"};
    std::mt19937 random(17);
    const auto text = [&] {
        QString t;
        for (int n = 1 + int(random() % 3); n > 0; --n)
            t += QString::fromUtf8(pieces[random() % std::size(pieces)]);
        return t;
    };
    QList<ExportedCard> cards;
    for (int i = 0; i < 300; ++i)
        cards.append({text() + QString::number(i), text(), i % 3 ? text() : QString(), {"t1", "日本"}, text()});

    const ParsedCards parsed = parseCards(writeCsv(cards));
    EXPECT_EQ(summary({{}, parsed.problems, parsed.duplicates}), "");
    ASSERT_EQ(parsed.cards.size(), cards.size());
    for (int i = 0; i < cards.size(); ++i) {
        const ParsedCard& got = parsed.cards.at(i);
        EXPECT_EQ(std::tuple(got.front, got.back, got.notes, got.tags),
                  std::tuple(cards[i].front, cards[i].back, cards[i].notes, cards[i].tags));
    }
    const QJsonArray json = QJsonDocument::fromJson(writeJson(cards)).object().value("cards").toArray();
    ASSERT_EQ(json.size(), cards.size());
    EXPECT_EQ(json.at(5).toObject().value("back").toString(), cards[5].back);
    EXPECT_EQ(json.at(5).toObject().value("tags").toArray().at(1).toString(), QStringLiteral("日本"));
}

} // namespace
