#include "journal/MarkdownPreview.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QPointer>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTimer>

namespace {

// Characters that can start inline markup; a line without any of them is
// plain text and needs no parsing.
bool mayHoldMarkup(const QString& text)
{
    for (QChar c : text) {
        switch (c.unicode()) {
        case '*': case '_': case '`': case '~': case '[': case ']': case '<': case '>':
        case '\\': case '&': case '!': case ':': case '@': case '\r':
            return true;
        default:
            break;
        }
    }
    return false;
}

// Markdown also reads block structure (lists, quotes, rules, fences, link
// definitions) at the start of a line; escaping that first marker leaves
// only inline syntax for the parser.
QString escapeBlockMarker(const QString& core)
{
    static const QRegularExpression ordered(QStringLiteral("^\\d{1,9}[.)]"));
    static const QRegularExpression rule(QStringLiteral("^([*_-][ \\t]*){3,}$"));
    static const QRegularExpression linkDefinition(QStringLiteral("^\\[[^\\]]*\\]:"));
    if (core.isEmpty())
        return core;
    const QChar first = core.at(0);
    const auto escapedFirst = [&] { return QLatin1Char('\\') + core; };
    switch (first.unicode()) {
    case '#': case '>': case '-': case '+': case '=': case '|':
        return escapedFirst();
    case '*':
        if (core.size() == 1 || Markdown::isHorizontalSpace(core.at(1)) || rule.match(core).hasMatch())
            return escapedFirst();
        return core;
    case '_':
        return rule.match(core).hasMatch() ? escapedFirst() : core;
    case '~':
    case '`':
        return core.startsWith(QString(3, first)) ? escapedFirst() : core;
    case '[':
        return linkDefinition.match(core).hasMatch() ? escapedFirst() : core;
    default:
        break;
    }
    const auto m = ordered.match(core);
    if (m.hasMatch()) {
        const qsizetype at = m.capturedLength() - 1;
        return core.left(at) + QLatin1Char('\\') + core.mid(at);
    }
    return core;
}

QTextCharFormat baseFormat(const QFont& font, double scale, int weight)
{
    QTextCharFormat f;
    QFont scaled = font;
    if (scaled.pointSizeF() > 0)
        scaled.setPointSizeF(scaled.pointSizeF() * scale);
    else
        scaled.setPixelSize(qRound(scaled.pixelSize() * scale));
    scaled.setWeight(QFont::Weight(weight));
    f.setFont(scaled, QTextCharFormat::FontPropertiesAll);
    return f;
}

// GitHub's dialect without its underline extension, which would read
// "_word_" as underlined rather than emphasised; never any raw HTML.
constexpr auto underlineFeature = 0x4000; // md4c's MD_FLAG_UNDERLINE
const QTextDocument::MarkdownFeatures inlineFeatures =
    QTextDocument::MarkdownFeatures(int(QTextDocument::MarkdownDialectGitHub) & ~underlineFeature)
    | QTextDocument::MarkdownNoHTML;

} // namespace

MarkdownPreview::MarkdownPreview(QWidget* parent) : MarkdownPreview(QString(), parent) {}

MarkdownPreview::MarkdownPreview(const QString& text, QWidget* parent) : QTextBrowser(parent)
{
    setObjectName(QStringLiteral("markdownPreview"));
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setUndoRedoEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setStyleSheet(QStringLiteral("QTextBrowser#markdownPreview { background: palette(base);"
                                 " border: 1px solid palette(mid); border-radius: 8px; }"));
    document()->setDocumentMargin(8);
    // A link leaves the preview only on the learner's click, and only for
    // web and mail addresses.
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        const QString scheme = url.scheme().toLower();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"))
            QDesktopServices::openUrl(url);
    });
    setText(text);
}

QVariant MarkdownPreview::loadResource(int, const QUrl&)
{
    // Notes never pull in images, style sheets or files from anywhere.
    return {};
}

void MarkdownPreview::setText(const QString& text)
{
    text_ = text;
    render();
}

namespace {

// One line split for the inline parser: whitespace at either end means
// something to Markdown (indented code, hard breaks) but is kept verbatim.
struct PreparedLine {
    enum class Way { plain, parse, raw } way = Way::plain;
    QString lead, core, trail;
};

PreparedLine prepare(const QString& text)
{
    PreparedLine p;
    if (!mayHoldMarkup(text)) {
        p.core = text;
        return p;
    }
    qsizetype start = 0, end = text.size();
    while (start < end && Markdown::isHorizontalSpace(text.at(start)))
        ++start;
    while (end > start && (Markdown::isHorizontalSpace(text.at(end - 1)) || text.at(end - 1) == QLatin1Char('\r')))
        --end;
    p.lead = text.left(start);
    p.core = text.mid(start, end - start);
    p.trail = text.mid(end);
    if (p.core.isEmpty())
        p.way = PreparedLine::Way::plain;
    // A line break inside the line would make the parser join or split lines.
    else if (p.core.contains(QLatin1Char('\r')) || p.core.contains(QLatin1Char('\n')))
        p.way = PreparedLine::Way::raw;
    else
        p.way = PreparedLine::Way::parse;
    return p;
}

// The runs of one parsed paragraph, or none when the parser made anything
// but a plain paragraph of it.
std::optional<QList<MarkdownPreview::Run>> runsOf(const QTextBlock& block, const PreparedLine& line)
{
    const QTextBlockFormat bf = block.blockFormat();
    if (!block.isValid() || block.textList() || bf.headingLevel() != 0 || bf.hasProperty(QTextFormat::BlockQuoteLevel)
        || bf.hasProperty(QTextFormat::BlockCodeFence) || bf.nonBreakableLines())
        return std::nullopt;
    QList<MarkdownPreview::Run> runs;
    if (!line.lead.isEmpty())
        runs.append({line.lead, {}});
    bool any = false;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment frag = it.fragment();
        if (!frag.isValid())
            continue;
        any = true;
        const QTextCharFormat f = frag.charFormat();
        if (f.isImageFormat()) {
            // Images are never fetched: the preview names the source instead.
            runs.append({QStringLiteral("[%1]").arg(f.toImageFormat().name()), {}});
            continue;
        }
        runs.append({frag.text(), f});
    }
    if (!any)
        return std::nullopt; // the whole line vanished
    if (!line.trail.isEmpty())
        runs.append({line.trail, {}});
    return runs;
}

// Parses many lines with one pass of the Markdown reader: each line is its
// own paragraph, and inline markup never crosses a paragraph. When the
// paragraphs do not come back one per line, each line is read on its own.
QList<std::optional<QList<MarkdownPreview::Run>>> parseLines(const QList<PreparedLine>& lines)
{
    QList<std::optional<QList<MarkdownPreview::Run>>> out(lines.size());
    QStringList sources;
    QList<qsizetype> parsed;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const PreparedLine& line = lines.at(i);
        if (line.way == PreparedLine::Way::plain) {
            QList<MarkdownPreview::Run> runs;
            if (!line.core.isEmpty() || !line.lead.isEmpty() || !line.trail.isEmpty())
                runs.append({line.lead + line.core + line.trail, {}});
            out[i] = runs;
        } else if (line.way == PreparedLine::Way::parse) {
            sources.append(escapeBlockMarker(line.core));
            parsed.append(i);
        }
    }
    if (parsed.isEmpty())
        return out;
    QTextDocument doc;
    doc.setUndoRedoEnabled(false);
    doc.setMarkdown(sources.join(QStringLiteral("\n\n")), inlineFeatures);
    if (doc.blockCount() == parsed.size() && doc.rootFrame()->childFrames().isEmpty()) {
        QTextBlock block = doc.begin();
        for (qsizetype i : parsed) {
            out[i] = runsOf(block, lines.at(i));
            block = block.next();
        }
        return out;
    }
    for (qsizetype k = 0; k < parsed.size(); ++k) {
        QTextDocument one;
        one.setUndoRedoEnabled(false);
        one.setMarkdown(sources.at(k), inlineFeatures);
        if (one.blockCount() == 1 && one.rootFrame()->childFrames().isEmpty())
            out[parsed.at(k)] = runsOf(one.begin(), lines.at(parsed.at(k)));
    }
    return out;
}

} // namespace

std::optional<QList<MarkdownPreview::Run>> MarkdownPreview::inlineRuns(const QString& text)
{
    return parseLines({prepare(text)}).first();
}

void MarkdownPreview::render()
{
    ++generation_;
    blocks_ = parse(text_);
    next_ = 0;
    reuse_ = true;
    any_ = false;
    // The first screenful is built apart from the widget and swapped in
    // whole: no view updates or cursor bookkeeping while it goes in.
    auto* doc = new QTextDocument(this);
    doc->setUndoRedoEnabled(false);
    doc->setDocumentMargin(8);
    doc->setDefaultFont(font());
    renderChunk(doc);
    QPointer<QTextDocument> old = document(); // the widget may delete its own first one
    setDocument(doc);
    if (old && old->parent() == this)
        delete old;
    scheduleRest();
}

void MarkdownPreview::scheduleRest()
{
    if (next_ >= blocks_.size())
        return;
    // A long note goes in a slice at a time from the event loop, so the
    // learner sees the top at once and the panel never stalls.
    const quint64 generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != generation_)
            return;
        renderChunk(document());
        scheduleRest();
    });
}

void MarkdownPreview::finishRendering()
{
    while (next_ < blocks_.size())
        renderChunk(document());
}

void MarkdownPreview::renderChunk(QTextDocument* doc)
{
    using Kind = MarkdownBlock::Kind;
    const QFont body = font();
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    const QTextCharFormat bodyFormat = baseFormat(body, 1.0, QFont::Normal);
    const QTextCharFormat h1Format = baseFormat(body, 1.4, QFont::Bold);
    const QTextCharFormat h2Format = baseFormat(body, 1.15, QFont::DemiBold);
    const QTextCharFormat h3Format = baseFormat(body, 0.95, QFont::DemiBold);
    QTextCharFormat codeFormat = baseFormat(mono, 1.0, QFont::Normal);
    codeFormat.setFontPointSize(body.pointSizeF() > 0 ? body.pointSizeF() * 0.85 : 9);
    codeFormat.setFontFixedPitch(true);

    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    // One edit block per slice: the layout hears of the slice once.
    cursor.beginEditBlock();
    // The cursor's block is empty and still unused at the very start; every
    // later block is new.
    bool& reuse = reuse_;
    bool& any = any_;
    const auto newBlock = [&](double topMargin) {
        QTextBlockFormat bf;
        bf.setTopMargin(any ? topMargin + 2 : topMargin);
        if (reuse)
            cursor.setBlockFormat(bf);
        else
            cursor.insertBlock(bf);
        reuse = false;
        any = true;
    };
    // This slice: blocks up to about chunkCharacters of text. Every heading,
    // bullet and paragraph in it goes through the inline reader in one batch.
    const qsizetype first = next_;
    qsizetype end = first;
    for (qsizetype size = 0; end < blocks_.size() && size < chunkCharacters; ++end)
        size += blocks_.at(end).content.size() + 1;
    const QList<MarkdownBlock>& blocks = blocks_;
    QList<PreparedLine> lines;
    lines.reserve(end - first);
    for (qsizetype i = first; i < end; ++i) {
        const MarkdownBlock& block = blocks.at(i);
        lines.append(block.kind == Kind::code || block.kind == Kind::blank ? PreparedLine{} : prepare(block.content));
    }
    const QList<std::optional<QList<Run>>> parsedRuns = parseLines(lines);
    qsizetype current = first;

    const auto insertInline = [&](const QString& content, const QTextCharFormat& base) {
        const std::optional<QList<Run>>& runs = parsedRuns.at(current - first);
        if (!runs) {
            cursor.insertText(content, base);
            return;
        }
        for (const Run& run : *runs) {
            QTextCharFormat f = base;
            if (run.format.fontFixedPitch()) {
                f.setFontFamilies(QStringList{mono.family()});
                f.setFontFixedPitch(true);
                f.setBackground(palette().alternateBase());
            } else {
                if (run.format.hasProperty(QTextFormat::FontWeight))
                    f.setFontWeight(qMax(run.format.fontWeight(), base.fontWeight()));
                if (run.format.hasProperty(QTextFormat::FontItalic))
                    f.setFontItalic(run.format.fontItalic());
            }
            if (run.format.fontStrikeOut())
                f.setFontStrikeOut(true);
            if (run.format.isAnchor()) {
                f.setAnchor(true);
                f.setAnchorHref(run.format.anchorHref());
                f.setForeground(palette().link());
                f.setFontUnderline(true);
            }
            cursor.insertText(run.text, f);
        }
    };

    for (; current < end; ++current) {
        const MarkdownBlock& block = blocks.at(current);
        switch (block.kind) {
        case Kind::h1:
            newBlock(6);
            insertInline(block.content, h1Format);
            break;
        case Kind::h2:
            newBlock(4);
            insertInline(block.content, h2Format);
            break;
        case Kind::h3:
            newBlock(2);
            insertInline(block.content, h3Format);
            break;
        case Kind::bullet: {
            newBlock(0);
            QTextBlockFormat bf = cursor.blockFormat();
            bf.setLeftMargin(14);
            bf.setTextIndent(-14);
            cursor.setBlockFormat(bf);
            cursor.insertText(QStringLiteral("\u2022\u2002"), bodyFormat);
            insertInline(block.content, bodyFormat);
            break;
        }
        case Kind::code: {
            // A shaded run of blocks rather than a frame: documents with
            // hundreds of frames make every later insertion slower.
            QTextBlockFormat pad;
            pad.setBackground(palette().alternateBase());
            pad.setLineHeight(8, QTextBlockFormat::FixedHeight);
            pad.setNonBreakableLines(true);
            QTextCharFormat padText = codeFormat;
            padText.setFontPointSize(2);
            newBlock(2);
            pad.setTopMargin(any ? 4 : 0);
            cursor.setBlockFormat(pad);
            cursor.setCharFormat(padText);
            QTextBlockFormat line;
            line.setBackground(palette().alternateBase());
            line.setNonBreakableLines(true);
            line.setTextIndent(8);
            // Verbatim: no inline markup inside a code block.
            for (const QString& codeLine : block.content.split(QLatin1Char('\n'))) {
                cursor.insertBlock(line, codeFormat);
                cursor.insertText(codeLine);
            }
            pad.setTopMargin(0);
            pad.setBottomMargin(2);
            cursor.insertBlock(pad, padText);
            break;
        }
        case Kind::blank: {
            newBlock(0);
            QTextBlockFormat bf = cursor.blockFormat();
            bf.setLineHeight(6, QTextBlockFormat::FixedHeight);
            cursor.setBlockFormat(bf);
            break;
        }
        case Kind::text:
            newBlock(0);
            insertInline(block.content, bodyFormat);
            break;
        }
    }
    cursor.endEditBlock();
    next_ = end;
}
