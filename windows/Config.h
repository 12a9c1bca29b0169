// The configuration payload carried behind the executable's last section, and its accessors.
// Values are looked up by identifier in a narrow and a wide table; a missing identifier reads as the
// empty string or 0.
#pragma once

#include <windows.h>

#include <cstddef>

// Loads the payload of the own executable; returns the application type (id 107). Ends the process
// on any failure.
int loadConfig();

HANDLE openOwnExecutable();
// Positions `file` directly behind the raw data of its last section.
void seekPayload(HANDLE file);
// Reads the magic, header words, narrow and wide tables from the current position.
void readConfigTables(HANDLE file);
// Reads the language blocks and applies those whose prefix begins `locale`.
void readLanguageBlocks(HANDLE file, const char* locale);
// Where the included files begin: the file offset behind the last language block.
extern long long unextractedPosition;

// Stream readers: each returns the value or ends the process with "Internal Error: <reader>".
short readShort(HANDLE file);
int readInt(HANDLE file);
long long readLong(HANDLE file);
char* readString(HANDLE file);
wchar_t* readWideString(HANDLE file);

void getConfigString(int id, char* buffer, size_t size);
void getConfigStringAsWide(int id, wchar_t* buffer, size_t size);
void getConfigWideString(int id, wchar_t* buffer, size_t size);
char* getConfigStringCopy(int id);
int getConfigInt(int id);
