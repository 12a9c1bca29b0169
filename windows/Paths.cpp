#include "Paths.h"

#include "Bounded.h"
#include "Config.h"
#include "Format.h"
#include "JavaVMLauncher.h"
#include "Log.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>

char launcherTempDirectory[6000];

namespace {

const size_t pathSize = 6000;
// The value composed for PATH, terminator included.
const size_t pathVariableSize = 48000;
const DWORD copyChunkSize = 6000;
const unsigned char includedFileKey = 0x88;

// The system calls in both encodings, so that the path operations are written once.
DWORD fullPathName(const char* path, DWORD size, char* buffer) {
    return GetFullPathNameA(path, size, buffer, nullptr);
}
DWORD fullPathName(const wchar_t* path, DWORD size, wchar_t* buffer) {
    return GetFullPathNameW(path, size, buffer, nullptr);
}
DWORD longPathName(const char* path, char* buffer, DWORD size) {
    return GetLongPathNameA(path, buffer, size);
}
DWORD longPathName(const wchar_t* path, wchar_t* buffer, DWORD size) {
    return GetLongPathNameW(path, buffer, size);
}
bool createDirectory(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}
bool createDirectory(const wchar_t* path) {
    return CreateDirectoryW(path, nullptr) != 0;
}
void removeDirectory(const char* path) {
    RemoveDirectoryA(path);
}
void removeDirectory(const wchar_t* path) {
    RemoveDirectoryW(path);
}
DWORD tempPath(DWORD size, char* buffer) {
    return GetTempPathA(size, buffer);
}
DWORD tempPath(DWORD size, wchar_t* buffer) {
    return GetTempPathW(size, buffer);
}
void environmentValue(const char* name, std::string& value) {
    char buffer[pathSize];
    DWORD length = GetEnvironmentVariableA(name, buffer, pathSize);
    value = length > 0 && length < pathSize ? buffer : "";
}
void environmentValue(const char* name, std::wstring& value) {
    wchar_t buffer[pathSize];
    std::wstring wideName(name, name + strlen(name));
    DWORD length = GetEnvironmentVariableW(wideName.c_str(), buffer, pathSize);
    value = length > 0 && length < pathSize ? buffer : L"";
}
std::string windowsDirectory(char) {
    char buffer[MAX_PATH];
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? buffer : "c:\\windows";
}
std::wstring windowsDirectory(wchar_t) {
    wchar_t buffer[MAX_PATH];
    UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? buffer : L"c:\\windows";
}

template <typename Char> std::basic_string<Char> literal(const char* text) {
    return std::basic_string<Char>(text, text + strlen(text));
}

// `directory`, a backslash unless it already ends in one, and `name`.
template <typename Char>
std::basic_string<Char> joinPath(const std::basic_string<Char>& directory, const Char* name) {
    std::basic_string<Char> path = directory;
    if (path.empty() || path.back() != '\\')
        path += Char('\\');
    return path + name;
}

template <typename Char> std::basic_string<Char> directoryOf(const std::basic_string<Char>& path) {
    size_t slash = path.find_last_of(Char('\\'));
    return slash == std::basic_string<Char>::npos ? std::basic_string<Char>() : path.substr(0, slash + 1);
}

template <typename Char> std::basic_string<Char> fullPathOf(const Char* path) {
    Char buffer[pathSize];
    DWORD length = fullPathName(path, pathSize, buffer);
    return length > 0 && length < pathSize ? buffer : path;
}

UINT fileCodePage() {
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

// Converts to the file functions' code page; false when a character has no representation there.
bool toFileCodePage(const wchar_t* wide, std::string& narrow) {
    // Without best fit: a look-alike character ("O" for an omega) would name another file.
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(fileCodePage(), flags, wide, -1, nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return false;
    narrow.assign(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(fileCodePage(), flags, wide, -1, &narrow[0], size, nullptr, &usedDefault);
    narrow.resize(static_cast<size_t>(size) - 1);
    return !usedDefault;
}

std::wstring fromFileCodePage(const char* narrow) {
    int size = MultiByteToWideChar(fileCodePage(), 0, narrow, -1, nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(fileCodePage(), 0, narrow, -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

// Applies a wide path operation to a narrow path; the result replaces the path only when it
// converts back without loss and is no longer than the original.
void throughWide(char* path, void (*operation)(wchar_t*)) {
    std::wstring wide = fromFileCodePage(path);
    operation(&wide[0]);
    std::string narrow;
    if (toFileCodePage(wide.c_str(), narrow) && narrow.size() <= strlen(path))
        strcpy(path, narrow.c_str());
}

// The ANSI-safe candidate: usable when it converts without loss and still names an .exe.
bool usableNarrowExecutable(const wchar_t* path, std::string& narrow) {
    return toFileCodePage(path, narrow) && narrow.size() >= 4 &&
           _stricmp(narrow.c_str() + narrow.size() - 4, ".exe") == 0;
}

template <typename Char> bool isRelative(const Char* path) {
    if (path[0] == '"')
        path++;
    if (std::char_traits<Char>::length(path) < 3)
        return true;
    if (path[1] == ':' && path[2] == '\\')
        return false;
    return !(path[0] == '\\' && path[1] == '\\');
}

template <typename Char>
void resolveAgainst(Char* buffer, size_t size, const Char* path,
                    const std::basic_string<Char>& baseDirectory) {
    if (isRelative(path)) {
        copyBounded(buffer, size, baseDirectory.c_str());
        appendBounded(buffer, size, path);
    } else {
        copyBounded(buffer, size, path);
    }
    collapseBackslashes(buffer);
}

template <typename Char> void normalise(Char* buffer, size_t size, const Char* resolved, bool keepCase) {
    DWORD length = fullPathName(resolved, static_cast<DWORD>(size), buffer);
    if (length == 0 || length >= size)
        copyBounded(buffer, size, resolved);
    if (!keepCase)
        lowerCasePath(buffer);
    collapseBackslashes(buffer);
}

template <typename Char> bool isDriveRoot(const Char* path) {
    if (path[0] == 0)
        return false;
    std::basic_string<Char> rest(path + 1);
    return rest == literal<Char>(":\\") || rest == literal<Char>(":\\.") || rest == literal<Char>(":\\.\\.");
}

template <typename Char> bool isWritable(const Char* directory) {
    std::basic_string<Char> probe =
        joinPath(std::basic_string<Char>(directory), literal<Char>("lyx_w_testdir").c_str());
    removeDirectory(probe.c_str());
    if (!createDirectory(probe.c_str()))
        return false;
    bool exists = pathExists(probe.c_str());
    removeDirectory(probe.c_str());
    return exists;
}

// The narrow functions replace what the code page cannot represent by "?" or by a look-alike
// character; either names another directory than the system's temporary path.
bool fileFunctionsCanName(const char*) {
    wchar_t wide[pathSize];
    DWORD length = GetTempPathW(pathSize, wide);
    std::string narrow;
    return length == 0 || length >= pathSize || toFileCodePage(wide, narrow);
}
bool fileFunctionsCanName(const wchar_t*) {
    return true;
}

void logHome(const std::string& home) {
    logMessage("No temp dir defined. Using home %s", home.c_str());
}
void logHome(const std::wstring& home) {
    logMessage("No temp dir defined. Using home %S", home.c_str());
}

template <typename Char> void selectTempDirectory(Char* buffer, size_t size) {
    typedef std::basic_string<Char> String;
    DWORD length = tempPath(static_cast<DWORD>(size), buffer);
    logMessage("GetTempPath returned %d (last error %d)", static_cast<int>(length),
               static_cast<int>(GetLastError()));
    if (length >= size)
        buffer[0] = 0;
    if (buffer[0] == 0) {
        String drive, path;
        environmentValue("HOMEDRIVE", drive);
        environmentValue("HOMEPATH", path);
        copyBounded(buffer, size, (drive + path).c_str());
        logHome(String(buffer));
    } else if (length > 0 && fileFunctionsCanName(buffer)) {
        logMessage("make dir returned %d", createDirectory(buffer) ? 0 : -1);
    }

    // When the long name cannot be had, the directory is taken as it is.
    Char longName[pathSize];
    DWORD longLength = longPathName(buffer, longName, pathSize);
    const Char* checked = longLength > 0 && longLength < pathSize ? longName : buffer;
    if (String(checked).find(Char('?')) == String::npos && fileFunctionsCanName(buffer))
        return;

    String windows = windowsDirectory(Char());
    const String candidates[] = {windows + literal<Char>("\\temp"), literal<Char>("c:\\temp"),
                                 literal<Char>("c:\\tmp"), windows};
    for (const String& candidate : candidates) {
        if (isWritable(candidate.c_str())) {
            copyBounded(buffer, size, candidate.c_str());
            return;
        }
    }
    String tmp = literal<Char>("c:\\tmp");
    if (isWritable(literal<Char>("c:\\").c_str())) {
        createDirectory(tmp.c_str());
        if (isWritable(tmp.c_str())) {
            copyBounded(buffer, size, tmp.c_str());
            return;
        }
    }
    fatalMessage(1015);
}

// An included file must land inside the launcher temporary directory: no drive, no root, no "..".
bool staysInTempDirectory(const char* name) {
    if (name[0] == '\\' || name[0] == '/' || strchr(name, ':') != nullptr)
        return false;
    std::string rest = name;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = rest.size();
        if (rest.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

long long filePosition(HANDLE file) {
    LARGE_INTEGER zero{}, position{};
    SetFilePointerEx(file, zero, &position, FILE_CURRENT);
    return position.QuadPart;
}

} // namespace

const wchar_t* getExecutablePathWide() {
    static wchar_t path[pathSize];
    if (path[0] != 0)
        return path;
    wchar_t moduleName[pathSize];
    DWORD length = GetModuleFileNameW(nullptr, moduleName, pathSize);
    if (length == 0 || length >= pathSize)
        return path;
    DWORD longLength = GetLongPathNameW(moduleName, path, pathSize);
    if (longLength == 0 || longLength >= pathSize)
        copyBounded(path, moduleName);
    collapseBackslashes(path);
    return path;
}

const char* getExecutablePath() {
    static char path[pathSize];
    if (path[0] != 0)
        return path;
    const wchar_t* longPath = getExecutablePathWide();
    std::string narrow;
    wchar_t shortPath[pathSize];
    DWORD shortLength = GetShortPathNameW(longPath, shortPath, pathSize);
    if (usableNarrowExecutable(longPath, narrow) ||
        (shortLength > 0 && shortLength < pathSize && usableNarrowExecutable(shortPath, narrow))) {
        copyBounded(path, narrow.c_str());
    } else {
        char moduleName[pathSize];
        DWORD length = GetModuleFileNameA(nullptr, moduleName, pathSize);
        moduleName[length < pathSize ? length : pathSize - 1] = 0;
        DWORD shortNarrow = GetShortPathNameA(moduleName, path, pathSize);
        if (shortNarrow == 0 || shortNarrow >= pathSize)
            copyBounded(path, moduleName);
    }
    collapseBackslashes(path);
    return path;
}

const char* getExecutableDirectory() {
    static char directory[pathSize];
    if (directory[0] == 0)
        copyBounded(directory, directoryOf(fullPathOf(getExecutablePath())).c_str());
    return directory;
}

const wchar_t* getExecutableDirectoryWide(bool ansiSafe) {
    static wchar_t ansiSafeDirectory[pathSize], longDirectory[pathSize];
    if (ansiSafe) {
        if (ansiSafeDirectory[0] == 0) {
            const char* narrow = getExecutableDirectory();
            size_t i = 0;
            for (; narrow[i] != 0 && i + 1 < pathSize; i++)
                ansiSafeDirectory[i] = static_cast<unsigned char>(narrow[i]);
            ansiSafeDirectory[i] = 0;
        }
        return ansiSafeDirectory;
    }
    if (longDirectory[0] == 0)
        copyBounded(longDirectory, directoryOf(fullPathOf(getExecutablePathWide())).c_str());
    return longDirectory;
}

bool isRelativePath(const char* path) {
    return isRelative(path);
}
bool isRelativePath(const wchar_t* path) {
    return isRelative(path);
}

void resolvePath(char* buffer, size_t size, const char* path, const char* baseFile) {
    resolveAgainst(buffer, size, path,
                   baseFile != nullptr ? directoryOf(fullPathOf(baseFile))
                                       : std::string(getExecutableDirectory()));
}

void resolvePath(wchar_t* buffer, size_t size, const wchar_t* path, bool ansiSafe, const wchar_t* baseFile) {
    resolveAgainst(buffer, size, path,
                   baseFile != nullptr ? directoryOf(fullPathOf(baseFile))
                                       : std::wstring(getExecutableDirectoryWide(ansiSafe)));
}

void makeFullPath(char* buffer, size_t size, const char* path, bool keepCase) {
    char resolved[pathSize];
    resolvePath(resolved, pathSize, path);
    normalise(buffer, size, resolved, keepCase);
}

void makeFullPath(wchar_t* buffer, size_t size, const wchar_t* path, bool keepCase, bool ansiSafe) {
    wchar_t resolved[pathSize];
    resolvePath(resolved, pathSize, path, ansiSafe);
    normalise(buffer, size, resolved, keepCase);
}

void lowerCasePath(wchar_t* path) {
    for (; *path != 0; path++)
        if (*path >= L'A' && *path <= L'Z')
            *path = static_cast<wchar_t>(*path - L'A' + L'a');
}
void lowerCasePath(char* path) {
    throughWide(path, lowerCasePath);
}

void collapseBackslashes(wchar_t* path) {
    if (path[0] == 0)
        return;
    wchar_t* out = path + 1;
    for (const wchar_t* in = path + 1; *in != 0; in++) {
        if (*in == L'\\' && out[-1] == L'\\' && out - 1 != path)
            continue;
        *out++ = *in;
    }
    *out = 0;
}
void collapseBackslashes(char* path) {
    throughWide(path, collapseBackslashes);
}

bool pathExists(const char* path, FILETIME* lastWriteTime) {
    if (isDriveRoot(path))
        return true;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    if (lastWriteTime != nullptr)
        *lastWriteTime = entry.ftLastWriteTime;
    return true;
}

bool pathExists(const wchar_t* path) {
    if (isDriveRoot(path))
        return true;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(path, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

void getTempDirectory(char* buffer, size_t size) {
    selectTempDirectory(buffer, size);
}
void getTempDirectoryWide(wchar_t* buffer, size_t size) {
    selectTempDirectory(buffer, size);
}
bool isWritableDirectory(const char* directory) {
    return isWritable(directory);
}
bool isWritableDirectory(const wchar_t* directory) {
    return isWritable(directory);
}

void getTempFileName(char* buffer, size_t size) {
    char directory[pathSize];
    getTempDirectory(directory, pathSize);
    logMessage("tempPath is %s", directory);
    char name[MAX_PATH];
    if (GetTempFileNameA(directory, "lyx", 0, name) != 0) {
        copyBounded(buffer, size, name);
    } else {
        logMessage("GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
        srand(static_cast<unsigned>(time(nullptr)));
        formatBounded(buffer, size, "%slyx%d", directory, rand());
    }
    logMessage("tempFile is %s", buffer);
}

void createLauncherTempDirectory() {
    for (int attempt = 0; attempt < 10; attempt++) {
        char fileName[pathSize];
        getTempFileName(fileName, pathSize);
        char directory[pathSize];
        formatBounded(directory, pathSize, "%s_dir%d", fileName,
                      static_cast<int>(time(nullptr) & 0xFFFFFFFF));
        logMessage("Temp dir3: %s", directory);
        if (CreateDirectoryA(directory, nullptr)) {
            copyBounded(launcherTempDirectory, directory);
            return;
        }
        logMessage("Could not create dir (%d)", static_cast<int>(GetLastError()));
    }
    launcherTempDirectory[0] = 0;
    fatalMessage(1009, "7");
}

int extractIncludedFiles(bool createDirectory) {
    logMessage("extracting files");
    int count = getConfigInt(2002);
    logMessage("Included files: %d", count);
    if (count <= 0) {
        if (createDirectory)
            launcherTempDirectory[0] = 0;
        return 0;
    }
    if (createDirectory)
        createLauncherTempDirectory();

    HANDLE executable = openOwnExecutable();
    LARGE_INTEGER start{};
    start.QuadPart = unextractedPosition;
    SetFilePointerEx(executable, start, nullptr, FILE_BEGIN);
    char* copy = getConfigStringCopy(2003);
    std::string names = copy;
    free(copy);
    int extracted = 0;
    for (size_t begin = 0; begin < names.size() && extracted < count;) {
        size_t end = names.find(';', begin);
        if (end == std::string::npos)
            end = names.size();
        std::string name = names.substr(begin, end - begin);
        begin = end + 1;
        if (name.empty())
            continue;

        char target[pathSize];
        formatBounded(target, pathSize, "%s\\%s", launcherTempDirectory, name.c_str());
        if (!staysInTempDirectory(name.c_str()) ||
            strlen(target) != strlen(launcherTempDirectory) + 1 + name.size()) {
            logError("included file name %s does not stay inside %s", name.c_str(), launcherTempDirectory);
            fatalMessage(1009, "11");
        }
        size_t backslash = name.find('\\');
        if (backslash != std::string::npos) {
            std::string directory = std::string(launcherTempDirectory) + "\\" + name.substr(0, backslash);
            logMessage("creating directory %s", directory.c_str());
            if (!CreateDirectoryA(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                logError("failed to create directory %s", directory.c_str());
        }
        int error = extractFile(executable, target);
        if (error != 0) {
            logError("Failed to extract %s", target);
            CloseHandle(executable);
            return error;
        }
        extracted++;
    }
    unextractedPosition = filePosition(executable);
    CloseHandle(executable);
    logMessage("extracting files done");
    return 0;
}

int extractFile(HANDLE executable, const char* target) {
    long long size = readLong(executable);
    logMessage("extracting %s (size: %I64d)", target, size);
    if (size <= 0)
        return 0;
    HANDLE file =
        CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        fatalMessage(1009, "11");
    int result = copyFileBytes(executable, file, size, true);
    // Closed on failure too: an open handle would keep the file from being removed on exit.
    CloseHandle(file);
    return result;
}

int copyFileBytes(HANDLE source, HANDLE target, long long count, bool xorBytes) {
    unsigned char chunk[copyChunkSize];
    long long copied = 0;
    while (copied < count) {
        DWORD wanted = count - copied <= copyChunkSize ? static_cast<DWORD>(count - copied) : copyChunkSize;
        DWORD got = 0;
        if (!ReadFile(source, chunk, wanted, &got, nullptr) || got == 0) {
            logError("ReadFile failed %d %d %I64d", static_cast<int>(got), static_cast<int>(GetLastError()),
                     copied);
            return 1;
        }
        if (xorBytes)
            for (DWORD i = 0; i < got; i++)
                chunk[i] ^= includedFileKey;
        for (DWORD offset = 0; offset < got;) {
            DWORD written = 0;
            if (!WriteFile(target, chunk + offset, got - offset, &written, nullptr) || written == 0) {
                logError("WriteFile failed %d %d", static_cast<int>(got - offset),
                         static_cast<int>(GetLastError()));
                return 2;
            }
            offset += written;
        }
        copied += got;
    }
    return 0;
}

void emptyDirectory(const char* directory, bool descend) {
    if (directory[0] == 0 || directory[0] == '.')
        return;
    logMessage("emptying %s", directory);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(joinPath(std::string(directory), "*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0)
            continue;
        std::string path = joinPath(std::string(directory), entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage("attempting to remove %s (%d)", path.c_str(), descend ? 1 : 0);
            if (descend)
                emptyDirectory(path.c_str(), false);
            RemoveDirectoryA(path.c_str());
        } else {
            logMessage("attempting to delete %s", path.c_str());
            // A read-only file would otherwise stay behind.
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

std::string composeNativeLibraryPath(const char* configuredDirectories, const char* currentPath) {
    char directories[pathSize];
    copyBounded(directories, configuredDirectories);
    expandVariablesNarrow(directories, pathSize);
    std::string value;
    for (char* entry = strtok(directories, ";"); entry != nullptr; entry = strtok(nullptr, ";")) {
        char resolved[pathSize];
        resolvePath(resolved, pathSize, entry);
        if (!value.empty())
            value += ';';
        value += resolved;
    }
    if (!value.empty() && value.back() != ';')
        value += ';';
    value += currentPath;
    if (value.size() >= pathVariableSize) {
        logError("PATH (native libs) cut from %d to %d bytes", static_cast<int>(value.size()),
                 static_cast<int>(pathVariableSize - 1));
        value.resize(pathVariableSize - 1);
    }
    return value;
}

void setNativeLibraryPath() {
    char directories[pathSize];
    getConfigString(10004, directories, pathSize);
    logMessage("native lib dir is %s", directories);
    std::string path;
    DWORD pathLength = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (pathLength > 0) {
        path.assign(pathLength, '\0');
        path.resize(GetEnvironmentVariableA("PATH", &path[0], pathLength));
    }
    std::string value = composeNativeLibraryPath(directories, path.c_str());
    if (SetEnvironmentVariableA("PATH", value.c_str()))
        logMessage("Setting PATH (native libs) %s", value.c_str());
    else
        logMessage("Setting PATH (native libs) %s failed with error %d", value.c_str(),
                   static_cast<int>(GetLastError()));
    _putenv(("PATH=" + value).c_str());
}
