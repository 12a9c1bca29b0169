// Unit tests of the single-instance semaphore name and the process id record.
#include "SingleInstance.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

TEST(SingleInstance, TheSemaphoreNameIsTheEscapedLowerCasedPath) {
    char name[6000];
    makeSemaphoreBaseName(name, sizeof name, "C:\\Program Files\\App\\app.exe", false);
    EXPECT_STREQ(name, "Local\\c:_program_files_app_app.exe");
    // Other spellings of the same file give the same name.
    for (const char* spelling :
         {"c:\\PROGRAM FILES\\\\App\\.\\APP.EXE", "C:\\Program Files\\Other\\..\\App\\app.exe"}) {
        char other[6000];
        makeSemaphoreBaseName(other, sizeof other, spelling, false);
        EXPECT_STREQ(other, name) << spelling;
    }
    makeSemaphoreBaseName(name, sizeof name, "C:\\a b\\x.exe", true);
    EXPECT_STREQ(name, "Global\\c:_a_b_x.exe");
}

TEST(SingleInstance, ThePidRecordRoundTrips) {
    writeRunningInstancePid();
    EXPECT_EQ(readRunningInstancePid(), GetCurrentProcessId());
}

} // namespace
