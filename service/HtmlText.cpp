#include "service/HtmlText.h"

#include "service/Normalize.h"

#include <QHash>
#include <QSet>

namespace study {

namespace {

// What a reader of the HTML sees: runs of white space as one space, none at
// the start or end of a line.
class PlainText {
public:
    void put(char32_t c)
    {
        if (QChar::isSpace(c)) {
            space_ = true;
            return;
        }
        if (isJunkInCard(c))
            return;
        if (space_ && !text_.isEmpty() && !text_.endsWith(QLatin1Char('\n')))
            text_ += QLatin1Char(' ');
        space_ = false;
        if (QChar::requiresSurrogates(c)) {
            text_ += QChar(QChar::highSurrogate(c));
            text_ += QChar(QChar::lowSurrogate(c));
        } else {
            text_ += QChar(char16_t(c));
        }
    }
    void lineBreak()
    {
        text_ += QLatin1Char('\n');
        space_ = false;
    }
    // A block starts or ends: a new line unless one just began.
    void blockEdge()
    {
        if (!text_.isEmpty() && !text_.endsWith(QLatin1Char('\n')))
            lineBreak();
        space_ = false;
    }
    void gap() { space_ = true; }
    QString take()
    {
        qsizetype start = 0;
        while (start < text_.size() && text_.at(start) == QLatin1Char('\n'))
            ++start;
        while (text_.size() > start && text_.endsWith(QLatin1Char('\n')))
            text_.chop(1);
        return text_.mid(start);
    }

private:
    QString text_;
    bool space_ = false;
};

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool isAsciiAlnum(QChar c)
{
    return isAsciiLetter(c) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

void applyTag(const QString& name, PlainText& out)
{
    static const QSet<QString> blocks = [] {
        QSet<QString> set;
        for (const char* n : {"address", "article", "aside", "blockquote", "dd", "div", "dl", "dt", "figcaption",
                              "figure", "footer", "h1", "h2", "h3", "h4", "h5", "h6", "header", "hr", "li", "main",
                              "nav", "ol", "p", "pre", "section", "table", "tbody", "tfoot", "thead", "tr", "ul"})
            set.insert(QLatin1String(n));
        return set;
    }();
    if (name == QLatin1String("br"))
        out.lineBreak();
    else if (blocks.contains(name))
        out.blockEdge();
    else if (name == QLatin1String("td") || name == QLatin1String("th"))
        out.gap();
}

// Decodes the character reference at `i` ("&amp;", "&#233;", "&#x1F600;")
// and moves past it; false leaves a bare '&' as it is.
bool readEntity(const QString& html, qsizetype& i, PlainText& out)
{
    static const QHash<QString, char32_t> named = {
        {QStringLiteral("amp"), U'&'},     {QStringLiteral("lt"), U'<'},       {QStringLiteral("gt"), U'>'},
        {QStringLiteral("quot"), U'"'},    {QStringLiteral("apos"), U'\''},    {QStringLiteral("nbsp"), 0xA0},
        {QStringLiteral("ndash"), 0x2013}, {QStringLiteral("mdash"), 0x2014}, {QStringLiteral("hellip"), 0x2026},
        {QStringLiteral("lsquo"), 0x2018}, {QStringLiteral("rsquo"), 0x2019}, {QStringLiteral("ldquo"), 0x201C},
        {QStringLiteral("rdquo"), 0x201D}, {QStringLiteral("laquo"), 0xAB},   {QStringLiteral("raquo"), 0xBB},
        {QStringLiteral("middot"), 0xB7},  {QStringLiteral("bull"), 0x2022},  {QStringLiteral("deg"), 0xB0},
        {QStringLiteral("times"), 0xD7},   {QStringLiteral("divide"), 0xF7},  {QStringLiteral("copy"), 0xA9},
        {QStringLiteral("reg"), 0xAE},     {QStringLiteral("euro"), 0x20AC},  {QStringLiteral("shy"), 0xAD}};
    constexpr qsizetype kLongest = 10;
    qsizetype end = i + 1;
    while (end < html.size() && end - i - 1 <= kLongest && html.at(end) != QLatin1Char(';'))
        ++end;
    if (end >= html.size() || html.at(end) != QLatin1Char(';') || end == i + 1)
        return false;
    const QString body = html.mid(i + 1, end - i - 1);
    char32_t c = 0;
    if (body.startsWith(QLatin1Char('#'))) {
        const bool hex = body.size() > 1 && (body.at(1) == QLatin1Char('x') || body.at(1) == QLatin1Char('X'));
        bool ok = false;
        const uint n = body.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok)
            return false;
        c = n == 0 || n > 0x10FFFF || QChar::isSurrogate(n) ? char32_t(QChar::ReplacementCharacter) : char32_t(n);
    } else if (named.contains(body)) {
        c = named.value(body);
    } else {
        return false;
    }
    // A soft hyphen only marks where a word may break.
    if (c != 0xAD)
        out.put(c);
    i = end + 1;
    return true;
}

} // namespace

// Anki fields are fragments of tag soup (unclosed <br>, bare '&', stray '<'),
// so no parser: QXmlStreamReader stops at the first such fragment and
// QTextDocumentFragment is Qt Gui, which the service does not link. A tag
// skipper with a table of the entities such fields use is enough for text.
QString htmlToText(const QString& html)
{
    PlainText out;
    const qsizetype n = html.size();
    // Past the last '>' no tag can close; knowing it keeps a run of bare '<'
    // from searching to the end again and again.
    const qsizetype lastClose = html.lastIndexOf(QLatin1Char('>'));
    for (qsizetype i = 0; i < n;) {
        const QChar c = html.at(i);
        if (c == QLatin1Char('<') && i < lastClose) {
            if (QStringView(html).sliced(i).startsWith(QLatin1String("<!--"))) {
                const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
                i = end < 0 ? n : end + 3;
                continue;
            }
            const bool closing = html.at(i + 1) == QLatin1Char('/');
            const qsizetype nameStart = i + 1 + (closing ? 1 : 0);
            const QChar first = html.at(nameStart);
            if (isAsciiLetter(first) || (!closing && (first == QLatin1Char('!') || first == QLatin1Char('?')))) {
                const qsizetype end = html.indexOf(QLatin1Char('>'), nameStart);
                qsizetype k = nameStart;
                while (k < end && isAsciiAlnum(html.at(k)))
                    ++k;
                const QString name = html.mid(nameStart, k - nameStart).toLower();
                i = end + 1;
                if (!closing && (name == QLatin1String("script") || name == QLatin1String("style"))) {
                    const qsizetype close = html.indexOf(QLatin1String("</") + name, i, Qt::CaseInsensitive);
                    const qsizetype after = close < 0 ? -1 : html.indexOf(QLatin1Char('>'), close);
                    i = after < 0 ? n : after + 1;
                } else {
                    applyTag(name, out);
                }
                continue;
            }
        }
        if (c == QLatin1Char('&') && readEntity(html, i, out))
            continue;
        out.put(c.unicode());
        ++i;
    }
    return out.take();
}

} // namespace study
