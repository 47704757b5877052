// Every panel in its states, light and dark, read as a learner with low
// vision reads it (the contrast of every text against what it is drawn on)
// and in the learner's language.
#include "TestSupport.h"

#include "api/KeychainService.h"
#include "app/AppDelegate.h"
#include "app/LoginView.h"
#include "app/SettingsView.h"
#include "journal/JournalListView.h"
#include "journal/JournalRow.h"
#include "journal/QuickNoteView.h"
#include "review/QuizView.h"
#include "review/SoundEffects.h"
#include "review/TypingView.h"
#include "journal/JournalText.h"
#include "ui/Theme.h"
#include "ui/Translations.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

template <class W = QWidget>
W* child(QWidget* root, const char* name)
{
    W* w = root->findChild<W*>(QString::fromLatin1(name));
    EXPECT_TRUE(w) << name;
    return w;
}

void answer(QWidget* view, const char* field, const QString& text, const char* button)
{
    child<QLineEdit>(view, field)->setText(text);
    child<QAbstractButton>(view, button)->click();
}

JournalEntryData entry(std::int64_t id, const QString& title, const QStringList& tags)
{
    return {id, title, QStringLiteral("ser = identity"), tags, QStringLiteral("2025-01-15T10:00:00Z"), std::nullopt};
}

// Each view in each of the states that colour its texts differently.
using Shot = std::pair<QString, QWidget*>;
std::vector<Shot> everyView(std::vector<std::unique_ptr<QWidget>>& keep)
{
    std::vector<Shot> out;
    auto add = [&](const QString& name, QWidget* w) {
        if (!w->parent())
            keep.emplace_back(w);
        w->adjustSize();
        w->show();
        out.emplace_back(name, w);
        return w;
    };
    const QStringList options = {"dog", "cat", "horse", "bird"};
    add("quiz", new QuizView("le chat", options, "cat", {}));
    static_cast<QuizView*>(add("quiz-right", new QuizView("le chat", options, "cat", {})))->pick(1);
    static_cast<QuizView*>(add("quiz-wrong", new QuizView("le chat", options, "cat", {})))->pick(0);
    const std::pair<const char*, const char*> typed[] = {{"typing-right", "apple"}, {"typing-close", "aple"},
                                                         {"typing-partial", "larg"}, {"typing-wrong", "pear"}};
    for (auto [name, text] : typed) {
        QWidget* v = add(name, new TypingView("la pomme", QString::fromLatin1(name) == "typing-partial" ? "big, large" : "apple", {}));
        answer(v, "answerField", text, "submitButton");
    }
    add("typing-dont-know", new TypingView("bonjour", "hello", {}))->findChild<QAbstractButton*>("dontKnowButton")->click();

    auto* login = static_cast<LoginView*>(add("login-error", new LoginView({})));
    child<QLineEdit>(login, "email")->setText("learner@example.org");
    child<QLineEdit>(login, "password")->setText("secret");
    login->login();
    EXPECT_TRUE(waitUntil([&] { return !login->isLoading(); }));
    add("settings", new SettingsView(5, 5, {}, {}));
    add("note", new QuickNoteView({}));

    auto* journal = static_cast<JournalListView*>(add("journal-error", new JournalListView({})));
    EXPECT_TRUE(waitUntil([&] { return child(journal, "errorLabel")->isVisible(); }));
    auto* list = new JournalListView({});
    add("journal-list", list);
    EXPECT_TRUE(waitUntil([&] { return child(list, "errorLabel")->isVisible(); }));
    const QList<JournalEntryData> entries = {entry(1, "ser vs estar", {"grammar", "spanish"}),
                                             entry(2, "A rather long title of a note", {"one", "two", "three", "four"})};
    list->showEntries(entries);
    auto* editing = new JournalListView({});
    add("journal-edit", editing);
    EXPECT_TRUE(waitUntil([&] { return child(editing, "errorLabel")->isVisible(); }));
    editing->showEntries(entries);
    editing->startEditing(entries.first());
    editing->confirmDelete(entries.first());
    EXPECT_TRUE(waitUntil([&] { return editing->deleteAlert() && editing->deleteAlert()->isVisible(); }));
    out.emplace_back("journal-delete-alert", editing->deleteAlert());
    return out;
}

struct Reading {
    QString where;
    double ratio;
};

// The text colour as painted against the fill under it: the median colour
// inside the border (text covers the lesser part; a gradient counts at its
// middle).
Reading readText(const QString& view, QWidget* top, QWidget* w, const QImage& image)
{
    const QRect area = QRect(w->mapTo(top, QPoint(0, 0)), w->size()).adjusted(2, 2, -2, -2).intersected(image.rect());
    QList<QColor> pixels;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            pixels.append(QColor(image.pixel(x, y)));
    if (pixels.isEmpty())
        return {QString(), 21};
    auto middle = pixels.begin() + pixels.size() / 2;
    std::nth_element(pixels.begin(), middle, pixels.end(),
                     [](const QColor& a, const QColor& b) { return Theme::contrast(a, Qt::black) < Theme::contrast(b, Qt::black); });
    const QColor fill = *middle;
    double best = 1;
    for (const QColor& c : std::as_const(pixels))
        best = std::max(best, Theme::contrast(c, fill));
    return {view + QLatin1Char('/') + w->objectName() + QLatin1Char('/') + QString::fromLatin1(w->metaObject()->className()), best};
}

QString textOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return {};
}

class Views : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        SoundEffects::setObserver([](SoundEffects::Sound) {});
        qputenv("TAVLO_API_BASE_URL", "http://127.0.0.1:1/api");
        saved = QApplication::palette();
        if (GetParam())
            QApplication::setPalette(Theme::darkPalette());
        shots = everyView(keep);
        drainEvents();
    }
    void TearDown() override
    {
        keep.clear();
        QApplication::setPalette(saved);
    }
    QPalette saved;
    std::vector<std::unique_ptr<QWidget>> keep;
    std::vector<Shot> shots;
};

TEST_P(Views, EveryTextReadsAtLeastFourAndAHalfToOne)
{
    for (const auto& [name, view] : shots) {
        const QImage image = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (QWidget* w : view->findChildren<QWidget*>()) {
            if (w->window() != view || !w->isVisibleTo(view) || (!w->isEnabled() && qobject_cast<QPushButton*>(w)) || textOf(w).trimmed().isEmpty())
                continue;
            const Reading r = readText(name, view, w, image);
            EXPECT_GE(r.ratio, 4.5) << r.where.toStdString() << " \"" << textOf(w).toStdString() << "\"";
        }
    }
}

TEST_P(Views, EveryControlHasANameForScreenReaders)
{
    const QSet<QAccessible::Role> controls = {QAccessible::PushButton, QAccessible::CheckBox, QAccessible::RadioButton,
                                              QAccessible::ComboBox, QAccessible::Slider, QAccessible::SpinBox,
                                              QAccessible::EditableText, QAccessible::Link, QAccessible::PageTab};
    std::function<void(QAccessibleInterface*, const QString&)> walk = [&](QAccessibleInterface* node, const QString& view) {
        if (!node || node->state().invisible)
            return;
        const bool unnamed = node->text(QAccessible::Name).trimmed().isEmpty() && node->text(QAccessible::Value).trimmed().isEmpty();
        EXPECT_FALSE(controls.contains(node->role()) && unnamed)
            << view.toStdString() << ": " << (node->object() ? node->object()->objectName().toStdString() : "?");
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i), view);
    };
    for (const auto& [name, view] : shots)
        walk(QAccessible::queryAccessibleInterface(view), name);
}

// A settings portal on the test's own session bus.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 1;
public slots:
    QDBusVariant ReadOne(const QString&, const QString&) { return QDBusVariant(scheme); }
signals:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

bool panelIsDark()
{
    QuizView quiz("le chat", {"dog", "cat"}, "cat", {});
    return quiz.grab().toImage().pixelColor(2, 2).lightness() < 128;
}

TEST(DesktopScheme, PanelsFollowThePortalAndElseTheApplicationPalette)
{
    const QPalette light = QApplication::palette();
    ASSERT_FALSE(Theme::isDark());
    {
        FakePortal portal;
        // Its own connection, so that its answers and signals really cross the bus.
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "portal");
        ASSERT_TRUE(bus.registerObject("/org/freedesktop/portal/desktop", &portal,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
        Theme::followDesktop();
        EXPECT_TRUE(waitUntil([] { return Theme::isDark(); }));
        EXPECT_TRUE(panelIsDark());
        emit portal.SettingChanged("org.freedesktop.appearance", "color-scheme", QDBusVariant(2u));
        EXPECT_TRUE(waitUntil([] { return !Theme::isDark(); }));
        EXPECT_FALSE(panelIsDark());
        bus.unregisterService("org.freedesktop.portal.Desktop");
        bus.unregisterObject("/org/freedesktop/portal/desktop");
        QDBusConnection::disconnectFromBus("portal");
    }
    QApplication::setPalette(Theme::darkPalette());
    Theme::followDesktop(); // no portal now: the palette decides
    EXPECT_TRUE(waitUntil([] { return Theme::isDark(); }));
    QApplication::setPalette(light);
}

TEST(Keyboard, EveryPanelAnswersItsKeys)
{
    qputenv("TAVLO_API_BASE_URL", "http://127.0.0.1:1/api");
    bool cancelled = false;
    SettingsView settings(5, 5, {}, [&] { cancelled = true; });
    JournalListView journal({});
    journal.show();
    ASSERT_TRUE(waitUntil([&] { return child(&journal, "errorLabel")->isVisible(); }));
    const JournalEntryData long_ = entry(1, "Learned: ser is for identity, estar is for states and places", {});
    journal.showEntries({long_});
    settings.show();
    QList<int> picked;
    auto quiz = [&] { return std::make_unique<QuizView>("hola", QStringList {"hello", "bye", "thanks"}, "hello", [&](int q) { picked << q; }); };
    const std::pair<const char*, std::function<bool()>> table[] = {
        {"the journal opens on its search", [&] { return journal.focusWidget() == child(&journal, "searchField"); }},
        {"Escape cancels the settings", [&] { QTest::keyClick(&settings, Qt::Key_Escape); return cancelled; }},
        {"Delete on a row asks to delete it", [&] {
             QTest::keyClick(journal.findChild<JournalRow*>(), Qt::Key_Delete);
             const bool asked = waitUntil([&] { return journal.deleteAlert() && journal.deleteAlert()->isVisible(); });
             if (asked)
                 journal.deleteAlert()->reject();
             return asked;
         }},
        {"Tab reaches the quiz's options, Space and Return answer the one it reached", [&] {
             for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
                 auto view = quiz();
                 view->show();
                 view->activateWindow();
                 EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
                 QTest::keyClick(view.get(), Qt::Key_Tab);
                 QTest::keyClick(view.get(), Qt::Key_Tab);
                 if (view->focusWidget() && view->focusWidget()->objectName() == "option2")
                     QTest::keyClick(view->focusWidget(), key);
             }
             return picked == QList<int> {1, 1};
         }},
        {"a slider shows that it has the keyboard", [&] {
             settings.activateWindow();
             EXPECT_TRUE(QTest::qWaitForWindowActive(&settings));
             settings.minSlider()->clearFocus();
             const QImage before = settings.minSlider()->grab().toImage();
             settings.minSlider()->setFocus(Qt::TabFocusReason);
             return settings.minSlider()->grab().toImage() != before;
         }},
        {"the edit screen shows the start of the title", [&] {
             journal.startEditing(long_);
             return child<QLineEdit>(&journal, "titleField")->cursorPosition() == 0;
         }},
    };
    for (const auto& [what, holds] : table)
        EXPECT_TRUE(holds()) << what;
}

// Every text a view shows or says: labels, buttons, placeholders, tool tips,
// accessible names, window titles.
QStringList visibleTexts(QWidget* view)
{
    QStringList out {view->windowTitle()};
    if (auto* box = qobject_cast<QMessageBox*>(view))
        out << box->text() << box->informativeText();
    QList<QWidget*> widgets = view->findChildren<QWidget*>();
    widgets.prepend(view);
    for (QWidget* w : std::as_const(widgets)) {
        if (!w->isVisibleTo(view) && w != view)
            continue;
        out << textOf(w) << w->toolTip() << w->accessibleName();
        if (auto* e = qobject_cast<QLineEdit*>(w))
            out << e->placeholderText();
        if (auto* e = qobject_cast<QPlainTextEdit*>(w))
            out << e->placeholderText();
    }
    out.removeAll(QString());
    return out;
}

TEST(Language, TheDesktopLocalePicksTheCatalogueAndNoLabelIsCut)
{
    const struct {
        const char* locale;
        bool catalogue;
        QStringList texts;
    } table[] = {
        {"de_DE", true, {"Popup-Einstellungen", "Mindestabstand: 5 Min.", "Abbrechen", "Teilweise richtig", "Als richtig werten"}},
        {"es_MX", true, {"Ajustes de la ventana emergente", "Intervalo máximo: 5 min", "Cancelar", "Respuesta parcial", "Marcar como incorrecta"}},
        {"en_US", false, {"Popup Settings", "Minimum interval: 5 min", "Cancel", "Partial Match", "Accept as Correct"}},
        {"fr_FR", false, {"Popup Settings", "Maximum interval: 5 min", "Save", "Mark Wrong", "Type to confirm:"}},
    };
    const QLocale desktop;
    qputenv("TAVLO_API_BASE_URL", "http://127.0.0.1:1/api");
    SoundEffects::setObserver([](SoundEffects::Sound) {});
    for (const auto& row : table) {
        QLocale::setDefault(QLocale(QString::fromLatin1(row.locale)));
        EXPECT_EQ(Translations::install(), row.catalogue) << row.locale;
        std::vector<std::unique_ptr<QWidget>> keep;
        QStringList shown;
        for (const auto& [name, view] : everyView(keep)) {
            shown += visibleTexts(view);
            for (auto* b : view->findChildren<QAbstractButton*>())
                EXPECT_FALSE(b->isVisibleTo(view) && b->width() < b->sizeHint().width())
                    << row.locale << " " << name.toStdString() << "/" << b->objectName().toStdString();
        }
        for (const QString& text : row.texts)
            EXPECT_TRUE(shown.contains(text)) << row.locale << ": " << text.toStdString();
    }
    QLocale::setDefault(desktop);
}

// Answers every text of the German catalogue with its letters made fullwidth
// ("Save" -> "Ｓａｖｅ"), and nothing else: a plain letter on screen came past
// the catalogue (a raw string, or a tr() context lupdate does not see).
class PseudoCatalogue : public QTranslator {
public:
    PseudoCatalogue()
    {
        QFile file(QStringLiteral(TAVLO_TS_FILE));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString context;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"name")
                context = xml.readElementText();
            else if (xml.name() == u"source")
                known_.insert(context + u'\n' + xml.readElementText());
        }
    }
    bool isEmpty() const override { return known_.isEmpty(); }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        const QString text = QString::fromUtf8(source);
        if (!known_.contains(QString::fromUtf8(context) + u'\n' + text))
            return {};
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == u'%' && i + 1 < text.size()) // %1, %n stay
                out += text.mid(i++, 2);
            else
                out += text[i] < u'\x80' && text[i].isLetter() ? QChar(text[i].unicode() - u'!' + 0xFF01) : text[i];
        }
        return out;
    }

private:
    QSet<QString> known_;
};

TEST(Language, EveryTextTheLearnerSeesComesFromTheCatalogue)
{
    PseudoCatalogue pseudo;
    ASSERT_FALSE(pseudo.isEmpty());
    QCoreApplication::installTranslator(&pseudo);
    qputenv("TAVLO_API_BASE_URL", "http://127.0.0.1:1/api");
    SoundEffects::setObserver([](SoundEffects::Sound) {});
    KeychainService::clearAll();
    std::vector<std::unique_ptr<QWidget>> keep;
    QList<std::pair<QString, QString>> shown; // where, text
    for (const auto& [name, view] : everyView(keep))
        for (const QString& text : visibleTexts(view))
            shown.append({name, text});
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    for (bool paused : {false, true}) {
        EXPECT_TRUE(waitUntil([&] { return !delegate.readingSignedInState(); }));
        for (QAction* item : delegate.menu()->actions())
            shown.append({QStringLiteral("tray menu"), item->text()});
        if (!paused)
            delegate.togglePause();
    }
    // What the learner gave the views, and the dates of entries: theirs, not ours.
    QStringList data = {"le chat", "dog", "cat", "horse", "bird", "la pomme", "apple", "aple", "larg", "large", "big",
                        "pear", "bonjour", "hello", "learner@example.org", "secret", "ser vs estar", "ser = identity",
                        "A rather long title of a note", "grammar", "spanish", "one", "two", "three", "four",
                        "TavloPopup", "Tavlo", JournalText::formatEntryDate("2025-01-15T10:00:00Z")};
    std::sort(data.begin(), data.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    static const QRegularExpression plainLetter(QStringLiteral("[A-Za-z]"));
    for (auto [where, text] : std::as_const(shown)) {
        const QString original = text;
        for (const QString& d : std::as_const(data))
            text.remove(d);
        EXPECT_FALSE(text.contains(plainLetter)) << where.toStdString() << ": \"" << original.toStdString() << "\"";
    }
    QCoreApplication::removeTranslator(&pseudo);
}

INSTANTIATE_TEST_SUITE_P(LightAndDark, Views, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "dark" : "light"; });

} // namespace

#include "ViewAccessTests.moc"
