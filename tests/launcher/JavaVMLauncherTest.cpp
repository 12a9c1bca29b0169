// Unit tests of variable expansion and the JVM home.
#include "JavaVMLauncher.h"
#include "LogText.h"
#include "Paths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring expanded(const std::wstring& text, bool ansiSafe = false, size_t size = 6000) {
    std::wstring buffer(size + 2, L'#');
    wcscpy(&buffer[0], text.c_str());
    expandVariables(&buffer[0], size, ansiSafe);
    EXPECT_EQ(buffer.substr(size), L"##") << "wrote past the buffer";
    return buffer.c_str();
}

std::string expandedNarrow(const std::string& text) {
    char buffer[6000];
    strcpy(buffer, text.c_str());
    expandVariablesNarrow(buffer, sizeof buffer);
    return buffer;
}

class Expansion : public testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"LxMixed", L"val");
        SetEnvironmentVariableW(L"LX_SELF", L"<${LX_SELF}>");
        SetEnvironmentVariableW(L"LX_LONG", std::wstring(40, L'L').c_str());
        SetEnvironmentVariableW(L"LX_WIDE", L"\u00e4\u20ac");
        copyTemp = launcherTempDirectory;
    }
    void TearDown() override {
        for (const wchar_t* name : {L"LxMixed", L"LX_SELF", L"LX_LONG", L"LX_WIDE"})
            SetEnvironmentVariableW(name, nullptr);
        strcpy(launcherTempDirectory, copyTemp.c_str());
    }
    std::string copyTemp;
};

TEST_F(Expansion, TokensAndEnvironmentVariables) {
    strcpy(launcherTempDirectory, "C:\\t\\lyx1.tmp_dir9");
    const std::wstring exeDirectory = getExecutableDirectoryWide(false);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    struct Case {
        std::wstring text, expected;
    };
    const Case cases[] = {
        {L"%PATH%", L"%PATH%"},
        {L"${LxMixed}|${LXMIXED}|${lxmixed}", L"val|val|${lxmixed}"},
        {L"a${launcher:sys.pathlistSeparator}b${LANYX_PATHLIST_SEPARATOR}c%QUORVEX_PATHLIST_SEPARATOR%d",
         L"a;b;c;d"},
        {L"${launcher:sys.launcherDirectory}lib", exeDirectory + L"lib"},
        {L"%LANYX_EXEDIR%|${QUORVEX_EXEDIR}|%QUORVEX_EXEDIR%",
         exeDirectory + L"|" + exeDirectory + L"|" + exeDirectory},
        {L"${LANYX_TEMPDIR}\\x;%QUORVEX_TEMPDIR%;${launcher:sys.launcherTempDirectory}",
         L"C:\\t\\lyx1.tmp_dir9\\x;C:\\t\\lyx1.tmp_dir9;C:\\t\\lyx1.tmp_dir9"},
        {L"${launcher:sys.tempDir}", temp},
        {L"${launcher:sys.jvmHome}|%LANYX_JVM_HOME%|${QUORVEX_JVM_HOME}",
         widen(getJvmHome()) + L"|" + widen(getJvmHome()) + L"|" + widen(getJvmHome())},
        {L"${installer:sys.tempDir}\\demo_error.log", L"${installer:sys.tempDir}\\demo_error.log"},
        {L"${LX_UNDEFINED}", L"${LX_UNDEFINED}"},
        {L"${LX_SELF}${LX_SELF}", L"<${LX_SELF}><${LX_SELF}>"},
        {L"${LX_WIDE}", L"\u00e4\u20ac"},
        {L"${LANYX_EXEDIR", L"${LANYX_EXEDIR"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(expanded(c.text), c.expected) << testing::PrintToString(c.text);
}

TEST_F(Expansion, ValuesInsertedByEarlierRowsMeetTheLaterRows) {
    // The launcher temporary directory (row 2) carries a JVM home token (row 12) and an environment
    // token (row 14); the JVM home in turn never meets row 12 again.
    strcpy(launcherTempDirectory, "C:\\t\\${LxMixed}\\${launcher:sys.jvmHome}");
    setJvmHome("C:\\${LANYX_TEMPDIR}\\bin\\java.exe");
    EXPECT_EQ(expanded(L"${LANYX_TEMPDIR}"), L"C:\\t\\val\\C:\\${LANYX_TEMPDIR}\\bin\\..");
    EXPECT_EQ(expandedNarrow("${LANYX_TEMPDIR}"), "C:\\t\\val\\C:\\${LANYX_TEMPDIR}\\bin\\..");
}

TEST_F(Expansion, AnsiSafeFormsAreTheNarrowOnesWidened) {
    char narrowTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, narrowTemp);
    EXPECT_EQ(expanded(L"${launcher:sys.launcherDirectory}|${launcher:sys.tempDir}", true),
              widen(getExecutableDirectory()) + L"|" + widen(narrowTemp));
}

TEST_F(Expansion, NarrowFormTakesTheSameTable) {
    strcpy(launcherTempDirectory, "C:\\t\\d");
    EXPECT_EQ(expandedNarrow(
                  "${LxMixed};${LXMIXED};%LANYX_EXEDIR%;${LANYX_TEMPDIR};${launcher:sys.pathlistSeparator}"),
              std::string("val;val;") + getExecutableDirectory() + ";C:\\t\\d;;");
    EXPECT_EQ(expandedNarrow("%PATH%|${lxmixed}"), "%PATH%|${lxmixed}");
}

TEST_F(Expansion, EverySubstitutionIsLogged) {
    expanded(L"x${LxMixed}y");
    EXPECT_TRUE(logContains("expanding2 ${LxMixed} to val in xvaly.\n"));
    strcpy(launcherTempDirectory, "C:\\narrow");
    expanded(L"${LANYX_TEMPDIR}");
    EXPECT_TRUE(logContains("expanding2 ${LANYX_TEMPDIR} to C:\\narrow in C:\\narrow.\n"));
    expandedNarrow("n${LxMixed}");
    EXPECT_TRUE(logContains("expanding2 ${LxMixed} to val in nval.\n"));
}

TEST_F(Expansion, GrowthIsCutAtTheBuffer) {
    // A value longer than the room left, and a remainder pushed past the end.
    EXPECT_EQ(expanded(L"ab${LX_LONG}cd", false, 16), L"ab" + std::wstring(13, L'L'));
    EXPECT_EQ(expanded(L"ab${LX_SELF}cdefgh", false, 20), L"ab<${LX_SELF}>cdefg");

    // A remainder longer than the scratch buffer keeps what fits there.
    std::wstring longText = L"${LxMixed}" + std::wstring(30000, L'r');
    std::wstring result = expanded(longText, false, 40000);
    EXPECT_EQ(result, L"val" + std::wstring(23999, L'r'));

    char narrow[8];
    strcpy(narrow, "${A}");
    replaceVariable(narrow, 5, "${A}", "longer");
    EXPECT_STREQ(narrow, "long");
}

TEST(JvmHome, TheExecutablesDirectoryFollowedByTwoDots) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\j\\bin\\javaw.exe", "C:\\j\\bin\\.."},
        {"C:\\j\\bin\\java.exe", "C:\\j\\bin\\.."},
        {"C:\\j\\bin\\JAVA.EXE", "C:\\j\\bin\\.."},
        {"x", ".."},
    };
    for (auto [executable, home] : cases) {
        setJvmHome(executable);
        EXPECT_STREQ(getJvmHome(), home) << executable;
    }
}

} // namespace
