#pragma once
#include <QByteArray>
#include <QString>

class QDateTime;

// Appends one line to the diagnostic log (syslog and /tmp/tavlopopup.log).
// Never fails towards the caller; callable from any thread. The message is
// written as LogFile::oneLine() gives it.
void log(const QString& message);

namespace LogFile {
// The file every line goes to: "/tmp/tavlopopup.log" in the agent.
QString path();
// Points the log at another file; an empty path restores the default.
void setPath(const QString& path);
// Characters a message keeps, after escaping, before it is cut.
inline constexpr qsizetype maxMessageCharacters = 2000;
// The message as one bounded line: line breaks and other control characters
// escaped ("\n", "\r", "\t", "\u001b"), and cut after maxMessageCharacters
// with a marker saying so. Text without such characters stays as it is.
QString oneLine(const QString& message);
// The line as written for a message at the given instant (UTC, no fractions).
QByteArray formatLine(const QString& message, const QDateTime& when);
} // namespace LogFile
