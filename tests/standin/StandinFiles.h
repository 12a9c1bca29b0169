// Files beside a stand-in binary: how tests steer it and where it reports what it saw.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// The directory of the module that contains this code (the .exe or the .dll), with a trailing backslash.
inline std::string moduleDirectory() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&moduleDirectory), &module);
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

inline bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The whole content of a file beside the module, or `fallback` when there is none.
inline std::string readBeside(const char* name, const std::string& fallback) {
    HANDLE file = CreateFileA((moduleDirectory() + name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fallback;
    std::string content;
    char buffer[4096];
    DWORD got;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return content;
}

inline void writeBeside(const char* name, const std::string& content, bool append) {
    HANDLE file = CreateFileA((moduleDirectory() + name).c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

// Counts one more run in "standin-runs.txt".
inline void countRun() {
    int runs = atoi(readBeside("standin-runs.txt", "0").c_str());
    writeBeside("standin-runs.txt", std::to_string(runs + 1), false);
}

} // namespace standin
