// The command-line side of tavlo-study-service: accounts, card files and
// backups of a database, run as `tavlo-study-service COMMAND ...` beside or instead of the service.
#pragma once

#include <QString>
#include <QStringList>

namespace study {

// True when `arguments` (argv without the program) start with a command word.
bool isCommand(const QStringList& arguments);
// Runs the command; the exit code (0 done, 1 failed, 2 bad usage). Messages go
// to stderr, results to stdout.
int runCommand(const QStringList& arguments);

// Writes "tavlo-study-service: MESSAGE" to stderr and gives back `exitCode`
// (1: a command failed).
int complain(const QString& message, int exitCode = 1);

// Where the user service keeps its database unless told otherwise.
QString defaultDatabasePath();

} // namespace study
