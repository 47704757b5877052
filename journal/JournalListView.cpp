#include "journal/JournalListView.h"

#include "api/JournalService.h"
#include "journal/EditDraftStore.h"
#include "journal/JournalEditScreen.h"
#include "journal/JournalRow.h"
#include "ui/Glyphs.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Theme;

namespace {

// Rows are built a page at a time as the learner scrolls, so thousands of
// entries cost no more per keystroke than the first screenful.
constexpr int rowsPerPage = 12;

QToolButton* closeGlyphButton(QWidget* parent, const QString& name, const QString& spoken)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setAccessibleName(spoken);
    b->setIcon(Glyphs::icon(Glyph::cross, Theme::secondaryText(), 14));
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QStringLiteral("QToolButton { border: none; }"));
    return b;
}

} // namespace

JournalListView::JournalListView(std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), onDismiss_(std::move(onDismiss))
{
    setFixedSize(420, 520);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    screens_ = new QStackedWidget(this);
    root->addWidget(screens_);

    // ----- List screen -----
    listScreen_ = new QWidget(screens_);
    auto* list = new QVBoxLayout(listScreen_);
    list->setContentsMargins(0, 24, 0, 0);
    list->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(24, 0, 24, 0);
    header->setSpacing(8);
    header->addWidget(new GlyphLabel(Glyph::book, orange(), 20, listScreen_));
    auto* title = new QLabel(tr("My Journals"), listScreen_);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(Theme::font(TextStyle::title2));
    header->addWidget(title);
    header->addStretch(1);
    auto* close = closeGlyphButton(listScreen_, QStringLiteral("closeButton"), tr("Close"));
    close->setToolTip(tr("Close"));
    connect(close, &QToolButton::clicked, this, [this] {
        if (onDismiss_)
            onDismiss_();
    });
    header->addWidget(close);
    list->addLayout(header);

    auto* searchBox = new QFrame(listScreen_);
    searchBox->setObjectName(QStringLiteral("searchBox"));
    searchBox->setStyleSheet(QStringLiteral("QFrame#searchBox { background: palette(base); border: 1px solid palette(mid);"
                                            " border-radius: 8px; }"));
    auto* searchRow = new QHBoxLayout(searchBox);
    searchRow->setContentsMargins(8, 4, 8, 4);
    searchRow->setSpacing(6);
    searchRow->addWidget(new GlyphLabel(Glyph::magnifier, secondaryText(), 16, searchBox));
    search_ = new QLineEdit(searchBox);
    search_->setObjectName(QStringLiteral("searchField"));
    search_->setAccessibleName(tr("Search"));
    search_->setPlaceholderText(tr("Search by title or tag..."));
    search_->setFrame(false);
    search_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    searchRow->addWidget(search_, 1);
    clearSearch_ = closeGlyphButton(searchBox, QStringLiteral("clearSearchButton"), tr("Clear Search"));
    clearSearch_->setToolTip(tr("Clear search"));
    searchRow->addWidget(clearSearch_);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        searchText_ = text;
        rebuildRows();
        refresh();
    });
    connect(clearSearch_, &QToolButton::clicked, this, [this] { search_->clear(); });
    auto* searchWrap = new QHBoxLayout;
    searchWrap->setContentsMargins(24, 0, 24, 0);
    searchWrap->addWidget(searchBox);
    list->addLayout(searchWrap);

    content_ = new QStackedWidget(listScreen_);
    list->addWidget(content_, 1);

    loadingPage_ = new QWidget(content_);
    {
        auto* col = new QVBoxLayout(loadingPage_);
        col->addStretch(1);
        col->addWidget(new Spinner(loadingPage_), 0, Qt::AlignHCenter);
        auto* label = new QLabel(tr("Loading..."), loadingPage_);
        label->setObjectName(QStringLiteral("loadingLabel"));
        label->setAlignment(Qt::AlignCenter);
        setTextColour(label, secondaryText());
        col->addWidget(label);
        col->addStretch(1);
    }
    content_->addWidget(loadingPage_);

    errorLabel_ = new QLabel(content_);
    errorLabel_->setObjectName(QStringLiteral("errorLabel"));
    errorLabel_->setAlignment(Qt::AlignCenter);
    errorLabel_->setWordWrap(true);
    errorLabel_->setTextFormat(Qt::PlainText);
    errorLabel_->setContentsMargins(24, 0, 24, 0);
    errorLabel_->setFont(Theme::font(TextStyle::caption));
    setTextColour(errorLabel_, accentText(red()));
    content_->addWidget(errorLabel_);

    emptyPage_ = new QWidget(content_);
    {
        auto* col = new QVBoxLayout(emptyPage_);
        col->setSpacing(8);
        col->addStretch(1);
        col->addWidget(new GlyphLabel(Glyph::document, secondaryText(), 32, emptyPage_), 0, Qt::AlignHCenter);
        emptyLabel_ = new QLabel(emptyPage_);
        emptyLabel_->setObjectName(QStringLiteral("emptyLabel"));
        emptyLabel_->setAlignment(Qt::AlignCenter);
        setTextColour(emptyLabel_, secondaryText());
        col->addWidget(emptyLabel_);
        col->addStretch(1);
    }
    content_->addWidget(emptyPage_);

    rowsArea_ = new QScrollArea(content_);
    rowsArea_->setObjectName(QStringLiteral("rowsArea"));
    rowsArea_->setWidgetResizable(true);
    rowsArea_->setFrameShape(QFrame::NoFrame);
    rowsArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rowsHost_ = new QWidget(rowsArea_);
    rowsHost_->setObjectName(QStringLiteral("rowsHost"));
    rowsHost_->setStyleSheet(JournalRow::styleSheet());
    rowsLayout_ = new QVBoxLayout(rowsHost_);
    rowsLayout_->setContentsMargins(24, 0, 24, 16);
    rowsLayout_->setSpacing(8);
    rowsLayout_->addStretch(1);
    rowsArea_->setWidget(rowsHost_);
    connect(rowsArea_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value >= rowsArea_->verticalScrollBar()->maximum() - 200)
            addMoreRows();
    });
    content_->addWidget(rowsArea_);
    screens_->addWidget(listScreen_);

    editScreen_ = new JournalEditScreen(screens_);
    connect(editScreen_, &JournalEditScreen::closed, this, &JournalListView::backToList);
    connect(editScreen_, &JournalEditScreen::saved, this, &JournalListView::applySaved);
    screens_->addWidget(editScreen_);

    // An entry that disappeared while its edit screen was up leaves it empty.
    missingScreen_ = new QWidget(screens_);
    screens_->addWidget(missingScreen_);

    refresh();
}

JournalListView::~JournalListView() = default;

void JournalListView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        // The first keystrokes are a search.
        search_->setFocus(Qt::OtherFocusReason);
        fetchEntries();
    }
}

QList<JournalEntryData> JournalListView::filteredEntries() const
{
    QList<JournalEntryData> out;
    for (qsizetype i : index_.matches(searchText_))
        out.append(entries_.at(i));
    return out;
}

void JournalListView::fetchEntries()
{
    loading_ = true;
    error_.reset();
    refresh();
    JournalService::listEntries(this, [this](Result<QList<JournalEntryData>> result) {
        if (result.ok())
            setEntries(std::move(result).value());
        else
            error_ = tr("Failed to load: %1").arg(JournalText::errorDescription(result.error()));
        loading_ = false;
        refresh();
    });
}

void JournalListView::showEntries(QList<JournalEntryData> entries)
{
    setEntries(std::move(entries));
    loading_ = false;
    error_.reset();
    refresh();
}

void JournalListView::setEntries(QList<JournalEntryData> entries)
{
    entries_ = std::move(entries);
    index_ = JournalText::SearchIndex(entries_);
    // The same positions may now hold other entries.
    rebuildRows(true);
}

void JournalListView::rebuildRows(bool entriesChanged)
{
    const QList<qsizetype> matches = index_.matches(searchText_);
    // Rows are widgets; a keystroke that matches the same entries keeps them.
    if (!entriesChanged && matches == shown_ && builtRows_ > 0)
        return;
    shown_ = matches;
    while (rowsLayout_->count() > 1) {
        QLayoutItem* item = rowsLayout_->takeAt(0);
        delete item->widget();
        delete item;
    }
    builtRows_ = 0;
    addMoreRows();
    rowsArea_->verticalScrollBar()->setValue(0);
}

void JournalListView::addMoreRows()
{
    const int end = int(qMin<qsizetype>(shown_.size(), builtRows_ + rowsPerPage));
    for (int i = builtRows_; i < end; ++i) {
        QWidget* row = makeRow(entries_.at(shown_.at(i)));
        rowsLayout_->insertWidget(rowsLayout_->count() - 1, row);
        row->show(); // at once, not on the next turn of the event loop
    }
    builtRows_ = qMax(builtRows_, end);
}

const JournalEntryData* JournalListView::findEntry(std::int64_t id) const
{
    for (const JournalEntryData& e : entries_)
        if (e.id == id)
            return &e;
    return nullptr;
}

QWidget* JournalListView::makeRow(const JournalEntryData& entry)
{
    auto* row = new JournalRow(entry, rowsHost_);
    const std::int64_t id = entry.id;
    connect(row, &JournalRow::openRequested, this, [this, id] {
        if (const JournalEntryData* e = findEntry(id))
            startEditing(*e);
    });
    connect(row, &JournalRow::deleteRequested, this, [this, id] {
        if (const JournalEntryData* e = findEntry(id))
            confirmDelete(*e);
    });
    return row;
}

void JournalListView::startEditing(const JournalEntryData& entry)
{
    mode_ = ViewMode{true, entry.id};
    editScreen_->startEditing(entry);
    refresh();
}

void JournalListView::backToList()
{
    mode_ = ViewMode{};
    refresh();
}

void JournalListView::confirmDelete(const JournalEntryData& entry)
{
    entryToDelete_ = entry;
    if (deleteAlert_)
        deleteAlert_->deleteLater();
    auto* alert = new QMessageBox(this);
    alert->setObjectName(QStringLiteral("deleteAlert"));
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(tr("Delete Entry"));
    alert->setText(tr("Delete Entry"));
    alert->setTextFormat(Qt::PlainText);
    alert->setInformativeText(tr("Are you sure you want to delete \"%1\"? This cannot be undone.")
                                  .arg(entryToDelete_ ? entryToDelete_->title : QString()));
    QPushButton* cancel = alert->addButton(tr("Cancel"), QMessageBox::RejectRole);
    QPushButton* del = alert->addButton(tr("Delete"), QMessageBox::DestructiveRole);
    del->setStyleSheet(QStringLiteral("QPushButton { color: %1; }").arg(accentText(red()).name()));
    // Return or Escape must never delete by accident.
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, del](QAbstractButton* button) {
        if (button != del) {
            entryToDelete_.reset();
            return;
        }
        // The entry is taken now: a later confirmation must not change which
        // entry this delete is about, nor be cleared when this one finishes.
        if (entryToDelete_)
            performDelete(*entryToDelete_);
    });
    deleteAlert_ = alert;
    alert->open();
}

void JournalListView::performDelete(const JournalEntryData& entry)
{
    const std::int64_t id = entry.id;
    JournalService::deleteEntry(id, this, [this, id](Result<void> result) {
        if (result.ok()) {
            EditDraftStore::shared().remove(id);
            QList<JournalEntryData> rest = entries_;
            rest.removeIf([id](const JournalEntryData& e) { return e.id == id; });
            setEntries(std::move(rest));
        } else {
            error_ = tr("Delete failed: %1").arg(JournalText::errorDescription(result.error()));
        }
        if (entryToDelete_ && entryToDelete_->id == id)
            entryToDelete_.reset();
        refresh();
    });
}

void JournalListView::applySaved(std::int64_t id, const JournalEntryData& entry)
{
    for (JournalEntryData& e : entries_) {
        if (e.id == id) {
            e = entry;
            break;
        }
    }
    setEntries(entries_);
    refresh();
}

void JournalListView::refresh()
{
    if (mode_.editing) {
        screens_->setCurrentWidget(findEntry(mode_.id) ? editScreen_ : missingScreen_);
        return;
    }
    screens_->setCurrentWidget(listScreen_);
    clearSearch_->setVisible(!searchText_.isEmpty());
    if (loading_) {
        content_->setCurrentWidget(loadingPage_);
    } else if (error_) {
        errorLabel_->setText(*error_);
        content_->setCurrentWidget(errorLabel_);
    } else if (shown_.isEmpty()) {
        emptyLabel_->setText(searchText_.isEmpty() ? tr("No journal entries yet")
                                                   : tr("No matching entries"));
        content_->setCurrentWidget(emptyPage_);
    } else {
        content_->setCurrentWidget(rowsArea_);
    }
}
