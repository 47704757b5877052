#pragma once
// The shared draft store on a fresh INI file for the life of the object.
#include "journal/DraftStore.h"

#include <QTemporaryDir>

class PrivateDrafts {
public:
    PrivateDrafts()
    {
        path_ = dir_.filePath(QStringLiteral("TavloPopup.conf"));
        DraftStore::useSharedFile(path_);
    }
    ~PrivateDrafts() { DraftStore::useSharedFile({}); }
    QString path() const { return path_; }
    DraftStore& store() { return DraftStore::shared(); }

private:
    QTemporaryDir dir_;
    QString path_;
};
