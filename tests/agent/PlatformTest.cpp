#include "platform/Platform.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

TEST(Platform, TimeSourceCountsMicroseconds) {
    int64_t before = platform::monotonicMicros();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    int64_t after = platform::monotonicMicros();
    EXPECT_GE(after - before, 25000);
    EXPECT_LT(after - before, 5000000);
}

TEST(Platform, PeriodicTimerTicksEveryFiveMilliseconds) {
    platform::PeriodicTimer timer;
    ASSERT_TRUE(timer.start(5));
    int ticks = 0;
    int64_t end = platform::monotonicMicros() + 1000000;
    while (platform::monotonicMicros() < end)
        if (timer.waitTick(100))
            ticks++;
    timer.stop();
    std::printf("ticks in one second: %d\n", ticks);
    // 200 nominal; a busy machine may delay a few wake-ups, and missed expirations coalesce.
    // Above it: a tick on each edge of the window, and Wine's timer catching up late expirations
    // in a burst. A wrong period (4 ms would give 250) still fails.
    EXPECT_GE(ticks, 120);
    EXPECT_LE(ticks, 215);
}

TEST(Platform, StoppedTimerDoesNotTick) {
    platform::PeriodicTimer timer;
    EXPECT_FALSE(timer.waitTick(0));
    ASSERT_TRUE(timer.start(5));
    timer.stop();
    EXPECT_FALSE(timer.waitTick(20));
}

TEST(Platform, OpensFilesByUtf16Name) {
    testsupport::ScratchDirectory dir;
    std::u16string name = u"zentaro-\u00e9-\u20ac-\U0001D11E.txt";
    std::u16string path = dir.path().u16string() + platform::pathSeparator + name;
    FILE* file = platform::openFile(path.c_str(), u"wb");
    ASSERT_NE(file, nullptr);
    std::fputs("content", file);
    std::fclose(file);
    EXPECT_EQ(testsupport::readFile(dir.path() / fs::path(name)), "content");
    EXPECT_EQ(platform::openFile((dir.path().u16string() + u"/missing/x").c_str(), u"rb"), nullptr);
}

#ifndef _WIN32
TEST(Platform, NameWithALoneSurrogateIsRefused) {
    testsupport::ScratchDirectory dir;
    std::u16string path = dir.path().u16string() + u"/bad-\xD800.txt";
    EXPECT_EQ(platform::openFile(path.c_str(), u"wb"), nullptr);
}
#endif

TEST(Platform, ReadsEnvironmentAsUtf16) {
    testsupport::setEnvironment("ZENTARO_TEST_VALUE", "plain");
    std::u16string value;
    ASSERT_TRUE(platform::readEnvironment(u"ZENTARO_TEST_VALUE", value));
    EXPECT_EQ(value, u"plain");
    testsupport::unsetEnvironment("ZENTARO_TEST_VALUE");
    EXPECT_FALSE(platform::readEnvironment(u"ZENTARO_TEST_VALUE", value));
}

} // namespace
