#include "SingleInstance.h"

#include "Bounded.h"
#include "Config.h"
#include "Format.h"
#include "Log.h"
#include "Paths.h"

char semaphoreName[6000];

namespace {

const char pidKey[] = "SOFTWARE\\halvard-systems\\lanyx\\pids\\";

class RegistryKey {
  public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() {
        if (key != nullptr)
            RegCloseKey(key);
    }
    HKEY key = nullptr;
};

// The registry value's name: the lower-cased full path of the executable.
void pidValueName(char* buffer, size_t size) {
    makeFullPath(buffer, size, getExecutablePath(), false);
}

// Creates or opens the semaphore named semaphoreName; `code` tells ERROR_ALREADY_EXISTS apart.
HANDLE createSemaphore(DWORD* code) {
    SetLastError(0);
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, semaphoreName);
    *code = GetLastError();
    return semaphore;
}

void logSemaphore(HANDLE semaphore, DWORD code) {
    logMessage("semaphore name %s, code %d, value %p", semaphoreName, static_cast<int>(code), semaphore);
}

struct WindowSearch {
    DWORD processId;
    bool restore;
};

BOOL CALLBACK activateIfOwned(HWND window, LPARAM parameter) {
    const WindowSearch* search = reinterpret_cast<const WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    logMessage("found window %p", window);
    if (search->restore && IsIconic(window)) {
        logMessage("restore");
        ShowWindow(window, SW_RESTORE);
    }
    logMessage("foreground");
    SetForegroundWindow(window);
    logMessage("popup");
    SetForegroundWindow(GetLastActivePopup(window));
    logMessage("done");
    return TRUE;
}

} // namespace

void makeSemaphoreBaseName(char* buffer, size_t size, const char* executablePath, bool global) {
    char path[6000];
    makeFullPath(path, sizeof path, executablePath, false);
    for (char* c = path; *c != 0; c++)
        if (*c == '\\' || *c == ' ')
            *c = '_';
    copyBounded(buffer, size, global ? "Global\\" : "Local\\");
    appendBounded(buffer, size, path);
}

void checkSingleInstance() {
    char baseName[6000];
    makeSemaphoreBaseName(baseName, sizeof baseName, getExecutablePath(), getConfigInt(158) != 0);
    DWORD code = 0;
    if (getConfigInt(10005) == 0) {
        // Each instance takes the lowest free number; the handle stays open until the process ends.
        for (int number = 0;; number++) {
            formatBounded(semaphoreName, sizeof semaphoreName, "%s%d", baseName, number);
            HANDLE semaphore = createSemaphore(&code);
            if (code != ERROR_ALREADY_EXISTS || number >= 100000) {
                logSemaphore(semaphore, code);
                return;
            }
            CloseHandle(semaphore);
        }
    }

    logMessage("single instance mode");
    copyBounded(semaphoreName, baseName);
    HANDLE semaphore = createSemaphore(&code);
    logSemaphore(semaphore, code);
    if (code != ERROR_ALREADY_EXISTS) {
        writeRunningInstancePid();
        return;
    }
    CloseHandle(semaphore);
    // The first instance records its pid right after creating the semaphore; it may still be starting.
    DWORD otherPid = readRunningInstancePid();
    for (int attempt = 0; otherPid == 0 && attempt < 50; attempt++) {
        Sleep(100);
        otherPid = readRunningInstancePid();
    }
    logMessage("other pid %d", static_cast<int>(otherPid));
    if (otherPid != 0 && getConfigInt(10007) != 0)
        activateWindowsOfProcess(otherPid, true);
    logMessage("exiting");
    exitLauncher(0);
}

DWORD readRunningInstancePid() {
    RegistryKey pids;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, pidKey, 0, KEY_QUERY_VALUE, &pids.key) != ERROR_SUCCESS)
        return 0;
    char name[6000];
    pidValueName(name, sizeof name);
    DWORD pid = 0, type = 0, size = sizeof pid;
    if (RegQueryValueExA(pids.key, name, nullptr, &type, reinterpret_cast<BYTE*>(&pid), &size) !=
            ERROR_SUCCESS ||
        size != sizeof pid)
        return 0;
    return pid;
}

void writeRunningInstancePid() {
    RegistryKey pids;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, pidKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &pids.key,
                        nullptr) != ERROR_SUCCESS)
        return;
    char name[6000];
    pidValueName(name, sizeof name);
    DWORD pid = GetCurrentProcessId();
    RegSetValueExA(pids.key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid), sizeof pid);
}

void activateWindowsOfProcess(DWORD processId, bool restore) {
    WindowSearch search = {processId, restore};
    EnumWindows(activateIfOwned, reinterpret_cast<LPARAM>(&search));
}
