// The executable's own paths, path vocabulary in both encodings, the system and launcher temporary
// directories, the included files and the native library path.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// The per-run directory for included files, without trailing backslash; empty while there is none.
extern char launcherTempDirectory[6000];

// The executable's long path name, with doubled backslashes collapsed.
const wchar_t* getExecutablePathWide();
// A narrow form of the executable path that the ANSI file functions can open (the 8.3 name when the
// long one cannot be represented in their code page).
const char* getExecutablePath();
// The executable's directory, ending in a backslash: the ANSI-safe form, and in wide either that
// form widened character by character (ansiSafe) or the long form.
const char* getExecutableDirectory();
const wchar_t* getExecutableDirectoryWide(bool ansiSafe);

// A path is absolute when, behind an optional leading double quote, it begins with "X:\\" or "\\\\".
bool isRelativePath(const char* path);
bool isRelativePath(const wchar_t* path);

// A relative path taken against the directory of `baseFile`, or the executable directory.
void resolvePath(char* buffer, size_t size, const char* path, const char* baseFile = nullptr);
void resolvePath(wchar_t* buffer, size_t size, const wchar_t* path, bool ansiSafe,
                 const wchar_t* baseFile = nullptr);
// resolvePath, then the system's full-path normalisation, lower-casing unless keepCase, and
// collapsed backslashes.
void makeFullPath(char* buffer, size_t size, const char* path, bool keepCase);
void makeFullPath(wchar_t* buffer, size_t size, const wchar_t* path, bool keepCase, bool ansiSafe);

// Lower-cases A to Z only. The narrow form works on the text decoded with the file functions' code
// page, so that the trail bytes of double-byte characters are left alone.
void lowerCasePath(char* path);
void lowerCasePath(wchar_t* path);
// Collapses every run of backslashes into one, except that a leading "\\\\" stays.
void collapseBackslashes(char* path);
void collapseBackslashes(wchar_t* path);

// True for a drive root ("X:\\", even without a medium) or anything the directory search finds.
bool pathExists(const char* path, FILETIME* lastWriteTime = nullptr);
bool pathExists(const wchar_t* path);

// The system temporary directory, with fallbacks when the narrow file functions cannot name it.
// Ends the process with message 1015 when no candidate is writable.
void getTempDirectory(char* buffer, size_t size);
void getTempDirectoryWide(wchar_t* buffer, size_t size);
bool isWritableDirectory(const char* directory);
bool isWritableDirectory(const wchar_t* directory);
// A new, unique file in the system temporary directory (the file is created and left in place).
void getTempFileName(char* buffer, size_t size);
// Creates the launcher temporary directory or ends the process with message 1009 and "7".
void createLauncherTempDirectory();

// Extracts the included files behind the payload into the launcher temporary directory. Returns 0,
// or 1 for a read failure and 2 for a write failure.
int extractIncludedFiles(bool createDirectory);
int extractFile(HANDLE executable, const char* target);
// Copies `count` bytes from the current position of `source`, each XOR 0x88 when asked.
int copyFileBytes(HANDLE source, HANDLE target, long long count, bool xorBytes);

// Deletes the files of `directory`, and with `descend` also those of its direct subdirectories and
// the subdirectories themselves. Paths beginning with "." are never touched.
void emptyDirectory(const char* directory, bool descend);

// Puts the configured native library directories in front of PATH.
void setNativeLibraryPath();
// The new PATH: the directories (";"-separated, with variables, relative to the executable
// directory) in front of `currentPath`, cut at 48000 bytes.
std::string composeNativeLibraryPath(const char* configuredDirectories, const char* currentPath);
