#pragma once
// Turns SIGTERM, SIGINT and SIGHUP (logout, shutdown, Ctrl+C) into an orderly
// QCoreApplication::quit(), so aboutToQuit runs and pending drafts reach the
// store instead of dying with the process. A second signal while the first is
// still being handled ends the process the default way.

namespace QuitOnSignal {

// Installs (or re-arms) the handlers; call after the application object exists.
// Returns false (and logs) when the wake-up channel cannot be made.
bool install();

} // namespace QuitOnSignal
