// Keeps the store in one JSON file, replaced atomically on every change so a
// crash or power cut leaves either the old or the new file, never half of one.
#pragma once

#include "service/StudyStore.h"

#include <QString>

namespace study {

// Loads `path` into `store`. A missing file is not an error: the store keeps
// its seed and the file is written. A file that cannot be read or parsed is
// an error (reported in `error`) so that it is never overwritten blindly.
bool loadDataFile(const QString& path, StudyStore* store, QString* error);

// Writes the store to `path`: temporary file, fsync, rename, fsync of the folder.
bool saveDataFile(const QString& path, const StudyStore& store, QString* error);

} // namespace study
