#pragma once
#include <QString>

// Appends one line to the diagnostic log (syslog and /tmp/tavlopopup.log).
// Never fails towards the caller; callable from any thread.
void log(const QString& message);
