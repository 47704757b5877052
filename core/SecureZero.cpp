#include "core/SecureZero.h"

#include <string.h>

bool secureWipe(QByteArray& bytes)
{
    // isDetached() is false for shared and for static or raw data alike, and
    // those must never be written to.
    if (bytes.isEmpty() || !bytes.isDetached()) {
        bytes = QByteArray();
        return false;
    }
    // explicit_bzero, unlike memset, is not dropped as a dead store before free.
    explicit_bzero(const_cast<char*>(bytes.constData()), size_t(bytes.size()));
    return true;
}

bool secureWipe(QString& text)
{
    if (text.isEmpty() || !text.isDetached()) {
        text = QString();
        return false;
    }
    explicit_bzero(const_cast<QChar*>(text.constData()), size_t(text.size()) * sizeof(QChar));
    return true;
}

void secureZero(QByteArray& bytes)
{
    secureWipe(bytes);
    bytes = QByteArray();
}

void secureZero(QString& text)
{
    secureWipe(text);
    text = QString();
}
