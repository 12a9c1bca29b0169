// Unit tests of the launcher's command-line splitting, configuration tables and accessors, and log
// formatting. Runs under Wine with LANYX_LOG=yes, so the log lines can be checked.
#include "Config.h"
#include "Format.h"
#include "Launcher.h"
#include "Log.h"
#include "Paths.h"
#include "LogText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <io.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> split(const wchar_t* line) {
    ArgumentList arguments;
    splitCommandLine(line, arguments);
    return std::vector<std::wstring>(arguments.begin(), arguments.end());
}

TEST(SplitCommandLine, QuotesGroupBlanksSeparate) {
    struct Case {
        const wchar_t* line;
        std::vector<std::wstring> arguments;
    };
    const Case cases[] = {
        {L"a \"b x\" d", {L"a", L"b x", L"d"}},
        {L"x\"y z\"w", {L"xy z", L"w"}},
        {L"'it\"s' q", {L"it\"s", L"q"}},
        {L"\"abc def", {L"abc def"}},
        {L"\"\" x", {L"", L"x"}},
        {L"a  b", {L"a", L"b"}},
        {L"'a b' c", {L"a b", L"c"}},
        {L"a\tb c", {L"a\tb", L"c"}},
        {L"C:\\dir\\x.exe \"C:\\a b\\\" z", {L"C:\\dir\\x.exe", L"C:\\a b\\", L"z"}},
        {L"  lead trail  ", {L"lead", L"trail"}},
        {L"", {}},
        {L"one", {L"one"}},
    };
    for (const Case& c : cases) EXPECT_EQ(split(c.line), c.arguments) << "line: " << testing::PrintToString(c.line);
}

// A file that looks like a PE image with one section ending at offset 128, followed by `payload`.
class PayloadFile {
  public:
    explicit PayloadFile(const std::string& payload) {
        std::string image(128, '\0');
        put32(image, 0x3C, 64);
        image.replace(64, 4, std::string("PE\0\0", 4));
        put16(image, 64 + 6, 1);
        put16(image, 64 + 20, 0);
        put32(image, 64 + 24 + 16, 28);
        put32(image, 64 + 24 + 20, 100);
        char name[MAX_PATH];
        GetTempPathA(MAX_PATH, name);
        path = std::string(name) + "payload-" + std::to_string(counter++) + ".bin";
        std::ofstream(path, std::ios::binary) << image << payload;
    }
    ~PayloadFile() { DeleteFileA(path.c_str()); }
    HANDLE open() const {
        return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    static void put16(std::string& s, size_t at, uint16_t v) { s.replace(at, 2, reinterpret_cast<char*>(&v), 2); }
    static void put32(std::string& s, size_t at, uint32_t v) { s.replace(at, 4, reinterpret_cast<char*>(&v), 4); }

  private:
    std::string path;
    static int counter;
};
int PayloadFile::counter;

std::string int32(int32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); }
std::string narrowEntry(int id, const std::string& text) { return int32(id) + int32(int32_t(text.size())) + text; }
std::string wideEntry(int id, const std::wstring& text) {
    return int32(id) + int32(int32_t(text.size() * 2)) + std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}
std::string header() { return int32(int32_t(0xE8E413D5)) + int32(0) + int32(1220735356) + int32(2431) + int32(0); }

struct Tables {
    std::vector<std::string> narrow, wide;
    std::vector<std::pair<std::string, std::vector<std::string>>> languages;
    std::string bytes() const {
        std::string out = header() + int32(int32_t(narrow.size()));
        for (auto& e : narrow) out += e;
        out += int32(int32_t(wide.size()));
        for (auto& e : wide) out += e;
        out += int32(int32_t(languages.size()));
        for (auto& [prefix, entries] : languages) {
            out += int32(int32_t(prefix.size())) + prefix + int32(int32_t(entries.size()));
            for (auto& e : entries) out += e;
        }
        return out;
    }
};

void load(const Tables& tables, const char* locale) {
    PayloadFile file(tables.bytes());
    HANDLE handle = file.open();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    seekPayload(handle);
    readConfigTables(handle);
    readLanguageBlocks(handle, locale);
    CloseHandle(handle);
}

std::wstring wideValue(int id) {
    wchar_t buffer[100];
    getConfigWideString(id, buffer, 100);
    return buffer;
}

std::string narrowValue(int id) {
    char buffer[100];
    getConfigString(id, buffer, 100);
    return buffer;
}

// Ids below are distinct per test: the tables are process-wide and only grow.
TEST(Config, LaterEntriesReplaceEarlierOnes) {
    Tables t;
    t.narrow = {narrowEntry(500, "first"), narrowEntry(500, "second"), narrowEntry(501, "")};
    t.wide = {wideEntry(502, L"wide \u00e4\u20ac")};
    load(t, "en");
    EXPECT_EQ(narrowValue(500), "second");
    EXPECT_EQ(narrowValue(501), "");
    EXPECT_EQ(wideValue(502), L"wide \u00e4\u20ac");
    EXPECT_EQ(narrowValue(503), "");
    EXPECT_EQ(wideValue(503), L"");
    EXPECT_EQ(getConfigInt(503), 0);
}

TEST(Config, EmptyPayloadLoads) {
    load(Tables{}, "en");
    EXPECT_EQ(narrowValue(599), "");
    char* copy = getConfigStringCopy(599);
    EXPECT_STREQ(copy, "");
    free(copy);
}

TEST(Config, LanguageBlocksApplyByPrefixToTheWideTableOnly) {
    Tables t;
    t.narrow = {narrowEntry(610, "narrow")};
    t.wide = {wideEntry(611, L"base"), wideEntry(612, L"base"), wideEntry(613, L"base"), wideEntry(614, L"base")};
    t.languages = {
        {"", {wideEntry(611, L"any")}},
        {"pt", {wideEntry(612, L"pt"), wideEntry(610, L"wide 610")}},
        {"pt_BR", {wideEntry(612, L"pt_BR"), wideEntry(613, L"pt_BR")}},
        {"pt_PT", {wideEntry(614, L"pt_PT")}},
        {"PT", {wideEntry(614, L"upper case")}},
    };
    load(t, "pt_BR");
    EXPECT_EQ(wideValue(611), L"any");
    EXPECT_EQ(wideValue(612), L"pt_BR");  // later matching block wins
    EXPECT_EQ(wideValue(613), L"pt_BR");
    EXPECT_EQ(wideValue(614), L"base");
    EXPECT_EQ(wideValue(610), L"wide 610");
    EXPECT_EQ(narrowValue(610), "narrow");
}

TEST(Config, LanguagePrefixMatchesLongerLocales) {
    Tables t;
    t.languages = {{"no_NO", {wideEntry(620, L"norsk")}}, {"de", {wideEntry(621, L"deutsch")}}};
    load(t, "no_NO_NY");
    EXPECT_EQ(wideValue(620), L"norsk");
    EXPECT_EQ(wideValue(621), L"");
}

TEST(Config, IntegersAreReadLikeTheRuntimesAtoi) {
    Tables t;
    t.narrow = {narrowEntry(630, "4"), narrowEntry(631, " 12"), narrowEntry(632, "-3"), narrowEntry(633, "7x"),
                narrowEntry(634, ""), narrowEntry(636, "99999999999")};
    load(t, "en");
    const std::map<int, int> expected = {{630, 4}, {631, 12}, {632, -3}, {633, 7}, {634, 0}, {635, 0}, {636, 2147483647}};
    for (auto [id, value] : expected) EXPECT_EQ(getConfigInt(id), value) << "id " << id;
}

TEST(Config, TruncationCutsAndLogsOnlyWhenTheValueIsLonger) {
    Tables t;
    t.narrow = {narrowEntry(640, "q"), narrowEntry(641, "ql")};
    load(t, "en");
    char buffer[2];
    getConfigString(640, buffer, 2);
    EXPECT_STREQ(buffer, "q");
    EXPECT_EQ(logText().find("config string 640 truncated"), std::string::npos);
    getConfigString(641, buffer, 2);
    EXPECT_STREQ(buffer, "q");
    EXPECT_NE(logText().find("ERROR: config string 641 truncated (2 2)\n"), std::string::npos);
}

TEST(Config, WideAccessorsNeverOverflowTheCallersBuffer) {
    Tables t;
    t.narrow = {narrowEntry(650, "abcdef\xe4")};
    t.wide = {wideEntry(651, L"abcdef")};
    load(t, "en");
    wchar_t buffer[8];
    wmemset(buffer, L'#', 8);
    getConfigStringAsWide(650, buffer, 4);
    EXPECT_EQ(std::wstring(buffer), L"abc");
    EXPECT_EQ(buffer[4], L'#');
    getConfigStringAsWide(650, buffer, 8);
    EXPECT_EQ(std::wstring(buffer), L"abcdef\u00e4");  // bytes widened as they are
    wmemset(buffer, L'#', 8);
    getConfigWideString(651, buffer, 3);
    EXPECT_EQ(std::wstring(buffer), L"ab");
    EXPECT_EQ(buffer[3], L'#');
}

TEST(Log, NarrowAndWideFormatsFollowTheRuntimesConventions) {
    logMessage("narrow %s, wide %S, number %d", "n\xe4", L"w\u00e4", 42);
    EXPECT_NE(logText().find("narrow n\xe4, wide w\xe4, number 42\n"), std::string::npos);
    logError("%S!", L"wide error");
    EXPECT_NE(logText().find("ERROR: wide error!\n"), std::string::npos);

    wchar_t wideLine[64];
    formatBoundedWide(wideLine, 64, L"%s and %S", L"wide", "narrow");
    EXPECT_EQ(std::wstring(wideLine), L"wide and narrow");
    char narrowLine[8];
    formatBounded(narrowLine, sizeof narrowLine, "%s", "longer than eight");
    EXPECT_STREQ(narrowLine, "longer ");
}

TEST(ErrorReport, OnlyTheFirstPlaceholderTakesTheArgument) {
    char message[40] = "File {0} and {0}\n";
    replaceFirstPlaceholder(message, sizeof message, "x.jar");
    EXPECT_STREQ(message, "File x.jar and {0}\n");

    wchar_t wide[40] = L"{0}: not found";
    replaceFirstPlaceholder(wide, 40, L"w\u00e4.jar");
    EXPECT_EQ(std::wstring(wide), L"w\u00e4.jar: not found");

    char plain[20] = "no placeholder";
    replaceFirstPlaceholder(plain, sizeof plain, "unused");
    EXPECT_STREQ(plain, "no placeholder");
    replaceFirstPlaceholder(message, sizeof message, nullptr);
    EXPECT_STREQ(message, "File x.jar and {0}\n");
}

TEST(ErrorReport, AnArgumentLongerThanTheTextBufferIsCut) {
    char message[16] = "a {0} b";
    replaceFirstPlaceholder(message, sizeof message, "0123456789abcdefghij");
    EXPECT_STREQ(message, "a 0123456789abc");
}

// Native library directories, with variables, go in front of PATH in both views of the environment.
TEST(NativeLibraryPath, DirectoriesGoInFrontOfPath) {
    Tables t;
    t.narrow = {narrowEntry(10004, "native;;C:\\abs${launcher:sys.pathlistSeparator}lib\\\\x")};
    load(t, "en");
    std::string original(60000, '\0');
    original.resize(GetEnvironmentVariableA("PATH", &original[0], 60000));
    SetEnvironmentVariableA("PATH", "C:\\old");
    setNativeLibraryPath();
    std::string directory = getExecutablePath();
    directory.resize(directory.rfind('\\') + 1);
    std::string expected = directory + "native;C:\\abs;" + directory + "lib\\x;C:\\old";
    char value[6000];
    GetEnvironmentVariableA("PATH", value, sizeof value);
    EXPECT_EQ(std::string(value), expected);
    const char* runtimePath = getenv("PATH");
    ASSERT_NE(runtimePath, nullptr);
    EXPECT_EQ(std::string(runtimePath), expected);
    EXPECT_TRUE(logContains("Setting PATH (native libs) " + expected + "\n"));

    // A PATH that would pass 48000 bytes is cut there. (Wine cannot set a variable that long in a
    // 32-bit process here, so the composition is checked on its own.)
    std::string cut = composeNativeLibraryPath("native", std::string(50000, 'p').c_str());
    EXPECT_EQ(cut.size(), 47999u);
    EXPECT_EQ(cut, directory + "native;" + std::string(47999 - directory.size() - 7, 'p'));
    EXPECT_TRUE(logContains("ERROR: PATH (native libs) cut from " + std::to_string(directory.size() + 50007) +
                            " to 47999 bytes\n"));
    SetEnvironmentVariableA("PATH", original.c_str());
}

} // namespace
