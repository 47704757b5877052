// The records of a CSV or TSV file, read over its raw bytes, and the UTF-8
// check of a field: the lowest layer of reading a learner's card file.
#pragma once

#include "service/CardImport.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace study::csv {

// More columns than any card file has. Only this many fields of a row are
// kept, so a line of a million commas costs a count, not a million fields.
inline constexpr int kMaxColumns = 256;

struct Field {
    QByteArray bytes;
    int line = 0;             // where the field starts
    bool quoted = false;
    bool tooLong = false;     // over the limit; its bytes are dropped
};

struct Record {
    int line = 0;
    std::optional<ImportProblem> brokenQuote;  // the record is lost
    qsizetype count = 0;      // fields read, of which the first kMaxColumns are kept
    QList<Field> fields;
};

inline bool isLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

// RFC 4180 records over the raw bytes: separators, quotes and line ends are
// ASCII, so they never occur inside a multi-byte UTF-8 character. Lenient
// where spreadsheets and hand-written files are: spaces around a quoted
// field, a quote inside an unquoted field.
class RecordReader {
public:
    RecordReader(const QByteArray& bytes, qsizetype pos, int line, char separator, qsizetype limit);

    bool next(Record& record);

private:
    // Reads one field up to its separator or line end; false for a broken
    // quoted field.
    bool readField(Field& field, Record& record);

    bool readQuoted(Field& field, Record& record);

    // A quote that never closes, or closes before other text, is most often a
    // stray one: the record is a problem and reading goes on at the line after
    // the opening quote. Every quote after the broken one pairs up (else the
    // field would have closed sooner), so a field opened on the lines read
    // again closes on its own line: no byte is read more than twice or so.
    bool broken(Record& record, int openLine, qsizetype nextLine, const QString& reason);

    // Spaces around a quoted field, unless spaces separate the fields.
    bool isPadding(char c) const { return c == ' ' && separator_ != ' '; }

    void append(Field& field, const char* from, qsizetype n);

    // CRLF, LF or a lone CR.
    void skipLineEnd();

    const char* data_;
    qsizetype size_;
    qsizetype pos_;
    int line_;
    char separator_;
    qsizetype limit_;
};

// The index of the first byte that is not part of well-formed UTF-8
// (no overlong forms, surrogates or code points over U+10FFFF), or -1.
qsizetype invalidUtf8At(const QByteArray& bytes);

} // namespace study::csv
