#pragma once
// The JSON reading shared by every record of the study service: snake-case
// wire keys matched to camel-case fields, exact 64-bit integers, and one
// readable description for whatever does not fit. Free of any GUI or network
// code so the decoders can be driven by a fuzzer.

#include "api/Result.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace JsonDecoding {

// "deck_id" and "DECK_ID" -> "deckId"; "_deck_id_" -> "_deckId_";
// "a__b" -> "aB"; a key without inner underscores ("id", "deckId", "__x")
// comes back unchanged.
QString convertFromSnakeCase(const QString& key);

// Parses any top-level JSON value (an object, an array, but also 5 or "x").
// Invalid JSON and invalid UTF-8 give a DecodeError.
Result<QJsonValue> parse(const QByteArray& body);

// Thrown while a record is read; the public decoders turn it into a DecodeError.
struct Failure {
    QString description;
};

// One JSON object seen through the key conversion. `path` names the object in
// error messages ("data[2].review"). Fields are named by their wire key; the
// reader looks them up by its camel-case form, so both spellings match. Keys
// the record does not know are ignored; when two keys convert to the same
// name, the first in the object's key order wins.
class ObjectReader {
public:
    ObjectReader(const QJsonValue& value, QString path);

    std::int64_t requiredInt64(const QString& wireKey) const;
    double requiredDouble(const QString& wireKey) const;
    QString requiredString(const QString& wireKey) const;
    std::optional<QString> optionalString(const QString& wireKey) const;
    std::optional<QStringList> optionalStringList(const QString& wireKey) const;
    // The raw value of a required key (not missing, not null).
    QJsonValue required(const QString& wireKey) const;
    // The raw value of an optional key; nullopt when missing or null.
    std::optional<QJsonValue> optional(const QString& wireKey) const;
    QString pathOf(const QString& wireKey) const;

private:
    QHash<QString, QJsonValue> fields_;
    QString path_;
};

// The value as a 64-bit integer: a JSON number with a whole value that fits
// (ids above 2^53 stay exact); 3.5, "3", true fail.
std::int64_t toInt64(const QJsonValue& value, const QString& path);
double toDouble(const QJsonValue& value, const QString& path);
QString toString(const QJsonValue& value, const QString& path);
QStringList toStringList(const QJsonValue& value, const QString& path);
QJsonArray toArray(const QJsonValue& value, const QString& path);

// Runs `read` on the parsed body and turns a Failure into a DecodeError.
template <class T>
Result<T> decode(const QByteArray& body, const std::function<T(const QJsonValue&)>& read)
{
    Result<QJsonValue> parsed = parse(body);
    if (!parsed)
        return parsed.error();
    try {
        return read(parsed.value());
    } catch (const Failure& failure) {
        return DecodeError{failure.description};
    }
}

} // namespace JsonDecoding
