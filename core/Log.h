#pragma once
#include <QByteArray>
#include <QString>

class QDateTime;

// Appends one line to the diagnostic log (syslog and /tmp/tavlopopup.log).
// Never fails towards the caller; callable from any thread.
void log(const QString& message);

namespace LogFile {
// The file every line goes to: "/tmp/tavlopopup.log" in the agent.
QString path();
// Points the log at another file; an empty path restores the default.
void setPath(const QString& path);
// The line as written for a message at the given instant (UTC, no fractions).
QByteArray formatLine(const QString& message, const QDateTime& when);
} // namespace LogFile
