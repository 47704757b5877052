#include "service/CsvRecords.h"

namespace study::csv {

RecordReader::RecordReader(const QByteArray& bytes, qsizetype pos, int line, char separator, qsizetype limit)
    : data_(bytes.constData()), size_(bytes.size()), pos_(pos), line_(line), separator_(separator), limit_(limit)
{
}

bool RecordReader::next(Record& record)
{
    if (pos_ >= size_)
        return false;
    record = Record{};
    record.line = line_;
    for (;;) {
        Field field;
        field.line = line_;
        if (!readField(field, record))
            return true;
        if (++record.count <= kMaxColumns)
            record.fields.append(std::move(field));
        if (pos_ >= size_)
            return true;
        if (data_[pos_] != separator_) {
            skipLineEnd();
            return true;
        }
        ++pos_;
    }
}

bool RecordReader::readField(Field& field, Record& record)
{
    qsizetype start = pos_;
    while (start < size_ && isPadding(data_[start]))
        ++start;
    if (start < size_ && data_[start] == '"') {
        pos_ = start + 1;
        field.quoted = true;
        return readQuoted(field, record);
    }
    qsizetype end = pos_;
    while (end < size_ && data_[end] != separator_ && !isLineEnd(data_[end]))
        ++end;
    append(field, data_ + pos_, end - pos_);
    pos_ = end;
    return true;
}

bool RecordReader::readQuoted(Field& field, Record& record)
{
    const int openLine = line_;
    qsizetype nextLine = -1;
    for (;;) {
        qsizetype run = pos_;
        while (run < size_ && data_[run] != '"' && !isLineEnd(data_[run]))
            ++run;
        append(field, data_ + pos_, run - pos_);
        pos_ = run;
        if (pos_ >= size_)
            return broken(record, openLine, nextLine, QStringLiteral("unbalanced quote"));
        if (data_[pos_] == '"') {
            if (pos_ + 1 < size_ && data_[pos_ + 1] == '"') {
                append(field, data_ + pos_, 1);
                pos_ += 2;
                continue;
            }
            ++pos_;
            while (pos_ < size_ && isPadding(data_[pos_]))
                ++pos_;
            if (pos_ >= size_ || data_[pos_] == separator_ || isLineEnd(data_[pos_]))
                return true;
            return broken(record, openLine, nextLine,
                          line_ == openLine ? QStringLiteral("text after the closing quote")
                                            : QStringLiteral("text after the closing quote on line %1").arg(line_));
        }
        skipLineEnd();
        append(field, "\n", 1);
        if (nextLine < 0)
            nextLine = pos_;
    }
}

bool RecordReader::broken(Record& record, int openLine, qsizetype nextLine, const QString& reason)
{
    record.brokenQuote = ImportProblem{openLine, reason};
    if (nextLine >= 0) {
        pos_ = nextLine;
        line_ = openLine + 1;
        return false;
    }
    while (pos_ < size_ && !isLineEnd(data_[pos_]))
        ++pos_;
    if (pos_ < size_)
        skipLineEnd();
    return false;
}

void RecordReader::append(Field& field, const char* from, qsizetype n)
{
    if (field.tooLong || n == 0)
        return;
    if (field.bytes.size() + n > limit_) {
        field.tooLong = true;
        field.bytes = QByteArray();
        return;
    }
    field.bytes.append(from, n);
}

void RecordReader::skipLineEnd()
{
    if (data_[pos_] == '\r' && pos_ + 1 < size_ && data_[pos_ + 1] == '\n')
        ++pos_;
    ++pos_;
    ++line_;
}

qsizetype invalidUtf8At(const QByteArray& bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        const int length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > n)
            return i;
        const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (s[i + 1] < low || s[i + 1] > high)
            return i;
        for (int k = 2; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += length;
    }
    return -1;
}

} // namespace study::csv
