#pragma once
// Unsaved edits of journal entries, one per entry, kept in the settings file
// of the quick-note drafts (under a key of their own) when the edit screen
// goes away without Save or Cancel: the panel replaced, the agent quitting.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

struct EditDraft {
    std::int64_t entryId = 0;
    QString title;
    QString content;
    QString tags; // as typed in the tags field
    QDateTime updatedAt;

    bool operator==(const EditDraft&) const = default;
};

class EditDraftStore {
public:
    static constexpr const char* key = "com.tavlo.popup.editDrafts";
    // Undecodable values are kept under this prefix plus a time stamp before
    // they are overwritten.
    static constexpr const char* backupKeyPrefix = "com.tavlo.popup.editDrafts.backup-";

    // On the file of DraftStore::shared().
    static EditDraftStore shared();
    // A store on the given INI file; empty means the per-user default.
    explicit EditDraftStore(QString settingsFile = {});

    // The stored bytes as edit drafts; none when they are not a JSON array of
    // well-formed ones. Pure, so it can be fed any bytes.
    static std::optional<QList<EditDraft>> decode(const QByteArray& bytes);

    struct Lookup {
        std::optional<EditDraft> draft;
        bool unreadable = false; // a stored value exists that does not decode
    };
    Lookup get(std::int64_t entryId) const;
    // Replaces the entry's edit draft; an unreadable stored value is backed up first.
    void save(const EditDraft& draft);
    void remove(std::int64_t entryId);

private:
    QString file_;
};
