// Renders every panel of the agent in each of its states to PNG files, for
// looking at them (light or dark palette):
//   render-views OUTDIR [--dark] [--locale de_DE]
// inside scripts/test-env.sh (the journal views sign in to a study service it
// starts itself: TAVLO_SERVICE_BIN, or the one next to this build).
#include "api/APIClient.h"
#include "api/JournalService.h"
#include "app/LoginView.h"
#include "app/SettingsView.h"
#include "journal/JournalListView.h"
#include "journal/QuickNoteView.h"
#include "review/QuizView.h"
#include "review/SoundEffects.h"
#include "review/TypingView.h"
#include "tools/ServiceProcess.h"
#include "ui/Theme.h"
#include "ui/Translations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTcpServer>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

QString outDir;
QString suffix;

void shot(QWidget* w, const QString& name)
{
    if (!w->isVisible()) {
        w->adjustSize();
        w->show();
    }
    QTest::qWait(30);
    const QString path = QDir(outDir).filePath(name + suffix + QStringLiteral(".png"));
    w->grab().save(path);
    std::printf("%s %dx%d\n", qPrintable(path), w->width(), w->height());
}

template <class W = QWidget>
W* child(QWidget* root, const char* name)
{
    return root->findChild<W*>(QString::fromLatin1(name));
}

void click(QWidget* root, const char* name)
{
    if (auto* b = child<QAbstractButton>(root, name))
        b->click();
}

void type(QWidget* root, const char* field, const QString& text)
{
    if (auto* f = child<QLineEdit>(root, field))
        f->setText(text);
}

bool waitFor(const std::function<bool()>& done, int ms = 10000)
{
    return QTest::qWaitFor(done, ms);
}

void renderReviewViews()
{
    const QStringList options = {"dog", "cat", "horse", "a rather long option text that will not fit in one row"};
    QuizView before("le chat (n.)", options, "cat", [](int) {});
    shot(&before, "quiz-before");
    QuizView right("le chat (n.)", options, "cat", [](int) {});
    right.pick(1);
    shot(&right, "quiz-right");
    QuizView wrong("le chat (n.)", options, "cat", [](int) {});
    wrong.pick(0);
    shot(&wrong, "quiz-wrong");
    QuizView longer("a question that is so long that it needs three lines of text in the panel, or maybe even "
                    "more than that",
                    options, "cat", [](int) {});
    longer.pick(3);
    shot(&longer, "quiz-long");

    TypingView fresh("la pomme", "apple", [](int) {});
    shot(&fresh, "typing-fresh");
    TypingView correct("la pomme", "apple", [](int) {});
    type(&correct, "answerField", "apple");
    click(&correct, "submitButton");
    shot(&correct, "typing-correct");
    TypingView close("la pomme", "apple", [](int) {});
    type(&close, "answerField", "aple");
    click(&close, "submitButton");
    shot(&close, "typing-close");
    TypingView partial("grand", "big, large", [](int) {});
    type(&partial, "answerField", "larg");
    click(&partial, "submitButton");
    shot(&partial, "typing-partial");
    TypingView confirm("la pomme", "apple", [](int) {});
    type(&confirm, "answerField", "pear");
    click(&confirm, "submitButton");
    type(&confirm, "confirmField", "app");
    shot(&confirm, "typing-confirm");
    type(&confirm, "confirmField", "apple");
    click(&confirm, "confirmButton");
    shot(&confirm, "typing-wrong-reported");
    TypingView dontKnow("bonjour (idiom)", "hello", [](int) {});
    click(&dontKnow, "dontKnowButton");
    shot(&dontKnow, "typing-dont-know");
    TypingView both("grand", "big, large", [](int) {});
    type(&both, "answerField", "larg");
    click(&both, "submitButton");
    type(&both, "answerField", "zzz");
    emit child<QLineEdit>(&both, "answerField")->returnPressed();
    both.setFixedHeight(340); // in a card-sized panel the content scrolls
    shot(&both, "typing-offer-and-confirm");
}

void renderForms()
{
    // A server that accepts and never answers keeps a sign-in running; closing
    // it then ends the sign-in with an error.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    const QByteArray previousBase = qgetenv("TAVLO_API_BASE_URL");
    qputenv("TAVLO_API_BASE_URL", QStringLiteral("http://127.0.0.1:%1/api").arg(silent.serverPort()).toUtf8());
    {
        LoginView login([] {});
        shot(&login, "login-empty");
        type(&login, "email", "learner@example.org");
        type(&login, "password", "secret");
        shot(&login, "login-filled");
        login.login();
        shot(&login, "login-signing-in");
        waitFor([&] { return silent.hasPendingConnections(); });
        delete silent.nextPendingConnection();
        silent.close(); // Qt tries once more on a connection closed unanswered
        waitFor([&] { return !login.isLoading(); });
        shot(&login, "login-error");
    }
    qputenv("TAVLO_API_BASE_URL", previousBase);

    SettingsView settings(5, 5, [](int, int) {}, [] {});
    settings.setFixedSize(420, 340); // the size of its panel
    shot(&settings, "settings");
}

void renderJournalViews(ServiceProcess& service)
{
    {
        QuickNoteView view([] {});
        shot(&view, "note-empty");
        child<QPlainTextEdit>(&view, "noteEditor")
            ->setPlainText(QStringLiteral("ser vs estar\nser = identity, origin\nestar = location, **states**\n"
                                          "Es tarde. Estoy cansado."));
        shot(&view, "note-typed");
        click(&view, "previewSegment");
        shot(&view, "note-preview");
        click(&view, "editSegment");
        service.control(QStringLiteral("fault"),
                        {{"mode", "status"}, {"status", 500}, {"path", "/api/journal/normalize"}});
        click(&view, "standardizeButton");
        waitFor([&] { return child(&view, "errorLabel")->isVisible(); });
        shot(&view, "note-error");
        click(&view, "standardizeButton");
        waitFor([&] { return child(&view, "badge")->isVisible(); });
        shot(&view, "note-standardized");
        click(&view, "saveButton");
        waitFor([&] { return child(&view, "savedHeadline")->isVisible(); });
        shot(&view, "note-saved");
    }
    bool done = false;
    QObject context;
    JournalService::createEntry(QStringLiteral("A note with many tags and a rather long title that will not fit"),
                                QStringLiteral("x"), {"one", "two", "three", "four", "five", "six"}, &context,
                                [&](Result<JournalEntryData>) { done = true; });
    waitFor([&] { return done; });
    service.control(QStringLiteral("fault"), {{"mode", "delay"}, {"delayMs", 800}, {"path", "/api/journal"}});
    JournalListView view([] {});
    shot(&view, "journal-loading");
    waitFor([&] { return !view.entries().isEmpty(); });
    shot(&view, "journal-list");
    QTest::keyClicks(child<QLineEdit>(&view, "searchField"), QStringLiteral("zebra"));
    shot(&view, "journal-no-match");
    child<QLineEdit>(&view, "searchField")->clear();
    JournalEntryData sample = view.entries().last();
    sample.content += QStringLiteral("\n\n## Code\n```\nlet a = 1 // **not bold**\nprint(a)\n```\n"
                                     "* a [link](https://example.com) and `span`\n### Small heading\ntext after");
    view.startEditing(sample);
    shot(&view, "journal-edit");
    click(&view, "previewSegment");
    shot(&view, "journal-edit-preview");
    click(&view, "backButton");
    view.confirmDelete(view.entries().first());
    QTest::qWait(100);
    if (QMessageBox* alert = view.deleteAlert()) {
        shot(alert, "journal-delete-alert");
        alert->reject();
    }
    service.control(QStringLiteral("fault"), {{"mode", "status"}, {"status", 500}, {"body", "db down"},
                                                       {"path", "/api/journal"}});
    view.fetchEntries();
    waitFor([&] { return child(&view, "errorLabel")->isVisible(); });
    shot(&view, "journal-error");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    outDir = args.value(0, QStringLiteral("."));
    QDir().mkpath(outDir);
    if (args.contains(QStringLiteral("--dark"))) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(Theme::darkPalette());
        suffix = QStringLiteral("-dark");
    }
    // The desktop's language (LANG, LC_ALL) unless one is named here.
    if (const qsizetype at = args.indexOf(QStringLiteral("--locale")); at >= 0 && at + 1 < args.size()) {
        QLocale::setDefault(QLocale(args.at(at + 1)));
        suffix += QLatin1Char('-') + QLocale().name();
    }
    Translations::install();
    SoundEffects::setObserver([](SoundEffects::Sound) {});

    renderReviewViews();
    renderForms();

    ServiceProcess service;
    if (!service.start({QStringLiteral("--test-control")})) {
        std::fprintf(stderr, "no study service; the journal views are left out\n");
        return 1;
    }
    qputenv("TAVLO_API_BASE_URL", service.baseURL.toUtf8());
    bool signedIn = false, answered = false;
    APIClient::login(QStringLiteral("demo@tavlo.app"), QStringLiteral("tavlo-demo"), nullptr, [&](Result<void> r) {
        signedIn = r.ok();
        answered = true;
    });
    waitFor([&] { return answered; });
    if (!signedIn) {
        std::fprintf(stderr, "could not sign in (is there a keyring? run inside scripts/test-env.sh)\n");
        return 1;
    }
    renderJournalViews(service);
    return 0;
}
