// Test tool: plays a running launcher instance for the single-instance tests. Holds the named
// semaphores given, and with a pid record name also records its process id where the launcher
// looks for it and owns a visible, minimised top-level window. Until STOP-FILE exists (or a minute
// has passed) it rewrites REPORT-FILE with "pid <n> iconic <0|1> foreground <0|1>".
// Usage: InstanceHolder.exe REPORT-FILE STOP-FILE PID-VALUE-NAME|- SEMAPHORE-NAME...
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

const char pidKey[] = "SOFTWARE\\halvard-systems\\lanyx\\pids\\";

void recordPid(const char* valueName) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, pidKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD pid = GetCurrentProcessId();
    RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid), sizeof pid);
    RegCloseKey(key);
}

HWND createMinimisedWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "InstanceHolderWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("InstanceHolderWindow", "Instance holder", WS_OVERLAPPEDWINDOW, 10, 10, 300,
                                200, nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOWMINIMIZED);
    return window;
}

void report(const char* path, HWND window) {
    FILE* out = fopen(path, "w");
    if (out == nullptr)
        return;
    fprintf(out, "pid %lu iconic %d foreground %d\n", GetCurrentProcessId(),
            window != nullptr && IsIconic(window) ? 1 : 0,
            window != nullptr && GetForegroundWindow() == window ? 1 : 0);
    fclose(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: InstanceHolder REPORT-FILE STOP-FILE PID-VALUE-NAME|- SEMAPHORE-NAME...\n");
        return 2;
    }
    std::vector<HANDLE> semaphores;
    for (int i = 4; i < argc; i++)
        semaphores.push_back(CreateSemaphoreA(nullptr, 1, 1, argv[i]));
    HWND window = nullptr;
    if (argv[3][0] != '-' || argv[3][1] != 0) {
        recordPid(argv[3]);
        window = createMinimisedWindow();
    }
    for (int tick = 0; tick < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; tick++) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        report(argv[1], window);
        Sleep(100);
    }
    for (HANDLE semaphore : semaphores)
        CloseHandle(semaphore);
    return 0;
}
