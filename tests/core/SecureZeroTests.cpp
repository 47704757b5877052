// Wiping secrets: only buffers we alone own are overwritten; a buffer shared
// with someone else (a line edit, a request in flight, a literal) is released
// and left intact for its other owners.
#include "core/SecureZero.h"

#include <gtest/gtest.h>

namespace {

TEST(SecureZero, OverwritesABufferItAloneOwns)
{
    const auto wipedInPlace = [](auto mine, const char* name) { // a copy of our own
        mine.detach();
        const qsizetype n = mine.size();
        EXPECT_TRUE(secureWipe(mine)) << name;
        EXPECT_EQ(mine, decltype(mine)(n, u'\0')) << name; // all zero
        secureZero(mine);
        EXPECT_TRUE(mine.isEmpty()) << name;
    };
    for (const char* secret : {"Bearer eyJhbGciOiJIUzI1NiJ9.secret", R"({"email":"demo@tavlo.app","password":"tavlo-demo"})", "x"})
        wipedInPlace(QByteArray(secret), secret);
    wipedInPlace(QString::fromUtf8("p\xc3\xa4ssw\xc3\xb6rd \xf0\x9f\x94\x91"), "a password");
}

TEST(SecureZero, LeavesSharedAndStaticDataToTheirOwners)
{
    QByteArray theirs("held by a request in flight");
    QByteArray ours = theirs;
    EXPECT_FALSE(secureWipe(ours));
    EXPECT_TRUE(ours.isEmpty());
    EXPECT_EQ(theirs, QByteArray("held by a request in flight"));

    QString field = QStringLiteral("still in the line edit");
    field.detach();
    QString copy = field;
    secureZero(copy);
    EXPECT_TRUE(copy.isEmpty());
    EXPECT_EQ(field, QStringLiteral("still in the line edit"));

    // Literals live in read-only memory: writing there would crash.
    QString literal = QStringLiteral("literal");
    EXPECT_FALSE(secureWipe(literal));
    QByteArray raw = QByteArray::fromRawData("raw", 3);
    EXPECT_FALSE(secureWipe(raw));

    QByteArray empty;
    EXPECT_FALSE(secureWipe(empty));
    QString none;
    secureZero(none);
    EXPECT_TRUE(none.isEmpty());
}

} // namespace
