#pragma once
// Wiping secrets (the bearer token, the password, the sign-in body) from
// buffers we are done with, so they do not linger in freed heap memory.
//
// Qt's strings share their buffers: a buffer is overwritten only when this is
// its only owner. A shared buffer is still in use by someone else (a line
// edit, a request in flight); writing over it would corrupt their copy, so
// ours is only released and the last owner's wipe, if any, takes care of it.

#include <QByteArray>
#include <QString>

// Overwrites the bytes in place when `bytes` is their only owner and returns
// true (the size is kept); otherwise releases `bytes` and returns false.
bool secureWipe(QByteArray& bytes);
bool secureWipe(QString& text);

// Wipes as above, then leaves the value empty.
void secureZero(QByteArray& bytes);
void secureZero(QString& text);
