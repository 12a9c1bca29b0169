#include "DebugOutput.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using testsupport::readFile;
using testsupport::ScratchDirectory;

const char* const fileName = "zentaro.native.debug.out";

std::string openedLine(const fs::path& file) {
    return "zentaro> writing debug output to " + file.string() + ".\n";
}

TEST(ConsoleMessage, PrefixesAndEndsTheLine) {
    CaptureStderr();
    consoleMessage("Protocol version %d", 1);
    consoleMessage("%s", "64-bit library");
    EXPECT_EQ(GetCapturedStderr(), "zentaro> Protocol version 1\nzentaro> 64-bit library\n");
}

class DebugFile : public testing::Test {
  protected:
    void SetUp() override { testsupport::setEnvironment("USERPROFILE", profile.path().string()); }
    void TearDown() override { testsupport::unsetEnvironment("USERPROFILE"); }

    fs::path file() const { return profile.path() / fileName; }

    ScratchDirectory profile;
    std::unique_ptr<DebugOutput> output = std::make_unique<DebugOutput>();
};

TEST_F(DebugFile, MessagesAtLevelZeroOrBelowOpenTheFileOnceAndAppend) {
    CaptureStderr();
    output->writeText(8, 0, "first ");
    output->write(-1, -5, "second %d ", 2);
    output->writeText(0, 0, "third");
    EXPECT_EQ(GetCapturedStderr(), openedLine(file()));
    EXPECT_EQ(readFile(file()), "first second 2 third");
}

TEST_F(DebugFile, MessagesAboveLevelZeroWriteNothingAndCreateNoFile) {
    CaptureStderr();
    output->writeText(0, 1, "dropped");
    output->write(8, 4, "CREATING METHOD %s\n", "sample");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(DebugFile, TextIsNeverReadAsAFormat) {
    CaptureStderr();
    output->writeText(0, 0, "100% sure: %s %n %d");
    GetCapturedStderr();
    EXPECT_EQ(readFile(file()), "100% sure: %s %n %d");
}

TEST_F(DebugFile, WithoutProfileTheFileIsInTheWorkingDirectory) {
    testsupport::unsetEnvironment("USERPROFILE");
    ScratchDirectory work;
    testsupport::WorkingDirectory inside(work.path());
    CaptureStderr();
    output->writeText(0, 0, "here");
    EXPECT_EQ(GetCapturedStderr(), std::string("zentaro> writing debug output to ") + fileName + ".\n");
    EXPECT_EQ(readFile(work.path() / fileName), "here");
}

TEST_F(DebugFile, AFailedOpenIsRetriedByTheNextMessage) {
    fs::path missing = profile.path() / "not-yet";
    testsupport::setEnvironment("USERPROFILE", missing.string());
    CaptureStderr();
    output->writeText(0, 0, "lost");
    fs::create_directory(missing);
    output->writeText(0, 0, "kept");
    output->writeText(0, 0, "!");
    fs::path file = missing / fileName;
    EXPECT_EQ(GetCapturedStderr(), openedLine(file) + openedLine(file));
    EXPECT_EQ(readFile(file), "kept!");
}

TEST_F(DebugFile, AProfilePathTooLongForTheBufferIsRefused) {
    // The path with separator, file name and terminator must fit in the buffer.
    size_t fits = DebugOutput::pathCapacity - 1 - std::string(fileName).size() - 1;
    std::string base = profile.path().string();
    testsupport::setEnvironment("USERPROFILE", base + std::string(fits + 1 - base.size(), 'x'));
    CaptureStderr();
    output->writeText(0, 0, "one");
    output->writeText(0, 0, "two");
    std::string console = GetCapturedStderr();
    EXPECT_EQ(console,
              "zentaro> USERPROFILE is too long for the debug file path; no debug output is written.\n");
}

} // namespace
