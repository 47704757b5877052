#pragma once
// Unsaved quick notes, kept as one JSON array in the per-user settings store
// so they survive the panel closing and the agent restarting.

#include "journal/NoteDraft.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

// What the stores kept in the agent's settings file share.
namespace SettingsFile {
// The INI file at `path`; empty means the per-user QSettings("tavlo", "TavloPopup").
std::unique_ptr<QSettings> open(const QString& path);
// Keeps the bytes stored under `key` under `backupPrefix` plus a time stamp
// (a key no earlier backup uses) before they are overwritten, with a log line.
void keepUnreadable(QSettings& s, const QString& key, const QString& backupPrefix, const QString& what);
} // namespace SettingsFile

class DraftStore {
public:
    static constexpr const char* key = "com.tavlo.popup.drafts";
    // Undecodable values are kept under this prefix plus a time stamp before
    // they are overwritten.
    static constexpr const char* backupKeyPrefix = "com.tavlo.popup.drafts.backup-";

    // The process-wide store, on QSettings("tavlo", "TavloPopup").
    static DraftStore& shared();
    // Points the shared store at an INI file of its own; empty restores the
    // per-user default.
    static void useSharedFile(const QString& path);

    // How many times any store wrote its array.
    static quint64 writeCount();

    // A store on the given INI file (tests, tools); empty means the default.
    explicit DraftStore(QString settingsFile = {});

    // The stored bytes as drafts; none when they are not a JSON array of
    // well-formed drafts. Pure, so it can be fed any bytes.
    static std::optional<QList<NoteDraft>> decode(const QByteArray& bytes);

    QList<NoteDraft> loadAll() const;
    void save(const NoteDraft& draft);
    void remove(const QUuid& id); // "delete" is a keyword in C++
    std::optional<NoteDraft> get(const QUuid& id) const;
    std::optional<NoteDraft> mostRecent() const;

    QString settingsFile() const { return file_; }

private:
    // The decoded list, or none when a stored value exists but does not decode.
    std::optional<QList<NoteDraft>> read(QSettings& s) const;
    void persist(QSettings& s, const QList<NoteDraft>& drafts);
    QList<NoteDraft> loadForWrite(QSettings& s);

    QString file_;
};
