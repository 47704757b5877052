// Renders the quick note editor and the journal browser in each of their
// states to PNGs for a visual check, against a local study service:
//   TAVLO_SERVICE_BIN=... journal_render OUTDIR      (inside scripts/test-env.sh)

#include "JournalListView.h"
#include "JournalService.h"
#include "PrivateDrafts.h"
#include "ServiceSupport.h"
#include "QuickNoteView.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

QString outDir;

void shot(QWidget* w, const QString& name)
{
    QCoreApplication::processEvents();
    w->grab().save(outDir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

template <class W>
W* child(QWidget* v, const char* name)
{
    return v->findChild<W*>(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    PrivateDrafts drafts;
    auto& service = SignedInService::instance();
    if (!service.ok())
        return 1;
        
    {
        QuickNoteView view([] {});
        view.show();
        QTest::qWait(100);
        shot(&view, "note-1-empty");
        auto* editor = child<QPlainTextEdit>(&view, "noteEditor");
        editor->setPlainText(QStringLiteral("ser vs estar\nser = identity, origin\nestar = location, **states**\n"
                                            "Es tarde. Estoy cansado."));
        shot(&view, "note-2-typed");
        child<QPushButton>(&view, "previewSegment")->click();
        shot(&view, "note-3-preview-plain");
        child<QPushButton>(&view, "editSegment")->click();
        service.svc().fault({{"mode", "status"}, {"status", 500}, {"path", "/api/journal/normalize"}});
        child<QPushButton>(&view, "standardizeButton")->click();
        waitUntil([&] { return child<QWidget>(&view, "errorLabel")->isVisible(); });
        shot(&view, "note-4-error");
        child<QPushButton>(&view, "standardizeButton")->click();
        waitUntil([&] { return child<QWidget>(&view, "badge")->isVisible(); });
        QTest::qWait(100);
        shot(&view, "note-5-standardized");
        child<QPushButton>(&view, "saveButton")->click();
        waitUntil([&] { return child<QWidget>(&view, "savedHeadline")->isVisible(); });
        shot(&view, "note-6-saved");
    }
    {
        QObject context;
        bool done = false;
        JournalService::createEntry(QStringLiteral("A note with many tags and a rather long title that will not fit"),
                                    QStringLiteral("x"), {"one", "two", "three", "four", "five", "six"}, &context,
                                    [&](Result<JournalEntryData>) { done = true; });
        waitUntil([&] { return done; });
        service.svc().fault({{"mode", "delay"}, {"delayMs", 500}, {"path", "/api/journal"}});
        JournalListView view([] {});
        view.show();
        QTest::qWait(50);
        shot(&view, "journal-1-loading");
        waitUntil([&] { return !view.entries().isEmpty(); });
        QTest::qWait(100);
        shot(&view, "journal-2-list");
        QTest::keyClicks(child<QLineEdit>(&view, "searchField"), QStringLiteral("zebra"));
        shot(&view, "journal-3-no-match");
        child<QLineEdit>(&view, "searchField")->clear();
        JournalEntryData sample = view.entries().last();
        sample.content += QStringLiteral("\n\n## Code\n```\nlet a = 1 // **not bold**\nprint(a)\n```\n"
                                         "* a [link](https://example.com) and `span`\n### Small heading\ntext after");
        view.startEditing(sample);
        QTest::qWait(50);
        shot(&view, "journal-4-edit");
        child<QPushButton>(&view, "previewSegment")->click();
        shot(&view, "journal-5-edit-preview");
        child<QPushButton>(&view, "backButton")->click();
        view.confirmDelete(view.entries().first());
        QTest::qWait(100);
        if (QMessageBox* alert = view.deleteAlert())
            shot(alert, "journal-6-delete-alert");
        shot(&view, "journal-7-behind-alert");
    }
    return 0;
}
