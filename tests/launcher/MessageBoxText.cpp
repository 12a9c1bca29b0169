// Test tool: waits for a message box (a top-level dialog window) and prints its caption and text,
// one per line, so that tests can assert on what a user would read. Leaves the box open.
// Usage: MessageBoxText.exe SECONDS OUTPUT-FILE
// The result goes to a file: the first window a program opens under Wine may start the desktop
// process, which would inherit and hold open a pipe on standard output.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HWND found;

BOOL CALLBACK findDialog(HWND window, LPARAM) {
    wchar_t className[64];
    if (IsWindowVisible(window) && GetClassNameW(window, className, 64) && wcscmp(className, L"#32770") == 0) {
        found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collectStaticText(HWND child, LPARAM text) {
    wchar_t className[64];
    wchar_t buffer[8192];
    if (GetClassNameW(child, className, 64) && _wcsicmp(className, L"Static") == 0 &&
        GetWindowTextW(child, buffer, 8192) > 0)
        *reinterpret_cast<std::wstring*>(text) += buffer;
    return TRUE;
}

bool writeUtf8(const char* path, const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    FILE* out = fopen(path, "wb");
    if (out == nullptr) return false;
    fputs(utf8.c_str(), out);
    return fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: MessageBoxText SECONDS OUTPUT-FILE\n");
        return 2;
    }
    int seconds = atoi(argv[1]);
    for (int waited = 0; found == nullptr && waited < seconds * 10; waited++) {
        EnumWindows(findDialog, 0);
        if (found == nullptr) Sleep(100);
    }
    if (found == nullptr) {
        fprintf(stderr, "no message box appeared\n");
        return 1;
    }
    Sleep(200);  // let the dialog finish laying out its controls
    wchar_t caption[1024] = L"";
    GetWindowTextW(found, caption, 1024);
    std::wstring text;
    EnumChildWindows(found, collectStaticText, reinterpret_cast<LPARAM>(&text));
    return writeUtf8(argv[2], std::wstring(caption) + L"\n" + text + L"\n") ? 0 : 1;
}
