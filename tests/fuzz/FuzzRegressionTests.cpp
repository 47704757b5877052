#include "FuzzChecks.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

namespace {

struct Replay {
    const char* target;
};

class FuzzInputs : public ::testing::TestWithParam<Replay> {};

QStringList inputsOf(const QString& target)
{
    QStringList files;
    for (const char* kind : {"corpus", "regressions"}) {
        QDirIterator it(QStringLiteral(TAVLO_FUZZ_DIR "/%1/%2").arg(QLatin1String(kind), target), QDir::Files);
        while (it.hasNext())
            files.append(it.next());
    }
    files.sort();
    return files;
}

TEST_P(FuzzInputs, SeedsAndPastFindingsPassTheirCheck)
{
    const QString target = QLatin1String(GetParam().target);
    const FuzzChecks::Check check = FuzzChecks::byName(target);
    ASSERT_NE(check, nullptr);
    const QStringList files = inputsOf(target);
    EXPECT_FALSE(files.isEmpty()) << "no seeds for " << target.toStdString();
    for (const QString& path : files) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const FuzzChecks::Finding finding = check(file.readAll());
        EXPECT_FALSE(finding.has_value()) << path.toStdString() << ": " << finding.value_or(QString()).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs,
                         ::testing::Values(Replay{"snake_case"}, Replay{"records"}, Replay{"drafts"},
                                           Replay{"markdown"}, Replay{"matching"}, Replay{"card_import"}),
                         [](const auto& info) { return std::string(info.param.target); });

} // namespace
