#include "service/Commands.h"

#include "service/Backup.h"
#include "service/SqlStore.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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
    "       tavlo-study-service backup DIR [--db FILE]\n";

int complain(const QString& message, int code = kFailed)
{
    std::fprintf(stderr, "tavlo-study-service: %s\n", qPrintable(message));
    return code;
}

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

} // namespace

QString defaultDatabasePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/tavlo-study-service/study.sqlite");
}

bool isCommand(const QStringList& arguments)
{
    return !arguments.isEmpty()
           && (arguments.first() == QLatin1String("account") || arguments.first() == QLatin1String("backup"));
}

int runCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption dbOpt(QStringLiteral("db"), QStringLiteral("The database."), QStringLiteral("FILE"),
                                   defaultDatabasePath());
    const QCommandLineOption yesOpt(QStringLiteral("yes"), QStringLiteral("Do not ask before removing."));
    parser.addOptions({dbOpt, yesOpt});
    if (!parser.parse(QStringList{QStringLiteral("tavlo-study-service")} + arguments))
        return usage(parser.errorText());
    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0) + u' ' + words.value(1);
    const QString db = parser.value(dbOpt);

    static const QStringList withEmail{QStringLiteral("account add"), QStringLiteral("account passwd"),
                                       QStringLiteral("account remove")};
    const bool list = command == QLatin1String("account list");
    const bool backup = words.value(0) == QLatin1String("backup");
    if (!withEmail.contains(command) && !list && !backup)
        return usage(QStringLiteral("unknown command %1").arg(words.join(u' ')));
    if ((backup ? 2 : list ? 2 : 3) != words.size())
        return usage(QStringLiteral("wrong number of arguments for %1").arg(backup ? words.value(0) : command));
    if (parser.isSet(yesOpt) && command != QLatin1String("account remove"))
        return usage(QStringLiteral("--yes goes with account remove only"));

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
