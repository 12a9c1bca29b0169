#include "Paths.h"

#include "Bounded.h"

#include <windows.h>

#include <string>

char launcherTempDirectory[6000];

const wchar_t* getExecutablePathWide() {
    static wchar_t path[6000];
    if (path[0] != 0) return path;
    wchar_t moduleName[6000];
    DWORD length = GetModuleFileNameW(nullptr, moduleName, 6000);
    if (length == 0 || length >= 6000) return path;
    DWORD longLength = GetLongPathNameW(moduleName, path, 6000);
    if (longLength == 0 || longLength >= 6000) copyBounded(path, moduleName);
    collapseBackslashes(path);
    return path;
}

bool isRelativePath(const wchar_t* path) {
    if (path[0] == L'"') path++;
    if (wcslen(path) < 3) return true;
    if (path[1] == L':' && path[2] == L'\\') return false;
    return !(path[0] == L'\\' && path[1] == L'\\');
}

void makeFullPath(wchar_t* buffer, size_t size, const wchar_t* path) {
    std::wstring combined = path;
    if (isRelativePath(path)) {
        std::wstring executable = getExecutablePathWide();
        combined = executable.substr(0, executable.find_last_of(L'\\') + 1) + combined;
    }
    DWORD length = GetFullPathNameW(combined.c_str(), static_cast<DWORD>(size), buffer, nullptr);
    if (length == 0 || length >= size) copyBounded(buffer, size, combined.c_str());
    collapseBackslashes(buffer);
}

void collapseBackslashes(wchar_t* path) {
    if (path[0] == 0) return;
    wchar_t* out = path + 1;
    for (const wchar_t* in = path + 1; *in != 0; in++) {
        if (*in == L'\\' && out[-1] == L'\\' && out - 1 != path) continue;
        *out++ = *in;
    }
    *out = 0;
}

namespace {

void deleteFilesOf(const std::string& directory, bool descend) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = directory + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!descend) continue;
            deleteFilesOf(path, false);
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

} // namespace

void emptyDirectory(const char* directory) { deleteFilesOf(directory, true); }
