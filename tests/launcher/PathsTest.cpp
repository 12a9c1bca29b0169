// Unit tests of the path vocabulary, the temporary directories, the byte copy of included files and
// the removal of directories.
#include "Paths.h"
#include "LogText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

namespace {

std::string tempPath() {
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    return path;
}

// A fresh directory under the temporary directory; removed with its two levels afterwards.
class ScratchDirectory {
  public:
    explicit ScratchDirectory(const char* name) : path(tempPath() + name) {
        emptyDirectory(path.c_str(), true);
        RemoveDirectoryA(path.c_str());
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~ScratchDirectory() {
        emptyDirectory(path.c_str(), true);
        RemoveDirectoryA(path.c_str());
    }
    std::string file(const std::string& name, const std::string& content = "x") const {
        std::string full = path + "\\" + name;
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    std::string directory(const std::string& name) const {
        std::string full = path + "\\" + name;
        CreateDirectoryA(full.c_str(), nullptr);
        return full;
    }
    const std::string path;
};

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Paths, RelativeAndAbsolute) {
    struct Case {
        const char* path;
        bool relative;
    };
    const Case cases[] = {{"dir", true},    {"..\\x", true},      {"C:x", true},          {"C:/x", true},
                          {"\\x", true},    {"", true},           {"C:", true},           {"\"C:", true},
                          {"C:\\x", false}, {"\"C:\\x\"", false}, {"\\\\host\\x", false}, {"C:\\", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(isRelativePath(c.path), c.relative) << c.path;
        std::wstring wide(c.path, c.path + strlen(c.path));
        EXPECT_EQ(isRelativePath(wide.c_str()), c.relative) << c.path;
    }
}

TEST(Paths, CollapseBackslashesKeepsALeadingPair) {
    const std::pair<const char*, const char*> cases[] = {{"c:\\\\a\\\\\\b", "c:\\a\\b"},
                                                         {"\\\\server\\share", "\\\\server\\share"},
                                                         {"\\\\\\\\server\\\\x", "\\\\server\\x"},
                                                         {"a\\\\", "a\\"},
                                                         {"\\x", "\\x"},
                                                         {"", ""}};
    for (auto [input, expected] : cases) {
        char narrow[64];
        strcpy(narrow, input);
        collapseBackslashes(narrow);
        EXPECT_STREQ(narrow, expected) << input;
        std::wstring wide(input, input + strlen(input));
        collapseBackslashes(&wide[0]);
        EXPECT_EQ(std::string(wide.begin(), wide.begin() + wcslen(wide.c_str())), expected) << input;
    }
}

TEST(Paths, LowerCasingTouchesOnlyAToZ) {
    wchar_t wide[] = L"C:\\\u00c4RGER\\X\u0130.EXE";
    lowerCasePath(wide);
    EXPECT_EQ(std::wstring(wide), L"c:\\\u00c4rger\\x\u0130.exe");
    char narrow[] = "C:\\Dir\\\xC4.EXE";
    lowerCasePath(narrow);
    EXPECT_STREQ(narrow, "c:\\dir\\\xC4.exe");
}

TEST(Paths, DriveRootsExistWithoutAMedium) {
    for (const char* root : {"Q:\\", "Q:\\.", "Q:\\.\\.", "c:\\"}) {
        EXPECT_TRUE(pathExists(root)) << root;
        std::wstring wide(root, root + strlen(root));
        EXPECT_TRUE(pathExists(wide.c_str())) << root;
    }
    EXPECT_FALSE(pathExists("Q:\\x"));
    EXPECT_FALSE(pathExists("Q:\\.\\.\\x"));
    ScratchDirectory scratch("lyx-paths-exist");
    FILETIME written{};
    EXPECT_TRUE(pathExists(scratch.file("f.txt").c_str(), &written));
    EXPECT_NE(written.dwLowDateTime | written.dwHighDateTime, 0u);
    EXPECT_FALSE(pathExists((scratch.path + "\\missing").c_str()));
}

TEST(Paths, ExecutablePathsAndDirectories) {
    std::string executable = getExecutablePath();
    ASSERT_GE(executable.size(), 4u);
    EXPECT_EQ(_stricmp(executable.c_str() + executable.size() - 4, ".exe"), 0);
    std::string directory = getExecutableDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '\\');
    EXPECT_EQ(_strnicmp(executable.c_str(), directory.c_str(), directory.size()), 0);
    std::wstring longDirectory = getExecutableDirectoryWide(false);
    EXPECT_EQ(longDirectory.back(), L'\\');
    std::wstring widened = getExecutableDirectoryWide(true);
    EXPECT_EQ(widened, std::wstring(directory.begin(), directory.end()));
}

TEST(Paths, ResolveAndFullPath) {
    std::string directory = getExecutableDirectory();
    char buffer[6000];
    resolvePath(buffer, sizeof buffer, "lib\\\\x.dll");
    EXPECT_EQ(std::string(buffer), directory + "lib\\x.dll");
    resolvePath(buffer, sizeof buffer, "C:\\abs\\\\y");
    EXPECT_STREQ(buffer, "C:\\abs\\y");
    resolvePath(buffer, sizeof buffer, "x.opts", "C:\\a\\b\\app.vmoptions");
    EXPECT_STREQ(buffer, "C:\\a\\b\\x.opts");

    wchar_t wide[6000];
    resolvePath(wide, 6000, L"w", false, L"C:\\base\\file");
    EXPECT_EQ(std::wstring(wide), L"C:\\base\\w");

    makeFullPath(buffer, sizeof buffer, "C:\\Some\\Dir\\..\\\\App.EXE", false);
    EXPECT_STREQ(buffer, "c:\\some\\app.exe");
    makeFullPath(buffer, sizeof buffer, "C:\\Some\\.\\App.EXE", true);
    EXPECT_STREQ(buffer, "C:\\Some\\App.EXE");
    makeFullPath(wide, 6000, L"Sub\\..\\Lib", true, true);
    std::wstring expected(directory.begin(), directory.end());
    EXPECT_EQ(std::wstring(wide), expected + L"Lib");
}

TEST(TempDirectory, TheSystemsTempPathIsTakenWhenTheFileFunctionsCanNameIt) {
    char narrow[6000];
    getTempDirectory(narrow, sizeof narrow);
    EXPECT_EQ(std::string(narrow), tempPath());
    wchar_t wide[6000];
    getTempDirectoryWide(wide, 6000);
    std::string expected = tempPath();
    EXPECT_EQ(std::wstring(wide), std::wstring(expected.begin(), expected.end()));
    EXPECT_TRUE(logContains("GetTempPath returned " + std::to_string(expected.size()) + " (last error "));
}

TEST(TempDirectory, WritabilityIsProbedWithADirectory) {
    EXPECT_TRUE(isWritableDirectory(tempPath().c_str()));
    EXPECT_FALSE(isWritableDirectory("C:\\no\\such\\directory"));
    EXPECT_FALSE(isWritableDirectory(L"C:\\no\\such\\directory"));
    EXPECT_FALSE(exists(tempPath() + "lyx_w_testdir"));
}

TEST(TempDirectory, TempFileNamesAreNewFiles) {
    char first[6000], second[6000];
    getTempFileName(first, sizeof first);
    getTempFileName(second, sizeof second);
    EXPECT_STRNE(first, second);
    for (const char* name : {first, second}) {
        EXPECT_EQ(std::string(name).rfind(tempPath() + "lyx", 0), 0u) << name;
        EXPECT_TRUE(exists(name));
        EXPECT_TRUE(logContains(std::string("tempFile is ") + name + "\n"));
        DeleteFileA(name);
    }
}

TEST(TempDirectory, TheLauncherTempDirectoryIsNamedAfterATempFile) {
    createLauncherTempDirectory();
    std::string directory = launcherTempDirectory;
    EXPECT_NE(directory.find(".tmp_dir"), std::string::npos) << directory;
    EXPECT_TRUE(exists(directory));
    EXPECT_TRUE(logContains("Temp dir3: " + directory + "\n"));
    RemoveDirectoryA(directory.c_str());
    DeleteFileA(directory.substr(0, directory.find("_dir")).c_str());
    launcherTempDirectory[0] = 0;
}

TEST(EmptyDirectory, RemovesTwoLevelsAndNoMore) {
    ScratchDirectory scratch("lyx-empty");
    std::string top = scratch.file("top.txt");
    std::string lib = scratch.directory("lib");
    std::string libFile = scratch.file("lib\\b.dll");
    std::string readOnly = scratch.file("lib\\ro.txt");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    std::string deep = scratch.directory("deep");
    scratch.directory("deep\\deeper");
    std::string deepest = scratch.file("deep\\deeper\\kept.txt");

    emptyDirectory((scratch.path + "\\").c_str(), true);
    EXPECT_FALSE(exists(top));
    EXPECT_FALSE(exists(libFile));
    EXPECT_FALSE(exists(readOnly));
    EXPECT_FALSE(exists(lib));
    EXPECT_TRUE(exists(deepest)); // a third level is out of reach, so deep stays too
    EXPECT_TRUE(exists(deep));
    EXPECT_TRUE(logContains("attempting to delete " + scratch.path + "\\top.txt\n"));
    EXPECT_TRUE(logContains("attempting to remove " + scratch.path + "\\lib (1)\n"));
    EXPECT_TRUE(logContains("attempting to remove " + scratch.path + "\\deep\\deeper (0)\n"));

    emptyDirectory(scratch.path.c_str(), false);
    EXPECT_TRUE(exists(deepest));
}

TEST(EmptyDirectory, RelativePathsBeginningWithADotAreNeverEmptied) {
    ScratchDirectory scratch("lyx-dot");
    std::string kept = scratch.file("kept.txt");
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    SetCurrentDirectoryA(scratch.path.c_str());
    emptyDirectory(".", true);
    emptyDirectory(".\\", true);
    SetCurrentDirectoryA(current);
    EXPECT_TRUE(exists(kept));
}

// A source file of the given bytes, opened for reading.
HANDLE sourceOf(const ScratchDirectory& scratch, const std::string& bytes) {
    std::string path = scratch.file("source.bin", bytes);
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string copied(const ScratchDirectory& scratch, const std::string& bytes, long long count, bool xorBytes,
                   int* result) {
    HANDLE source = sourceOf(scratch, bytes);
    std::string targetPath = scratch.path + "\\target.bin";
    HANDLE target = CreateFileA(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    *result = copyFileBytes(source, target, count, xorBytes);
    CloseHandle(source);
    CloseHandle(target);
    std::ifstream in(targetPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(CopyFileBytes, CopiesExactlyTheCountAcrossChunks) {
    ScratchDirectory scratch("lyx-copy");
    std::string bytes;
    for (int i = 0; i < 13001; i++)
        bytes += static_cast<char>(i * 7 + i / 256);
    std::string decoded = bytes;
    for (char& c : decoded)
        c = static_cast<char>(c ^ 0x88);
    int result = -1;
    EXPECT_EQ(copied(scratch, bytes + "tail", 13001, true, &result), decoded);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(copied(scratch, "\x88\x89", 2, true, &result), std::string("\x00\x01", 2));
    EXPECT_EQ(copied(scratch, bytes, 6000, false, &result), bytes.substr(0, 6000));
    EXPECT_EQ(copied(scratch, bytes, 0, true, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(copied(scratch, bytes, -5, true, &result), "");
    EXPECT_EQ(result, 0);
}

TEST(CopyFileBytes, AShortSourceIsAReadFailure) {
    ScratchDirectory scratch("lyx-short");
    int result = -1;
    EXPECT_EQ(copied(scratch, std::string(7000, 'a'), 9000, false, &result), std::string(7000, 'a'));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(logContains("ERROR: ReadFile failed 0 "));
    EXPECT_TRUE(logContains(" 7000\n"));
}

TEST(CopyFileBytes, AFailedWriteIsAWriteFailure) {
    ScratchDirectory scratch("lyx-write");
    HANDLE source = sourceOf(scratch, "abc");
    std::string readOnlyPath = scratch.file("ro.bin");
    HANDLE target = CreateFileA(readOnlyPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(copyFileBytes(source, target, 3, true), 2);
    CloseHandle(source);
    CloseHandle(target);
    EXPECT_TRUE(logContains("ERROR: WriteFile failed 3 "));
}

} // namespace
