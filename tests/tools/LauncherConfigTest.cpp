// launcher-config run as a process, as users and the build run it.
#include "ToolTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

const std::string tool = LAUNCHER_CONFIG;

ToolRun run(const std::vector<std::string>& args) {
    return runTool(tool, args);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The dump's JSON part, which ends where the list of included files begins.
nlohmann::json dumpedJson(const ToolRun& dump) {
    size_t end = dump.out.find("\nincluded files: ");
    EXPECT_NE(end, std::string::npos) << dump.out;
    return nlohmann::json::parse(dump.out.substr(0, end));
}

class LauncherConfig : public ::testing::Test {
  protected:
    TempDir dir;
    std::string stub = dir.path("stub.exe");
    std::string config = dir.path("config.json");
    std::string app = dir.path("out/app.exe");

    void SetUp() override { writeFile(stub, fakePeStub(2)); }

    ToolRun build(const std::string& json, const std::vector<std::string>& extra = {}) {
        writeFile(config, json);
        std::vector<std::string> args{"build", "--stub", stub, "--config", config, "--out", app};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    }
};

const char* const richConfig = R"({
  "narrow": {"serviceName": "Demo service", "1000": "Fehler \u00e4 \u20ac", "-1": "", "mainClass": "a.B"},
  "wide": {"serviceDescription": "Dienst \u4e2d\u6587 \ud83d\ude00", "7": ""},
  "languages": [{"prefix": "de", "entries": {"errorCaption": "Fehler \u00df"}}, {"prefix": "", "entries": {}}]
})";

TEST_F(LauncherConfig, DumpGivesBackTheConfigurationWithNumericKeys) {
    ToolRun built = build(richConfig);
    ASSERT_EQ(built.exitCode, 0) << built.err;
    ToolRun dump = run({"dump", app});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    nlohmann::json expected = nlohmann::json::parse(R"({
      "narrow": {"101": "Demo service", "1000": "Fehler \u00e4 \u20ac", "-1": "", "122": "a.B"},
      "wide": {"20017": "Dienst \u4e2d\u6587 \ud83d\ude00", "7": ""},
      "languages": [{"prefix": "de", "entries": {"1000": "Fehler \u00df"}}, {"prefix": "", "entries": {}}]
    })");
    EXPECT_EQ(dumpedJson(dump), expected);
    EXPECT_LT(dump.out.find("\"-1\""), dump.out.find("\"101\""));
    EXPECT_LT(dump.out.find("\"122\""), dump.out.find("\"1000\""));
    EXPECT_TRUE(contains(dump.out, "\nincluded files: 0\n")) << dump.out;
}

TEST_F(LauncherConfig, BuildingFromADumpGivesTheSameLauncher) {
    ASSERT_EQ(build(richConfig).exitCode, 0);
    ToolRun dump = run({"dump", app});
    std::string first = readFile(app);
    ToolRun rebuilt = build(dumpedJson(dump).dump());
    ASSERT_EQ(rebuilt.exitCode, 0) << rebuilt.err;
    EXPECT_EQ(readFile(app), first);
}

TEST_F(LauncherConfig, IncludesFilesXorEncodedBehindThePayload) {
    writeFile(dir.path("a.txt"), "abc");
    writeFile(dir.path("empty"), "");
    writeFile(dir.path("native.dll"), std::string("\x00\x01\x88", 3));
    ToolRun built =
        build(R"({"narrow": {"101": "x"}})",
              {"--file", "a.txt=" + dir.path("a.txt"), "--file", "lib\\empty.dll=" + dir.path("empty"),
               "--file=lib\\native.dll=" + dir.path("native.dll")});
    ASSERT_EQ(built.exitCode, 0) << built.err;
    std::string launcher = readFile(app);
    EXPECT_EQ(launcher.substr(launcher.size() - 11), std::string("\x03\0\0\0\0\0\0\0\x88\x89\0", 11));

    ToolRun dump = run({"dump", app});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dumpedJson(dump)["narrow"]["2002"], "3");
    EXPECT_EQ(dumpedJson(dump)["narrow"]["2003"], "a.txt;lib\\empty.dll;lib\\native.dll");
    EXPECT_TRUE(contains(dump.out, "included files: 3\n  a.txt (3 bytes)\n  lib\\empty.dll (0 bytes)\n"
                                   "  lib\\native.dll (3 bytes)\n"))
        << dump.out;
}

TEST_F(LauncherConfig, FileOptionsReplaceTheConfiguredIncludedFiles) {
    writeFile(dir.path("a.txt"), "abc");
    ToolRun built =
        build(R"({"narrow": {"2002": "2", "2003": "x;y"}})", {"--file", "a.txt=" + dir.path("a.txt")});
    ASSERT_EQ(built.exitCode, 0) << built.err;
    EXPECT_TRUE(contains(built.err, "warning: the --file options replace ids 2002 and 2003")) << built.err;
    nlohmann::json dumped = dumpedJson(run({"dump", app}));
    EXPECT_EQ(dumped["narrow"]["2002"], "1");
    EXPECT_EQ(dumped["narrow"]["2003"], "a.txt");
}

TEST_F(LauncherConfig, WithoutFileOptionsTheConfiguredIncludedFilesStay) {
    ToolRun built = build(R"({"narrow": {"2002": "1", "2003": "x"}})");
    ASSERT_EQ(built.exitCode, 0) << built.err;
    EXPECT_TRUE(contains(built.err, "lists 1 included files (ids 2002 and 2003) but no --file")) << built.err;
    // The launcher would read an included file that is not there: dump says so.
    ToolRun dump = run({"dump", app});
    EXPECT_EQ(dump.exitCode, 1);
    EXPECT_TRUE(contains(dump.err, "included file 1 (x) size: the file ends after 0 of its 8 bytes"))
        << dump.err;
}

TEST_F(LauncherConfig, LeavesTheStubAloneAndWritesAnExecutable) {
    std::string before = readFile(stub);
    ASSERT_EQ(build(richConfig).exitCode, 0);
    EXPECT_EQ(readFile(stub), before);
    std::string launcher = readFile(app);
    EXPECT_EQ(launcher.substr(0, before.size()), before);
    EXPECT_EQ(launcher.substr(before.size(), 4), "\xD5\x13\xE4\xE8");
    struct stat info {};
    ASSERT_EQ(stat(app.c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);
    // Only the launcher is left in the output directory, no temporary file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path("out")), fs::directory_iterator()), 1);

    ToolRun again = run({"build", "--stub", stub, "--config", config, "--out", stub});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(contains(again.err, "is the stub itself")) << again.err;
    EXPECT_EQ(readFile(stub), before);
}

TEST_F(LauncherConfig, ReplacesAnEarlierOutput) {
    writeFile(config, R"({"narrow": {"101": "first"}})");
    ASSERT_EQ(run({"build", "--stub", stub, "--config", config, "--out", app}).exitCode, 0);
    ASSERT_EQ(build(R"({"narrow": {"101": "second"}})").exitCode, 0);
    EXPECT_EQ(dumpedJson(run({"dump", app}))["narrow"]["101"], "second");
}

struct BadBuild {
    const char* name;
    std::string json;
    std::vector<std::string> fileNames; // each included as NAME=<an existing file>
    std::string stub;                   // empty: a good stub
    const char* message;
};

TEST_F(LauncherConfig, RefusesBadInputsOfBuild) {
    const std::string good = R"({"narrow": {"101": "x"}})";
    std::string withSymbols = fakePeStub(1) + std::string(18, 'S');
    const BadBuild cases[] = {
        {"unknown alias", R"({"narrow": {"servceName": "x"}})", {}, "", R"(unknown key "servceName")"},
        {"non-numeric key", R"({"wide": {"12x": "x"}})", {}, "", R"("wide": unknown key "12x")"},
        {"non-string value",
         R"({"narrow": {"107": 4}})",
         {},
         "",
         R"(the value of "107" is number, not a string)"},
        {"duplicate key",
         R"({"narrow": {"mainClass": "a", "122": "b"}})",
         {},
         "",
         "both name identifier 122"},
        {"unrepresentable narrow text", R"({"narrow": {"1000": "\u0141"}})", {}, "", "holds U+0141"},
        {"not JSON", "{narrow", {}, "", "not valid JSON"},
        {"stub with a symbol table",
         good,
         {},
         withSymbols,
         "carries 18 bytes behind the raw data of its last section"},
        {"not a PE file", good, {}, "plain text, no executable", "not a PE image: no MZ signature"},
        {"truncated stub", good, {}, fakePeStub(2).substr(0, 100), "inside the header of section 2"},
        {"absolute name", good, {"\\abs.dll"}, "", "must be relative"},
        {"drive name", good, {"c:x.dll"}, "", "\":\" is not allowed"},
        {"parent directory", good, {"..\\x.dll"}, "", "\"..\" is not allowed"},
        {"two levels", good, {"a\\b\\c.dll"}, "", "at most one directory level"},
        {"slash separator", good, {"lib/x.dll"}, "", "use a backslash"},
        {"separator in name", good, {"a;b"}, "", "\";\" is not allowed"},
        {"empty name", good, {""}, "", "the name is empty"},
        {"directory only", good, {"lib\\"}, "", "names no file"},
        {"unrepresentable name", good, {"\xE4\xB8\xAD.dll"}, "", "Windows-1252"},
        {"same name twice", good, {"lib\\A.dll", "LIB\\a.dll"}, "", "given twice"},
    };
    writeFile(dir.path("data"), "data");
    for (const BadBuild& c : cases) {
        writeFile(stub, c.stub.empty() ? fakePeStub(2) : c.stub);
        std::vector<std::string> files;
        for (const std::string& name : c.fileNames)
            files.insert(files.end(), {"--file", name + "=" + dir.path("data")});
        ToolRun built = build(c.json, files);
        EXPECT_EQ(built.exitCode, 1) << c.name;
        EXPECT_TRUE(contains(built.err, c.message))
            << c.name << "\n  expected: " << c.message << "\n  got: " << built.err;
        EXPECT_FALSE(fs::exists(app)) << c.name;
    }
}

TEST_F(LauncherConfig, RefusesMissingInputFiles) {
    ToolRun noConfig = run({"build", "--stub", stub, "--config", dir.path("missing"), "--out", app});
    EXPECT_EQ(noConfig.exitCode, 1);
    EXPECT_TRUE(contains(noConfig.err, "cannot read " + dir.path("missing"))) << noConfig.err;
    ToolRun noFile = build("{}", {"--file", "a.dll=" + dir.path("missing")});
    EXPECT_EQ(noFile.exitCode, 1);
    EXPECT_TRUE(contains(noFile.err, "cannot read " + dir.path("missing"))) << noFile.err;
    ToolRun noValue = build("{}", {"--file", "a.dll"});
    EXPECT_EQ(noValue.exitCode, 1);
    EXPECT_TRUE(contains(noValue.err, "expected NAME=PATH")) << noValue.err;
    ToolRun noStub = run({"build", "--stub", dir.path("missing"), "--config", config, "--out", app});
    EXPECT_EQ(noStub.exitCode, 1);
    EXPECT_TRUE(contains(noStub.err, "cannot read stub")) << noStub.err;
    EXPECT_FALSE(fs::exists(app));
}

TEST_F(LauncherConfig, RefusesDamagedLaunchersInDump) {
    ASSERT_EQ(build(richConfig).exitCode, 0);
    std::string launcher = readFile(app);
    size_t payload = fakePeStub(2).size();
    std::string badMagic = launcher;
    badMagic[payload] = 0;
    std::string hugeCount = launcher;
    putInt32(hugeCount, payload + 20, 0x7FFFFFFF);
    std::string negativeLength = launcher;
    putInt32(negativeLength, payload + 28, 0xFFFFFFFF);
    const std::pair<std::string, std::string> cases[] = {
        {fakePeStub(2), "no payload: nothing follows the raw data of the last section"},
        {badMagic, "no payload at offset " + std::to_string(payload)},
        {launcher.substr(0, payload + 22), "damaged payload at offset " + std::to_string(payload + 20) +
                                               ": narrow count: the file ends after 2 of its 4 bytes"},
        {launcher.substr(0, launcher.size() - 1), "damaged payload at offset"},
        {hugeCount, "narrow count 2147483647 needs at least"},
        {negativeLength, "narrow entry 1 (id -1) text length -1 is negative"},
        {"MZ", "not a PE image"},
        {"", "not a PE image"},
    };
    for (const auto& [bytes, message] : cases) {
        writeFile(app, bytes);
        ToolRun dump = run({"dump", app});
        EXPECT_EQ(dump.exitCode, 1) << message;
        EXPECT_TRUE(contains(dump.err, message)) << "expected: " << message << "\n  got: " << dump.err;
    }
    ToolRun missing = run({"dump", dir.path("missing.exe")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.err, "cannot read")) << missing.err;
}

TEST_F(LauncherConfig, ReportsDataBehindTheIncludedFiles) {
    ASSERT_EQ(build("{}").exitCode, 0);
    writeFile(app, readFile(app) + "tail");
    ToolRun dump = run({"dump", app});
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_TRUE(contains(dump.out, "behind the included files: 4 bytes")) << dump.out;
}

TEST(LauncherConfigUsage, WrongUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"build"},
        {"build", "--stub", "a", "--config", "b"},
        {"build", "--stub", "a", "--stub", "b", "--config", "c", "--out", "d"},
        {"build", "--stub", "a", "--config", "b", "--out", "c", "--verbose"},
        {"build", "--stub", "a", "--config", "b", "--out"},
        {"dump"},
        {"dump", "a", "b"},
        {"dump", "--all"},
        {"aliases", "x"},
    };
    for (const std::vector<std::string>& args : cases) {
        ToolRun result = run(args);
        std::string line = args.empty() ? "(none)" : args[0] + " ... (" + std::to_string(args.size()) + ")";
        EXPECT_EQ(result.exitCode, 2) << line;
        EXPECT_TRUE(contains(result.err, "usage: launcher-config")) << line << ": " << result.err;
    }
}

TEST(LauncherConfigUsage, HelpDescribesEachCommand) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--help"}, "launcher-config dump APP.exe"},
        {{"-h"}, "launcher-config aliases"},
        {{"build", "--help"}, "CONFIG.json gives them"},
        {{"build", "--stub", "a", "-h"}, "Windows-1252"},
        {{"dump", "-h"}, "\"included files: N\""},
        {{"aliases", "--help"}, "alias, identifier, meaning"},
    };
    for (const auto& [args, text] : cases) {
        ToolRun result = run(args);
        EXPECT_EQ(result.exitCode, 0) << args[0];
        EXPECT_TRUE(contains(result.out, text)) << args[0] << ": " << result.out;
    }
}

TEST(LauncherConfigUsage, ListsTheAliases) {
    ToolRun result = run({"aliases"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* line : {"serviceName", "mainClass", "serviceDescription", "splashLine2Text"})
        EXPECT_TRUE(contains(result.out, line)) << line;
}

TEST(DemoConfiguration, BuildsAndDumpsTheSameConfiguration) {
    TempDir dir;
    writeFile(dir.path("stub.exe"), fakePeStub(3, 0xE0));
    ToolRun built = run(
        {"build", "--stub", dir.path("stub.exe"), "--config", DEMO_CONFIG, "--out", dir.path("demo.exe")});
    ASSERT_EQ(built.exitCode, 0) << built.err;
    EXPECT_EQ(built.err, "");
    ToolRun dump = run({"dump", dir.path("demo.exe")});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    nlohmann::json demo = nlohmann::json::parse(readFile(DEMO_CONFIG));
    EXPECT_EQ(dumpedJson(dump), demo);
    EXPECT_EQ(demo["narrow"]["2001"], "q");
    EXPECT_EQ(demo["wide"], nlohmann::json::parse(R"({"20017": ""})"));
}

TEST(DemoConfiguration, BuildsAgainstTheRealLauncherStub) {
    if (!fs::exists(LAUNCHER_STUB))
        GTEST_SKIP() << LAUNCHER_STUB << " is not built";
    TempDir dir;
    ToolRun built =
        run({"build", "--stub", LAUNCHER_STUB, "--config", DEMO_CONFIG, "--out", dir.path("demo.exe")});
    ASSERT_EQ(built.exitCode, 0) << built.err;
    ToolRun dump = run({"dump", dir.path("demo.exe")});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dumpedJson(dump), nlohmann::json::parse(readFile(DEMO_CONFIG)));
}

} // namespace
