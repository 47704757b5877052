#pragma once
// One check per fuzz target: feeds the bytes to the code under test and
// returns a description of the first broken property, or nothing. Shared by
// the libFuzzer entry points and by the regression test that replays saved
// inputs, so a finding reproduces in the ordinary test suite.

#include <QByteArray>
#include <QString>

#include <optional>

namespace FuzzChecks {

using Finding = std::optional<QString>;

// Key conversion: any text converts, and converting twice changes nothing.
Finding snakeCase(const QByteArray& bytes);
// Every record decoder on the same bytes; whatever decodes encodes and decodes
// back to the same record.
Finding records(const QByteArray& bytes);
// The draft store's bytes -> drafts decode; decoded drafts survive a rewrite.
Finding drafts(const QByteArray& bytes);
// The markdown line parser: blocks numbered 0, 1, 2, ...
Finding markdown(const QByteArray& bytes);
// Answer matching on two texts split at the first line break: the score is in
// [0, 1], symmetric and 1 for a text against itself.
Finding matching(const QByteArray& bytes);
// The card file reader: cards have a front, a back and rising lines, and
// the cards it reads, written as CSV, read back the same with no problem.
Finding cardImport(const QByteArray& bytes);

// By target name ("snake_case", "records", ...); nullptr for an unknown name.
using Check = Finding (*)(const QByteArray&);
Check byName(const QString& name);

} // namespace FuzzChecks
