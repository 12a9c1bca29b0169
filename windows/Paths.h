// The executable's own paths, the launcher temporary directory and directory clean-up.
#pragma once

#include <cstddef>

// The per-run directory for included files, without trailing backslash; empty while there is none.
extern char launcherTempDirectory[6000];

// The executable's long path name, with doubled backslashes collapsed.
const wchar_t* getExecutablePathWide();

// A path is absolute when, behind an optional leading double quote, it begins with "X:\\" or "\\\\".
bool isRelativePath(const wchar_t* path);
// The full path of `path`, a relative one taken against the executable directory.
void makeFullPath(wchar_t* buffer, size_t size, const wchar_t* path);

// Collapses every run of backslashes after the first character into one (a leading "\\" stays).
void collapseBackslashes(wchar_t* path);

// Deletes the files of `directory` and of its direct subdirectories, and those subdirectories.
void emptyDirectory(const char* directory);
