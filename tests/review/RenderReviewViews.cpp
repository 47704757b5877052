// Renders the review views in each of their states to PNG files, for looking
// at them: review_render OUTDIR   (runs under the offscreen platform)
#include "QuizView.h"
#include "SoundEffects.h"
#include "TypingView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

namespace {

QString outDir;

void save(QWidget* w, const char* name)
{
    w->adjustSize();
    w->show();
    QApplication::processEvents();
    const QString path = QDir(outDir).filePath(QString::fromLatin1(name) + ".png");
    w->grab().save(path);
    std::printf("%s %dx%d\n", qPrintable(path), w->width(), w->height());
}

void clickNamed(QWidget* root, const char* name)
{
    if (auto* b = root->findChild<QAbstractButton*>(QString::fromLatin1(name)))
        b->click();
}

void type(QWidget* root, const char* field, const QString& text)
{
    if (auto* f = root->findChild<QLineEdit*>(QString::fromLatin1(field)))
        f->setText(text);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    SoundEffects::setObserverForTesting([](SoundEffects::Sound) {});

    const QStringList options = {"dog", "cat", "horse", "a rather long option text that will not fit in one row"};
    QuizView before("le chat (n.)", options, "cat", [](int) {});
    save(&before, "quiz-before");
    QuizView right("le chat (n.)", options, "cat", [](int) {});
    right.pick(1);
    save(&right, "quiz-right");
    QuizView wrong("le chat (n.)", options, "cat", [](int) {});
    wrong.pick(0);
    save(&wrong, "quiz-wrong");
    QuizView longQuestion("a question that is long enough to need two lines of text in the panel", options,
                          "cat", [](int) {});
    save(&longQuestion, "quiz-long");
    QuizView longer("a question that is so long that it needs three lines of text in the panel, or maybe even "
                    "more than that",
                    options, "cat", [](int) {});
    longer.pick(3);
    save(&longer, "quiz-longer");

    TypingView fresh("la pomme", "apple", [](int) {});
    save(&fresh, "typing-fresh");
    TypingView typed("la pomme", "apple", [](int) {});
    type(&typed, "answerField", "appl");
    save(&typed, "typing-typed");
    TypingView correct("la pomme", "apple", [](int) {});
    type(&correct, "answerField", "apple");
    clickNamed(&correct, "submitButton");
    save(&correct, "typing-correct");
    TypingView close("la pomme", "apple", [](int) {});
    type(&close, "answerField", "aple");
    clickNamed(&close, "submitButton");
    save(&close, "typing-close");
    TypingView partial("grand", "big, large", [](int) {});
    type(&partial, "answerField", "larg");
    clickNamed(&partial, "submitButton");
    save(&partial, "typing-partial");
    TypingView confirm("la pomme", "apple", [](int) {});
    type(&confirm, "answerField", "pear");
    clickNamed(&confirm, "submitButton");
    type(&confirm, "confirmField", "app");
    save(&confirm, "typing-confirm");
    TypingView confirmed("la pomme", "apple", [](int) {});
    type(&confirmed, "answerField", "pear");
    clickNamed(&confirmed, "submitButton");
    type(&confirmed, "confirmField", "apple");
    save(&confirmed, "typing-confirm-ready");
    clickNamed(&confirmed, "confirmButton");
    save(&confirmed, "typing-wrong-reported");
    TypingView dontKnow("bonjour (idiom)", "hello", [](int) {});
    clickNamed(&dontKnow, "dontKnowButton");
    save(&dontKnow, "typing-dont-know");
    TypingView both("grand", "big, large", [](int) {});
    type(&both, "answerField", "larg");
    clickNamed(&both, "submitButton");
    type(&both, "answerField", "zzz");
    both.findChild<QLineEdit*>("answerField")->returnPressed();
    save(&both, "typing-offer-and-confirm");
    // The same in a panel of the card size: the content scrolls.
    both.setFixedHeight(340);
    QApplication::processEvents();
    both.grab().save(QDir(outDir).filePath("typing-offer-and-confirm-340.png"));
    TypingView longCard("a prompt long enough to wrap over two or even three lines in the panel at the top",
                        "first meaning, second meaning; a third and rather longer meaning of it", [](int) {});
    type(&longCard, "answerField", "second meanin");
    clickNamed(&longCard, "submitButton");
    save(&longCard, "typing-long-partial");
    return 0;
}
