#include "review/SoundEffects.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Without the sound library (a broken installation) answers stay silent and
// the log says why, once.
TEST(SoundEffects, AMissingLibraryMeansSilenceAndOneLogLine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool once = false;
            {
                LogCapture log;
                SoundEffects::setLibraryFile(log.path() + QStringLiteral(".missing-libcanberra.so.0"));
                SoundEffects::playCorrect();
                SoundEffects::playIncorrect();
                once = log.startingWith(QStringLiteral("Sounds unavailable: ")).size() == 1;
            }
            std::_Exit(once ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
