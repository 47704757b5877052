// Writing a learner's cards out as CSV or JSON for the export command; the
// CSV reads back through parseCards to the same cards.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace study {

struct ExportedCard {
    QString front;
    QString back;
    QString notes;
    QStringList tags;
    QString deck;
};

// UTF-8 CSV with the header row front,back,notes,tags,deck and CRLF line ends;
// parseCards reads it back to the same cards.
QByteArray writeCsv(const QList<ExportedCard>& cards);
// {"cards": [{"front", "back", "notes", "tags": [...], "deck"}, ...]}
QByteArray writeJson(const QList<ExportedCard>& cards);

} // namespace study
