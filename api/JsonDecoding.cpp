#include "api/JsonDecoding.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonParseError>

namespace JsonDecoding {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("JsonDecoding", text);
}

[[noreturn]] void fail(const QString& description)
{
    throw Failure{description};
}

QString kindOf(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("a boolean");
    case QJsonValue::Double: return QStringLiteral("the number %1").arg(value.toDouble());
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("an array");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: return QStringLiteral("nothing");
    }
    return QStringLiteral("nothing");
}

[[noreturn]] void mismatch(const char* expected, const QJsonValue& found, const QString& path)
{
    if (found.isNull())
        fail(tr("The data couldn't be read because it is missing: expected %1 at %2 but found null.")
                 .arg(QLatin1String(expected), path));
    fail(tr("The data couldn't be read because it isn't in the correct format: expected %1 at %2 but found %3.")
             .arg(QLatin1String(expected), path, kindOf(found)));
}

QString offsetText(const QByteArray& body, int offset)
{
    return QStringLiteral("%1 of %2 bytes").arg(offset).arg(body.size());
}

} // namespace

QString convertFromSnakeCase(const QString& key)
{
    qsizetype first = 0;
    while (first < key.size() && key[first] == u'_')
        ++first;
    if (first == key.size())
        return key; // empty, or nothing but underscores
    qsizetype last = key.size() - 1;
    while (last > first && key[last] == u'_')
        --last;

    const QString core = key.mid(first, last - first + 1);
    const QStringList parts = core.split(u'_', Qt::SkipEmptyParts);
    if (parts.size() == 1)
        return key; // perhaps already camel case: leave it alone

    QString joined = parts.first().toLower();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString lower = parts[i].toLower();
        // The first letter may be a surrogate pair; upper-case the whole code point.
        const qsizetype headLength = lower[0].isHighSurrogate() && lower.size() > 1 ? 2 : 1;
        joined += lower.left(headLength).toUpper() + lower.mid(headLength);
    }
    return key.left(first) + joined + key.mid(last + 1);
}

Result<QJsonValue> parse(const QByteArray& body)
{
    // QJsonDocument only takes an object or an array at the top; wrapping the
    // body in an array lets any single value through and still rejects "1, 2".
    QByteArray wrapped;
    wrapped.reserve(body.size() + 2);
    wrapped.append('[').append(body).append(']');
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError) {
        const int offset = qBound(0, error.offset - 1, int(body.size()));
        return DecodeError{tr("The data couldn't be read because it isn't valid JSON: %1 at byte %2.")
                               .arg(error.errorString(), offsetText(body, offset))};
    }
    const QJsonArray array = document.array();
    if (array.size() != 1)
        return DecodeError{tr("The data couldn't be read because it isn't valid JSON: %1.")
                               .arg(array.isEmpty() ? QStringLiteral("the body is empty")
                                                    : QStringLiteral("more than one top-level value"))};
    return array.first();
}

ObjectReader::ObjectReader(const QJsonValue& value, QString path) : path_(std::move(path))
{
    if (!value.isObject())
        mismatch("an object", value, path_.isEmpty() ? QStringLiteral("the top level") : path_);
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString name = convertFromSnakeCase(it.key());
        if (!fields_.contains(name))
            fields_.insert(name, it.value());
    }
}

QString ObjectReader::pathOf(const QString& wireKey) const
{
    return path_.isEmpty() ? wireKey : path_ + u'.' + wireKey;
}

QJsonValue ObjectReader::required(const QString& wireKey) const
{
    const auto it = fields_.constFind(convertFromSnakeCase(wireKey));
    if (it == fields_.constEnd())
        fail(QCoreApplication::translate("JsonDecoding",
                                       "The data couldn't be read because it is missing: no value for key \"%1\" at %2.")
                 .arg(wireKey, path_.isEmpty() ? QStringLiteral("the top level") : path_));
    if (it->isNull() || it->isUndefined())
        fail(QCoreApplication::translate("JsonDecoding",
                                       "The data couldn't be read because it is missing: key \"%1\" is null at %2.")
                 .arg(wireKey, path_.isEmpty() ? QStringLiteral("the top level") : path_));
    return *it;
}

std::optional<QJsonValue> ObjectReader::optional(const QString& wireKey) const
{
    const auto it = fields_.constFind(convertFromSnakeCase(wireKey));
    if (it == fields_.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return *it;
}

std::int64_t ObjectReader::requiredInt64(const QString& wireKey) const
{
    return toInt64(required(wireKey), pathOf(wireKey));
}

double ObjectReader::requiredDouble(const QString& wireKey) const
{
    return toDouble(required(wireKey), pathOf(wireKey));
}

QString ObjectReader::requiredString(const QString& wireKey) const
{
    return toString(required(wireKey), pathOf(wireKey));
}

std::optional<QString> ObjectReader::optionalString(const QString& wireKey) const
{
    const auto value = optional(wireKey);
    if (!value)
        return std::nullopt;
    return toString(*value, pathOf(wireKey));
}

std::optional<QStringList> ObjectReader::optionalStringList(const QString& wireKey) const
{
    const auto value = optional(wireKey);
    if (!value)
        return std::nullopt;
    return toStringList(*value, pathOf(wireKey));
}

std::int64_t toInt64(const QJsonValue& value, const QString& path)
{
    if (!value.isDouble())
        mismatch("an integer", value, path);
    // The parser keeps whole numbers that fit in 64 bits as integers, so
    // toInteger is exact there; anything else falls back to the default,
    // which two different defaults reveal.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        mismatch("an integer", value, path);
    return a;
}

double toDouble(const QJsonValue& value, const QString& path)
{
    if (!value.isDouble())
        mismatch("a number", value, path);
    return value.toDouble();
}

QString toString(const QJsonValue& value, const QString& path)
{
    if (!value.isString())
        mismatch("a string", value, path);
    return value.toString();
}

QJsonArray toArray(const QJsonValue& value, const QString& path)
{
    if (!value.isArray())
        mismatch("an array", value, path);
    return value.toArray();
}

QStringList toStringList(const QJsonValue& value, const QString& path)
{
    const QJsonArray array = toArray(value, path);
    QStringList list;
    list.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        list.append(toString(array[i], QStringLiteral("%1[%2]").arg(path).arg(i)));
    return list;
}

} // namespace JsonDecoding
