#include "Log.h"

#include "Bounded.h"
#include "Config.h"
#include "Format.h"
#include "Paths.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

const size_t textSize = 6000;

CRITICAL_SECTION* logLock;
wchar_t logFileName[MAX_PATH + 32];
FILE* logStream;
bool logInitialised;
bool errorsToConsole;

bool isLoggingRequested() {
    for (const char* variable : {"LANYX_LOG", "QUORVEX_LOG"}) {
        const char* value = getenv(variable);
        if (value != nullptr && strcmp(value, "yes") == 0) return true;
    }
    return false;
}

bool isDirectory(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Claims a name "qvx_nlog_<n>" that no file has yet. Creating the file exclusively makes the claim
// safe against a second launcher starting at the same moment; starting at the process id keeps
// the search short.
bool claimNewLogFile(const wchar_t* directory) {
    DWORD number = GetCurrentProcessId();
    for (int attempt = 0; attempt < 10000; attempt++, number++) {
        formatBoundedWide(logFileName, sizeof logFileName / sizeof *logFileName, L"%s%sqvx_nlog_%lu", directory,
                          directory[wcslen(directory) - 1] == L'\\' ? L"" : L"\\", number);
        HANDLE file = CreateFileW(logFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

void createLogFile() {
    wchar_t directory[MAX_PATH] = L"c:\\";
    wchar_t tmp[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
    if (length > 0 && length < MAX_PATH && isDirectory(tmp)) copyBounded(directory, tmp);

    if (claimNewLogFile(directory)) logStream = _wfopen(logFileName, L"w");
    if (logStream == nullptr) {
        copyBounded(logFileName, L"c:\\qvx_nlog");
        logStream = _wfopen(logFileName, L"w");
    }
    if (logStream == nullptr) return;

    wchar_t modulePath[6000];
    DWORD pathLength = GetModuleFileNameW(nullptr, modulePath, 6000);
    modulePath[pathLength < 6000 ? pathLength : 5999] = 0;
    time_t now = time(nullptr);
    const char* startTime = asctime(localtime(&now));
    wchar_t line[6200];
    formatBoundedWide(line, sizeof line / sizeof *line, L"Started executable %s at %S\n", modulePath,
                      startTime != nullptr ? startTime : "");
    fputs(narrowFromWide(line).c_str(), logStream);
    fflush(logStream);
}

void writeLogLine(bool isError, const char* format, va_list arguments) {
    if (logLock == nullptr) {
        logLock = new CRITICAL_SECTION;
        InitializeCriticalSection(logLock);
    }
    EnterCriticalSection(logLock);
    if (logFileName[0] != 0 && logStream == nullptr) logStream = _wfopen(logFileName, L"a");
    if (!logInitialised) {
        logInitialised = true;
        if (isLoggingRequested()) createLogFile();
    }
    if (logStream != nullptr) {
        if (isError) fputs("ERROR: ", logStream);
        fputs(formatText(format, arguments).c_str(), logStream);
        fputs("\n", logStream);
        fclose(logStream);
        logStream = nullptr;
    }
    LeaveCriticalSection(logLock);
}

// The log's long path name, for the line under an error text.
std::wstring longLogFileName() {
    wchar_t longName[6000];
    DWORD length = GetLongPathNameW(logFileName, longName, 6000);
    if (length == 0 || length >= 6000) return logFileName;
    return longName;
}

} // namespace

namespace {
// Puts `argument` in place of the first "{0}" of `message`, within the fixed text size.
template <typename Char> void substitute(Char* message, size_t size, const Char* argument) {
    if (argument == nullptr) return;
    static const Char placeholder[] = {'{', '0', '}', 0};
    Char* at = nullptr;
    for (Char* p = message; *p != 0; p++) {
        if (p[0] == placeholder[0] && p[1] == placeholder[1] && p[2] == placeholder[2]) {
            at = p;
            break;
        }
    }
    if (at == nullptr) return;
    std::basic_string<Char> rest(at + 3);
    *at = 0;
    appendBounded(message, size, argument);
    appendBounded(message, size, rest.c_str());
}

} // namespace

void replaceFirstPlaceholder(char* message, size_t size, const char* argument) {
    substitute(message, size, argument);
}
void replaceFirstPlaceholder(wchar_t* message, size_t size, const wchar_t* argument) {
    substitute(message, size, argument);
}

void logMessage(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLogLine(false, format, arguments);
    va_end(arguments);
}

void logError(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLogLine(true, format, arguments);
    va_end(arguments);
}

const wchar_t* getLogFileName() { return logFileName[0] != 0 ? logFileName : nullptr; }

void setErrorDisplayConsole(bool console) { errorsToConsole = console; }

void showErrorText(const char* text) {
    char shown[textSize];
    if (getLogFileName() != nullptr)
        formatBounded(shown, textSize, "%s\n\nLog: %S", text, longLogFileName().c_str());
    else
        copyBounded(shown, text);
    if (errorsToConsole) {
        fprintf(stderr, "%s\n", shown);
        fflush(stderr);
        return;
    }
    char caption[textSize];
    getConfigString(1000, caption, textSize);
    MessageBoxA(nullptr, shown, caption, MB_OK | MB_ICONERROR);
}

void showErrorTextWide(const wchar_t* text) {
    wchar_t shown[textSize];
    if (getLogFileName() != nullptr)
        formatBoundedWide(shown, textSize, L"%s\n\nLog: %s", text, longLogFileName().c_str());
    else
        copyBounded(shown, text);
    if (errorsToConsole) {
        fputs(narrowFromWide(shown).c_str(), stderr);
        fputs("\n", stderr);
        fflush(stderr);
        return;
    }
    wchar_t caption[textSize];
    getConfigStringAsWide(1000, caption, textSize);
    MessageBoxW(nullptr, shown, caption, MB_OK | MB_ICONERROR);
}

void showErrorMessage(int id, const char* argument) {
    char message[textSize];
    getConfigString(id, message, textSize);
    replaceFirstPlaceholder(message, textSize, argument);
    showErrorText(message);
}

void showErrorMessageWide(int id, const wchar_t* argument) {
    wchar_t message[textSize];
    getConfigStringAsWide(id, message, textSize);
    replaceFirstPlaceholder(message, textSize, argument);
    showErrorTextWide(message);
}

void exitLauncher(int exitCode) {
    if (launcherTempDirectory[0] != 0) {
        emptyDirectory(launcherTempDirectory, true);
        RemoveDirectoryA(launcherTempDirectory);
    }
    ExitProcess(static_cast<UINT>(exitCode));
}

void fatalText(const char* text) {
    showErrorText(text);
    exitLauncher(1);
}

void fatalMessage(int id, const char* argument) {
    showErrorMessage(id, argument);
    exitLauncher(1);
}

void fatalMessageWide(int id, const wchar_t* argument) {
    showErrorMessageWide(id, argument);
    exitLauncher(1);
}
