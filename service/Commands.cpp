#include "service/Commands.h"

#include "service/Backup.h"
#include "service/CardExport.h"
#include "service/CardImport.h"
#include "service/SqlStore.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace study {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: tavlo-study-service account add EMAIL [--db FILE]\n"
    "       tavlo-study-service account passwd EMAIL [--db FILE]\n"
    "       tavlo-study-service account list [--db FILE]\n"
    "       tavlo-study-service account remove EMAIL [--yes] [--db FILE]\n"
    "       tavlo-study-service backup DIR [--db FILE]\n"
    "       tavlo-study-service import --account EMAIL --deck NAME [--columns LIST] [--strict] FILE [--db FILE]\n"
    "       tavlo-study-service export --account EMAIL --format csv|json [--db FILE]\n";


int usage(const QString& message)
{
    complain(message, kUsage);
    std::fputs(kUsageText, stderr);
    return kUsage;
}

// One line from standard input, without echo when it is a terminal.
std::optional<QString> readSecret(const QString& prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "%s", qPrintable(prompt));
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    std::string line;
    const bool got = bool(std::getline(std::cin, line));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!got)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

// A new password: asked twice on a terminal, one line otherwise.
std::optional<QString> newPassword(const QString& email, QString* error)
{
    const std::optional<QString> first = readSecret(QStringLiteral("Password for %1: ").arg(email));
    if (!first || first->isEmpty()) {
        *error = QStringLiteral("empty password; nothing changed");
        return std::nullopt;
    }
    if (::isatty(STDIN_FILENO) && readSecret(QStringLiteral("Again: ")) != first) {
        *error = QStringLiteral("the passwords differ; nothing changed");
        return std::nullopt;
    }
    return first;
}

bool confirmed(const QString& question)
{
    std::fprintf(stderr, "%s [y/N] ", qPrintable(question));
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    const QString a = QString::fromStdString(answer).trimmed().toLower();
    return a == QLatin1String("y") || a == QLatin1String("yes");
}

bool plausibleEmail(const QString& email)
{
    const qsizetype at = email.indexOf(u'@');
    return at > 0 && at < email.size() - 1 && !email.contains(u' ') && email.size() <= 254;
}

// What a command looks like: its words, how many arguments follow them, and
// the options it takes besides --db.
struct Shape {
    QStringList words;
    int arguments;
    QStringList options;
};

const QList<Shape>& shapes()
{
    static const QList<Shape> all{
        {{"account", "add"}, 1, {}},
        {{"account", "passwd"}, 1, {}},
        {{"account", "list"}, 0, {}},
        {{"account", "remove"}, 1, {"yes"}},
        {{"backup"}, 1, {}},
        {{"import"}, 1, {"account", "deck", "columns", "strict"}},
        {{"export"}, 0, {"account", "format"}},
    };
    return all;
}

int importCards(StudyStore& store, const QString& email, const QString& deck, const QString& path,
                const ImportOptions& options, bool strict)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return complain(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const ParsedCards parsed = parseCards(file.readAll(), options);
    // A file that is no card file at all has a problem on every line: the
    // first ones say what is wrong, the count says how much.
    constexpr qsizetype shownProblems = 50;
    for (const ImportProblem& problem : parsed.problems.first(std::min(parsed.problems.size(), shownProblems)))
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(problem.message()));
    if (parsed.problems.size() > shownProblems)
        std::fprintf(stderr, "%s: %lld more rows refused\n", qPrintable(path), static_cast<long long>(parsed.problems.size() - shownProblems));
    if (strict && !parsed.problems.isEmpty())
        return complain(QStringLiteral("nothing imported: %1 row(s) refused (--strict)").arg(parsed.problems.size()));
    QList<NewCard> cards;
    cards.reserve(parsed.cards.size());
    for (const ParsedCard& c : parsed.cards)
        cards.append(NewCard{c.front, c.back, c.notes, c.tags});
    QString error;
    const std::optional<AddedCards> added = store.addCards(email, deck, cards, &error);
    if (!added)
        return complain(QStringLiteral("nothing imported: %1").arg(error));
    std::printf("%d added to %s, %d skipped as duplicates, %d refused\n", added->added, qPrintable(deck),
                added->skipped + int(parsed.duplicates.size()), int(parsed.problems.size()));
    return parsed.problems.isEmpty() ? 0 : kFailed;
}

int exportCards(StudyStore& store, const QString& email, const QString& format)
{
    QList<ExportedCard> cards;
    for (const Card& c : store.cards(email))
        cards.append(ExportedCard{c.front, c.back, c.notes, c.tags, c.deckName});
    const QByteArray out = format == QLatin1String("csv") ? writeCsv(cards) : writeJson(cards);
    if (std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size()) || std::fflush(stdout) != 0)
        return complain(QStringLiteral("cannot write the cards to standard output"));
    return 0;
}

} // namespace

int complain(const QString& message, int exitCode)
{
    std::fprintf(stderr, "tavlo-study-service: %s\n", qPrintable(message));
    return exitCode;
}

QString defaultDatabasePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/tavlo-study-service/study.sqlite");
}

bool isCommand(const QStringList& arguments)
{
    for (const Shape& shape : shapes())
        if (!arguments.isEmpty() && arguments.first() == shape.words.first())
            return true;
    return false;
}

int runCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption dbOpt(QStringLiteral("db"), QStringLiteral("The database."), QStringLiteral("FILE"),
                                   defaultDatabasePath());
    const QCommandLineOption yesOpt(QStringLiteral("yes"), QStringLiteral("Do not ask before removing."));
    const QCommandLineOption accountOpt(QStringLiteral("account"), QStringLiteral("Whose cards."), QStringLiteral("EMAIL"));
    const QCommandLineOption deckOpt(QStringLiteral("deck"), QStringLiteral("The deck to add to."), QStringLiteral("NAME"));
    const QCommandLineOption columnsOpt(QStringLiteral("columns"), QStringLiteral("The file's columns."),
                                        QStringLiteral("LIST"));
    const QCommandLineOption strictOpt(QStringLiteral("strict"), QStringLiteral("Add nothing if a row is refused."));
    const QCommandLineOption formatOpt(QStringLiteral("format"), QStringLiteral("csv or json."), QStringLiteral("FORMAT"));
    parser.addOptions({dbOpt, yesOpt, accountOpt, deckOpt, columnsOpt, strictOpt, formatOpt});
    if (!parser.parse(QStringList{QStringLiteral("tavlo-study-service")} + arguments))
        return usage(parser.errorText());
    const QStringList words = parser.positionalArguments();
    const QString db = parser.value(dbOpt);

    const auto shape = std::find_if(shapes().begin(), shapes().end(), [&](const Shape& s) {
        return words.mid(0, s.words.size()) == s.words;
    });
    if (shape == shapes().end())
        return usage(QStringLiteral("unknown command %1").arg(words.join(u' ')));
    const QString command = shape->words.join(u' ');
    if (words.size() != shape->words.size() + shape->arguments)
        return usage(QStringLiteral("wrong number of arguments for %1").arg(command));
    for (const QString& name : parser.optionNames())
        if (name != QLatin1String("db") && !shape->options.contains(name))
            return usage(QStringLiteral("--%1 does not go with %2").arg(name, command));
    const bool cardCommand = shape->options.contains(QStringLiteral("account"));
    if (cardCommand) {
        for (const QString& name : shape->options)
            if (name != QLatin1String("columns") && name != QLatin1String("strict") && !parser.isSet(name))
                return usage(QStringLiteral("%1 needs --%2").arg(command, name));
        if (words[0] == QLatin1String("export") && parser.value(formatOpt) != QLatin1String("csv")
            && parser.value(formatOpt) != QLatin1String("json"))
            return usage(QStringLiteral("--format is csv or json"));
        if (words[0] == QLatin1String("import") && parser.value(deckOpt).trimmed().isEmpty())
            return usage(QStringLiteral("--deck needs a name"));
    }
    const bool list = command == QLatin1String("account list");
    const bool backup = command == QLatin1String("backup");

    // Only a new account may make a new database; anything else on a missing file is a mistake.
    const bool adding = command == QLatin1String("account add");
    if (!adding && !QFileInfo(db).isFile())
        return complain(QStringLiteral("no database at %1 (give --db FILE)").arg(db));
    QString error;
    SqlStore::OpenOptions options;
    options.seedNew = false;
    const std::unique_ptr<SqlStore> store = SqlStore::open(db, options, &error);
    if (!store)
        return complain(error);

    if (backup) {
        const QString name = QStringLiteral("study-%1.sqlite")
                                 .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        const QString path = writeBackup(*store, words[1], name, &error);
        if (path.isEmpty())
            return complain(QStringLiteral("backup failed: %1").arg(error));
        std::printf("%s\n", qPrintable(path));
        return 0;
    }
    if (cardCommand) {
        const QString email = parser.value(accountOpt).trimmed();
        if (!store->account(email))
            return complain(QStringLiteral("no account %1").arg(email));
        if (words[0] == QLatin1String("export"))
            return exportCards(*store, email, parser.value(formatOpt));
        ImportOptions options;
        options.columns = parser.value(columnsOpt);
        return importCards(*store, email, parser.value(deckOpt).trimmed(), words[1], options,
                           parser.isSet(strictOpt));
    }
    if (list) {
        for (const Account& a : store->accounts())
            std::printf("%s\n", qPrintable(a.email));
        return 0;
    }

    const QString email = words[2].trimmed();
    if (!plausibleEmail(email))
        return complain(QStringLiteral("%1 is not an e-mail address").arg(words[2]));
    if (adding) {
        if (store->account(email))
            return complain(QStringLiteral("an account %1 exists already").arg(email));
        const std::optional<QString> password = newPassword(email, &error);
        if (!password)
            return complain(error);
        if (!store->addAccount(makeAccount(email, *password), &error))
            return complain(QStringLiteral("cannot add %1: %2").arg(email, error));
        std::fprintf(stderr, "added %s\n", qPrintable(email));
        return 0;
    }
    if (!store->account(email))
        return complain(QStringLiteral("no account %1").arg(email));
    StudyStore::Outcome outcome;
    if (command == QLatin1String("account passwd")) {
        const std::optional<QString> password = newPassword(email, &error);
        if (!password)
            return complain(error);
        outcome = store->setPassword(email, makeAccount(email, *password), &error);
    } else {
        if (!parser.isSet(yesOpt)
            && !confirmed(QStringLiteral("Remove %1 and all its cards, reviews and journal entries?").arg(email)))
            return complain(QStringLiteral("nothing removed"));
        outcome = store->removeAccount(email, &error);
    }
    if (outcome == StudyStore::Outcome::NotFound)
        return complain(QStringLiteral("no account %1").arg(email));
    if (outcome == StudyStore::Outcome::Failed)
        return complain(QStringLiteral("cannot change %1: %2").arg(email, error));
    std::fprintf(stderr, "%s %s\n", command == QLatin1String("account passwd") ? "changed the password of" : "removed",
                 qPrintable(email));
    return 0;
}

} // namespace study
