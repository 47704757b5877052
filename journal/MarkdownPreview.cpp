#include "MarkdownPreview.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>

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

std::optional<QList<MarkdownPreview::Run>> MarkdownPreview::inlineRuns(const QString& text)
{
    QList<Run> runs;
    if (!mayHoldMarkup(text)) {
        if (!text.isEmpty())
            runs.append(Run{text, {}});
        return runs;
    }
    // Whitespace at either end means something to Markdown (indented code,
    // hard breaks) but is kept verbatim here.
    qsizetype start = 0, end = text.size();
    while (start < end && Markdown::isHorizontalSpace(text.at(start)))
        ++start;
    while (end > start && (Markdown::isHorizontalSpace(text.at(end - 1)) || text.at(end - 1) == QLatin1Char('\r')))
        --end;
    const QString core = text.mid(start, end - start);
    // A line break inside the line would make the parser join or split lines.
    if (core.contains(QLatin1Char('\r')) || core.contains(QLatin1Char('\n')))
        return std::nullopt;
    if (start > 0)
        runs.append(Run{text.left(start), {}});

    if (!core.isEmpty()) {
        QTextDocument doc;
        doc.setMarkdown(escapeBlockMarker(core), inlineFeatures);
        QTextBlock block = doc.begin();
        if (doc.blockCount() != 1 || !block.isValid() || block.textList() || block.blockFormat().headingLevel() != 0
            || block.blockFormat().hasProperty(QTextFormat::BlockQuoteLevel)
            || block.blockFormat().hasProperty(QTextFormat::BlockCodeFence)
            || block.blockFormat().nonBreakableLines() || doc.rootFrame()->childFrames().size() != 0)
            return std::nullopt;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            if (!frag.isValid())
                continue;
            QTextCharFormat f = frag.charFormat();
            if (f.isImageFormat()) {
                // Images are never fetched: the preview names the source instead.
                runs.append(Run{QStringLiteral("[%1]").arg(f.toImageFormat().name()), {}});
                continue;
            }
            runs.append(Run{frag.text(), f});
        }
        if (runs.size() == (start > 0 ? 1 : 0))
            return std::nullopt; // the whole line vanished
    }
    if (end < text.size())
        runs.append(Run{text.mid(end), {}});
    return runs;
}

void MarkdownPreview::render()
{
    using Kind = MarkdownBlock::Kind;
    QTextDocument* doc = document();
    doc->clear();
    doc->setDocumentMargin(8);
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
    // The cursor's block is empty and still unused at the start and right
    // after a code frame; every later block is new.
    bool reuse = true;
    bool any = false;
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
    const auto insertInline = [&](const QString& content, const QTextCharFormat& base) {
        const auto runs = inlineRuns(content);
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

    for (const MarkdownBlock& block : parse(text_)) {
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
            newBlock(2);
            QTextFrameFormat ff;
            ff.setPadding(8);
            ff.setBorder(0);
            ff.setBackground(palette().alternateBase());
            ff.setWidth(QTextLength(QTextLength::PercentageLength, 100));
            ff.setBottomMargin(2);
            cursor.insertFrame(ff);
            QTextBlockFormat cf;
            cf.setNonBreakableLines(true);
            cursor.setBlockFormat(cf);
            // Verbatim: no inline markup inside a code block.
            cursor.insertText(block.content, codeFormat);
            cursor = QTextCursor(doc);
            cursor.movePosition(QTextCursor::End);
            reuse = true;
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
}
